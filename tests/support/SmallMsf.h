#pragma once

// Writes small MSF containers by hand, block by block, so a test can give a
// stream any block list (also a damaged one) or make its bytes a hole in a
// sparse file.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "PdbBytes.h"
#include "llvm/DebugInfo/MSF/MSFCommon.h"

namespace sorvanta::testing {

struct SmallStream {
  std::vector<std::uint8_t> bytes;   // written at the stream's start
  std::uint32_t size = 0;            // the declared size; at least bytes.size()
  std::vector<std::uint32_t> blocks; // empty: fresh blocks in order
};

inline void PutU16(std::vector<std::uint8_t>* out, std::size_t at, std::uint16_t v) {
  if (out->size() < at + 2) out->resize(at + 2);
  std::memcpy(out->data() + at, &v, 2);
}
inline void PutU32(std::vector<std::uint8_t>* out, std::size_t at, std::uint32_t v) {
  if (out->size() < at + 4) out->resize(at + 4);
  std::memcpy(out->data() + at, &v, 4);
}

// Writes the container to path; false when the file cannot be written.
// Blocks 1 and 2 are the free-block maps; the directory and its block map
// come after every stream block. With declaredBlocks, the superblock
// declares that many blocks and the file is that long (a hole past what is
// written); streams may then name any block below it, and the directory
// comes after the fresh blocks.
inline bool WriteSmallMsf(const std::string& path, std::uint32_t blockSize,
                          std::vector<SmallStream> streams, std::uint32_t declaredBlocks = 0) {
  std::uint32_t next = 3;
  for (SmallStream& s : streams) {
    if (s.size < s.bytes.size()) s.size = static_cast<std::uint32_t>(s.bytes.size());
    if (s.blocks.empty()) {
      const std::uint64_t n = (static_cast<std::uint64_t>(s.size) + blockSize - 1) / blockSize;
      for (std::uint64_t b = 0; b < n; ++b) s.blocks.push_back(next++);
    }
    if (declaredBlocks == 0) {
      for (std::uint32_t b : s.blocks) next = std::max(next, b + 1);
    }
  }
  std::vector<std::uint8_t> directory;
  PutU32(&directory, 0, static_cast<std::uint32_t>(streams.size()));
  for (const SmallStream& s : streams) PutU32(&directory, directory.size(), s.size);
  for (const SmallStream& s : streams) {
    for (std::uint32_t b : s.blocks) PutU32(&directory, directory.size(), b);
  }
  const std::uint32_t directoryBlocks =
      static_cast<std::uint32_t>((directory.size() + blockSize - 1) / blockSize);
  std::vector<std::uint8_t> blockMap;
  for (std::uint32_t i = 0; i < directoryBlocks; ++i) PutU32(&blockMap, blockMap.size(), next + i);
  const std::uint32_t blockMapAddr = next + directoryBlocks;
  const std::uint32_t numBlocks = declaredBlocks != 0 ? declaredBlocks : blockMapAddr + 1;

  std::vector<std::uint8_t> super(sizeof(llvm::msf::SuperBlock), 0);
  std::memcpy(super.data(), llvm::msf::Magic, sizeof(llvm::msf::Magic));
  using SB = llvm::msf::SuperBlock;
  PutU32(&super, offsetof(SB, BlockSize), blockSize);
  PutU32(&super, offsetof(SB, FreeBlockMapBlock), 1);
  PutU32(&super, offsetof(SB, NumBlocks), numBlocks);
  PutU32(&super, offsetof(SB, NumDirectoryBytes), static_cast<std::uint32_t>(directory.size()));
  PutU32(&super, offsetof(SB, BlockMapAddr), blockMapAddr);

  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, static_cast<off_t>(static_cast<std::uint64_t>(numBlocks) * blockSize)) == 0;
  auto put = [&](std::uint64_t at, const std::uint8_t* p, std::size_t n) {
    ok = ok && ::pwrite(fd, p, n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
  };
  put(0, super.data(), super.size());
  for (const SmallStream& s : streams) {
    for (std::size_t i = 0; i < s.blocks.size() && i * blockSize < s.bytes.size(); ++i) {
      const std::size_t n = std::min<std::size_t>(blockSize, s.bytes.size() - i * blockSize);
      put(static_cast<std::uint64_t>(s.blocks[i]) * blockSize, s.bytes.data() + i * blockSize, n);
    }
  }
  put(static_cast<std::uint64_t>(next) * blockSize, directory.data(), directory.size());
  put(static_cast<std::uint64_t>(blockMapAddr) * blockSize, blockMap.data(), blockMap.size());
  return ::close(fd) == 0 && ok;
}

// The streams of a minimal PDB: an info stream, and a DBI stream with one
// module whose symbol stream (stream 4) holds symbolBytes bytes, of which
// only records are written; the rest is a hole.
inline std::vector<SmallStream> MinimalPdbStreams(std::uint32_t symbolBytes,
                                                  const std::vector<std::uint8_t>& records) {
  std::vector<SmallStream> streams(5);
  streams[1].bytes = InfoStreamBytes();
  DbiModule module;
  module.stream = 4;
  module.symbolBytes = symbolBytes;
  streams[3].bytes = DbiStreamBytes({module});
  streams[4].bytes = records;
  streams[4].size = symbolBytes;
  return streams;
}

}  // namespace sorvanta::testing
