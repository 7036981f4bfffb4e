#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HResult.h"

namespace sorvanta {

// An MSF (PDB) container opened for reading its streams with pread. The
// file is never mapped: a mapping would turn a later truncation of the
// file into SIGBUS. Open reads the superblock, the block map and the
// stream directory and checks them against the real file:
//   - every block index is below the declared block count, and the
//     declared blocks fit in the file (all arithmetic in 64 bits);
//   - no block belongs twice to the directory or to the streams, so the
//     streams together never hold more bytes than the file.
// Paths that are not regular files (directories, FIFOs, devices) are
// refused without reading; opening never blocks.
//
// Read may be called from several threads at once. The descriptor is
// closed when the object goes.
class MsfFile {
 public:
  // S_OK; E_PDB_NOT_FOUND for a missing path; E_INVALIDARG for a path that
  // is not a regular file; E_PDB_FORMAT for a damaged or foreign container;
  // E_OUTOFMEMORY; E_FAIL for read errors.
  HRESULT Open(const std::string& path);

  MsfFile() = default;
  ~MsfFile();
  MsfFile(const MsfFile&) = delete;
  MsfFile& operator=(const MsfFile&) = delete;

  std::uint64_t fileSize() const { return fileSize_; }
  std::uint32_t blockSize() const { return blockSize_; }
  std::uint32_t streamCount() const { return static_cast<std::uint32_t>(sizes_.size()); }
  // The stream's size in bytes; 0 for a deleted or missing stream.
  std::uint32_t StreamSize(std::uint32_t stream) const;

  // Copies bytes [offset, offset + size) of stream into out, reading runs
  // of consecutive blocks with one pread each. E_INVALIDARG when the range
  // runs past the stream's end; E_FAIL when the file cannot be read (it
  // shrank since Open, or an I/O error).
  HRESULT Read(std::uint32_t stream, std::uint64_t offset, std::uint64_t size,
               std::uint8_t* out) const;

 private:
  HRESULT ReadAt(std::uint64_t position, std::uint64_t size, std::uint8_t* out) const;
  HRESULT ReadDirectory(std::uint32_t numBlocks, std::uint32_t directoryBytes,
                        std::uint32_t blockMapAddr);

  int fd_ = -1;
  std::uint64_t fileSize_ = 0;
  std::uint32_t blockSize_ = 0;
  unsigned blockShift_ = 0;
  std::vector<std::uint32_t> sizes_;       // per stream; 0 for deleted
  std::vector<std::uint32_t> firstBlock_;  // per stream + 1: its blocks are blocks_[first[s], first[s+1])
  std::vector<std::uint32_t> blocks_;
};

}  // namespace sorvanta
