#include "MsfCheck.h"

#include <cstring>
#include <vector>

#include "llvm/DebugInfo/MSF/MSFCommon.h"
#include "llvm/Support/Endian.h"

namespace sorvanta {

namespace {

std::uint32_t ReadU32(const std::uint8_t* p) {
  return llvm::support::endian::read32le(p);
}

std::uint64_t BlocksFor(std::uint64_t bytes, std::uint32_t blockSize) {
  return (bytes + blockSize - 1) / blockSize;
}

}  // namespace

bool CheckMsfLayout(const std::uint8_t* data, std::size_t size) {
  using llvm::msf::SuperBlock;
  if (size < sizeof(SuperBlock)) return false;
  if (std::memcmp(data, llvm::msf::Magic, sizeof(llvm::msf::Magic)) != 0) return false;

  const std::uint32_t blockSize = ReadU32(data + offsetof(SuperBlock, BlockSize));
  const std::uint32_t fpmBlock = ReadU32(data + offsetof(SuperBlock, FreeBlockMapBlock));
  const std::uint32_t numBlocks = ReadU32(data + offsetof(SuperBlock, NumBlocks));
  const std::uint32_t directoryBytes = ReadU32(data + offsetof(SuperBlock, NumDirectoryBytes));
  const std::uint32_t blockMapAddr = ReadU32(data + offsetof(SuperBlock, BlockMapAddr));

  if (!llvm::msf::isValidBlockSize(blockSize)) return false;
  if (size % blockSize != 0) return false;
  if (fpmBlock != 1 && fpmBlock != 2) return false;
  // Every block the file names must exist in the bytes we hold.
  if (numBlocks == 0 || static_cast<std::uint64_t>(numBlocks) * blockSize > size) return false;
  if (blockMapAddr == 0 || blockMapAddr >= numBlocks) return false;

  // The block map: one block listing the directory's blocks.
  const std::uint64_t directoryBlocks = BlocksFor(directoryBytes, blockSize);
  if (directoryBytes < sizeof(std::uint32_t)) return false;
  if (directoryBlocks * sizeof(std::uint32_t) > blockSize) return false;
  const std::uint8_t* blockMap = data + static_cast<std::uint64_t>(blockMapAddr) * blockSize;

  // Gather the directory into one piece; it is small (at most a block of
  // block numbers' worth of blocks).
  std::vector<std::uint8_t> directory;
  directory.reserve(directoryBlocks * blockSize);
  for (std::uint64_t i = 0; i < directoryBlocks; ++i) {
    const std::uint32_t block = ReadU32(blockMap + i * sizeof(std::uint32_t));
    if (block == 0 || block >= numBlocks) return false;
    const std::uint8_t* p = data + static_cast<std::uint64_t>(block) * blockSize;
    directory.insert(directory.end(), p, p + blockSize);
  }
  directory.resize(directoryBytes);

  // Directory: stream count, the stream sizes, then each stream's blocks.
  const std::uint32_t numStreams = ReadU32(directory.data());
  std::uint64_t cursor = sizeof(std::uint32_t);
  if (numStreams > (directoryBytes - cursor) / sizeof(std::uint32_t)) return false;
  const std::uint8_t* sizes = directory.data() + cursor;
  cursor += static_cast<std::uint64_t>(numStreams) * sizeof(std::uint32_t);

  for (std::uint32_t s = 0; s < numStreams; ++s) {
    const std::uint32_t streamSize = ReadU32(sizes + s * sizeof(std::uint32_t));
    // A size of ~0 marks a deleted stream, which owns no blocks.
    const std::uint64_t blocks =
        streamSize == UINT32_MAX ? 0 : BlocksFor(streamSize, blockSize);
    if (blocks > (directoryBytes - cursor) / sizeof(std::uint32_t)) return false;
    for (std::uint64_t b = 0; b < blocks; ++b) {
      const std::uint32_t block = ReadU32(directory.data() + cursor);
      cursor += sizeof(std::uint32_t);
      if (block >= numBlocks) return false;
    }
  }
  // Writers pad the directory at most; they never leave it short.
  return cursor <= directoryBytes;
}

}  // namespace sorvanta
