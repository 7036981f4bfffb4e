#include "MsfFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "llvm/DebugInfo/MSF/MSFCommon.h"
#include "llvm/Support/Endian.h"

namespace sorvanta {

namespace {

using llvm::support::endian::read32le;

constexpr std::uint32_t kDeletedStreamSize = UINT32_MAX;

std::uint64_t BlocksFor(std::uint64_t bytes, std::uint32_t blockSize) {
  return (bytes + blockSize - 1) / blockSize;
}

// One bit per block: a block named a second time is damage.
class BlockOwners {
 public:
  explicit BlockOwners(std::uint32_t numBlocks) : words_((numBlocks + 63) / 64, 0) {}
  // False when the block was already taken.
  bool Take(std::uint32_t block) {
    std::uint64_t& word = words_[block >> 6];
    const std::uint64_t bit = std::uint64_t{1} << (block & 63);
    if (word & bit) return false;
    word |= bit;
    return true;
  }

 private:
  std::vector<std::uint64_t> words_;
};

}  // namespace

MsfFile::~MsfFile() {
  if (fd_ >= 0) ::close(fd_);
}

HRESULT MsfFile::Open(const std::string& path) {
  if (fd_ >= 0) return E_UNEXPECTED;
  if (path.empty() || path.find('\0') != std::string::npos) return E_PDB_NOT_FOUND;
  try {
    // O_NONBLOCK keeps open() from waiting for a writer on a FIFO; the file
    // type is checked before anything is read.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) {
      return (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) ? E_PDB_NOT_FOUND
                                                                           : E_FAIL;
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return E_FAIL;
    if (!S_ISREG(info.st_mode)) return E_INVALIDARG;
    if (info.st_size < 0) return E_FAIL;
    fileSize_ = static_cast<std::uint64_t>(info.st_size);

    using llvm::msf::SuperBlock;
    std::uint8_t super[sizeof(SuperBlock)];
    if (fileSize_ < sizeof super) return E_PDB_FORMAT;
    if (const HRESULT hr = ReadAt(0, sizeof super, super); Failed(hr)) return hr;
    if (std::memcmp(super, llvm::msf::Magic, sizeof(llvm::msf::Magic)) != 0) return E_PDB_FORMAT;

    blockSize_ = read32le(super + offsetof(SuperBlock, BlockSize));
    const std::uint32_t fpmBlock = read32le(super + offsetof(SuperBlock, FreeBlockMapBlock));
    const std::uint32_t numBlocks = read32le(super + offsetof(SuperBlock, NumBlocks));
    const std::uint32_t directoryBytes = read32le(super + offsetof(SuperBlock, NumDirectoryBytes));
    const std::uint32_t blockMapAddr = read32le(super + offsetof(SuperBlock, BlockMapAddr));

    if (!llvm::msf::isValidBlockSize(blockSize_)) return E_PDB_FORMAT;
    while ((std::uint32_t{1} << blockShift_) < blockSize_) ++blockShift_;
    if (fileSize_ % blockSize_ != 0) return E_PDB_FORMAT;
    if (fpmBlock != 1 && fpmBlock != 2) return E_PDB_FORMAT;
    // Every block the file names must exist in the file.
    if (numBlocks == 0 || static_cast<std::uint64_t>(numBlocks) * blockSize_ > fileSize_) {
      return E_PDB_FORMAT;
    }
    if (blockMapAddr == 0 || blockMapAddr >= numBlocks) return E_PDB_FORMAT;
    return ReadDirectory(numBlocks, directoryBytes, blockMapAddr);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT MsfFile::ReadDirectory(std::uint32_t numBlocks, std::uint32_t directoryBytes,
                               std::uint32_t blockMapAddr) {
  BlockOwners owners(numBlocks);
  owners.Take(blockMapAddr);

  // The block map: one block listing the directory's blocks.
  const std::uint64_t directoryBlocks = BlocksFor(directoryBytes, blockSize_);
  if (directoryBytes < sizeof(std::uint32_t)) return E_PDB_FORMAT;
  if (directoryBlocks * sizeof(std::uint32_t) > blockSize_) return E_PDB_FORMAT;
  std::vector<std::uint8_t> blockMap(directoryBlocks * sizeof(std::uint32_t));
  if (const HRESULT hr = ReadAt(static_cast<std::uint64_t>(blockMapAddr) << blockShift_,
                                blockMap.size(), blockMap.data());
      Failed(hr)) {
    return hr;
  }

  // The directory's blocks are distinct blocks of the file, so its size is
  // bounded by the file's.
  std::vector<std::uint8_t> directory(directoryBlocks << blockShift_);
  for (std::uint64_t i = 0; i < directoryBlocks; ++i) {
    const std::uint32_t block = read32le(blockMap.data() + i * sizeof(std::uint32_t));
    if (block == 0 || block >= numBlocks || !owners.Take(block)) return E_PDB_FORMAT;
    if (const HRESULT hr = ReadAt(static_cast<std::uint64_t>(block) << blockShift_, blockSize_,
                                  directory.data() + (i << blockShift_));
        Failed(hr)) {
      return hr;
    }
  }

  // Directory: stream count, the stream sizes, then each stream's blocks.
  const std::uint8_t* const d = directory.data();
  const std::uint32_t numStreams = read32le(d);
  std::uint64_t cursor = sizeof(std::uint32_t);
  if (numStreams > (directoryBytes - cursor) / sizeof(std::uint32_t)) return E_PDB_FORMAT;
  const std::uint8_t* const sizes = d + cursor;
  cursor += static_cast<std::uint64_t>(numStreams) * sizeof(std::uint32_t);

  sizes_.resize(numStreams);
  firstBlock_.resize(numStreams + 1u);
  for (std::uint32_t s = 0; s < numStreams; ++s) {
    std::uint32_t streamSize = read32le(sizes + s * sizeof(std::uint32_t));
    // A size of ~0 marks a deleted stream, which owns no blocks.
    if (streamSize == kDeletedStreamSize) streamSize = 0;
    const std::uint64_t blocks = BlocksFor(streamSize, blockSize_);
    if (blocks > (directoryBytes - cursor) / sizeof(std::uint32_t)) return E_PDB_FORMAT;
    sizes_[s] = streamSize;
    firstBlock_[s] = static_cast<std::uint32_t>(blocks_.size());
    for (std::uint64_t b = 0; b < blocks; ++b) {
      const std::uint32_t block = read32le(d + cursor);
      cursor += sizeof(std::uint32_t);
      // A block outside the file, repeated within a stream, or shared by two
      // streams (or with the directory) is damage: reading it would let the
      // streams claim more bytes than the file holds.
      if (block >= numBlocks || !owners.Take(block)) return E_PDB_FORMAT;
      blocks_.push_back(block);
    }
  }
  firstBlock_[numStreams] = static_cast<std::uint32_t>(blocks_.size());
  blocks_.shrink_to_fit();
  // Writers pad the directory at most; they never leave it short.
  return cursor <= directoryBytes ? S_OK : E_PDB_FORMAT;
}

std::uint32_t MsfFile::StreamSize(std::uint32_t stream) const {
  return stream < sizes_.size() ? sizes_[stream] : 0;
}

HRESULT MsfFile::Read(std::uint32_t stream, std::uint64_t offset, std::uint64_t size,
                      std::uint8_t* out) const {
  if (stream >= sizes_.size() || offset > sizes_[stream] || size > sizes_[stream] - offset) {
    return E_INVALIDARG;
  }
  const std::uint32_t* const blocks = blocks_.data() + firstBlock_[stream];
  const std::uint64_t mask = blockSize_ - 1u;
  while (size > 0) {
    std::uint64_t index = offset >> blockShift_;
    const std::uint64_t position = (static_cast<std::uint64_t>(blocks[index]) << blockShift_) +
                                   (offset & mask);
    // Extend the run over physically consecutive blocks as far as needed.
    std::uint64_t run = std::min<std::uint64_t>(size, blockSize_ - (offset & mask));
    while (run < size && blocks[index + 1] == blocks[index] + 1u) {
      ++index;
      run = std::min<std::uint64_t>(size, run + blockSize_);
    }
    if (const HRESULT hr = ReadAt(position, run, out); Failed(hr)) return hr;
    out += run;
    offset += run;
    size -= run;
  }
  return S_OK;
}

HRESULT MsfFile::ReadAt(std::uint64_t position, std::uint64_t size, std::uint8_t* out) const {
  // One pread moves at most about 2 GiB.
  constexpr std::uint64_t kMaxChunk = std::uint64_t{1} << 30;
  while (size > 0) {
    const ssize_t got = ::pread(fd_, out, static_cast<std::size_t>(std::min(size, kMaxChunk)),
                                static_cast<off_t>(position));
    if (got < 0) {
      if (errno == EINTR) continue;
      return E_FAIL;
    }
    if (got == 0) return E_FAIL;  // the file shrank since it was opened
    out += got;
    position += static_cast<std::uint64_t>(got);
    size -= static_cast<std::uint64_t>(got);
  }
  return S_OK;
}

}  // namespace sorvanta
