#include "MsfFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <new>

#include "Bytes.h"
#include "llvm/DebugInfo/MSF/MSFCommon.h"

namespace sorvanta {

namespace {

constexpr std::uint32_t kDeletedStreamSize = UINT32_MAX;

std::uint64_t BlocksFor(std::uint64_t bytes, std::uint32_t blockSize) {
  return (bytes + blockSize - 1) / blockSize;
}

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
      const int error = errno;
      return (error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG) ? E_PDB_NOT_FOUND
                                                                           : HResultFromErrno(error);
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return HResultFromErrno(errno);
    if (!S_ISREG(info.st_mode)) return E_INVALIDARG;
    fileSize_ = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));

    // A file that does not start with the container's magic is no PDB; one
    // that does, but ends before its header does, is a damaged one.
    using llvm::msf::SuperBlock;
    std::uint8_t super[sizeof(SuperBlock)] = {};
    const auto start = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize_, sizeof super));
    if (const HRESULT hr = ReadAt(0, start, super); Failed(hr)) return hr;
    const std::size_t magic = std::min(start, sizeof(llvm::msf::Magic));
    if (start == 0 || std::memcmp(super, llvm::msf::Magic, magic) != 0) return E_PDB_FORMAT;
    if (start < sizeof super) return E_PDB_CORRUPT;

    blockSize_ = Read32(super + offsetof(SuperBlock, BlockSize));
    const std::uint32_t fpmBlock = Read32(super + offsetof(SuperBlock, FreeBlockMapBlock));
    const std::uint32_t numBlocks = Read32(super + offsetof(SuperBlock, NumBlocks));
    const std::uint32_t directoryBytes = Read32(super + offsetof(SuperBlock, NumDirectoryBytes));
    const std::uint32_t blockMapAddr = Read32(super + offsetof(SuperBlock, BlockMapAddr));

    if (!llvm::msf::isValidBlockSize(blockSize_)) return E_PDB_CORRUPT;
    while ((std::uint32_t{1} << blockShift_) < blockSize_) ++blockShift_;
    if (fileSize_ % blockSize_ != 0) return E_PDB_CORRUPT;
    if (fpmBlock != 1 && fpmBlock != 2) return E_PDB_CORRUPT;
    // Every block the file names must exist in the file.
    if (numBlocks == 0 || static_cast<std::uint64_t>(numBlocks) * blockSize_ > fileSize_) {
      return E_PDB_CORRUPT;
    }
    if (blockMapAddr == 0 || blockMapAddr >= numBlocks) return E_PDB_CORRUPT;
    numBlocks_ = numBlocks;
    return ReadDirectory(directoryBytes, blockMapAddr);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

bool MsfFile::Own(std::vector<std::uint32_t> blocks) {
  std::sort(blocks.begin(), blocks.end());
  if (std::adjacent_find(blocks.begin(), blocks.end()) != blocks.end()) return false;
  std::vector<std::uint32_t> merged;
  merged.reserve(owned_.size() + blocks.size());
  std::merge(owned_.begin(), owned_.end(), blocks.begin(), blocks.end(), std::back_inserter(merged));
  if (std::adjacent_find(merged.begin(), merged.end()) != merged.end()) return false;
  owned_ = std::move(merged);
  return true;
}

HRESULT MsfFile::ReadDirectory(std::uint32_t directoryBytes, std::uint32_t blockMapAddr) {
  // The block map: one block listing the directory's blocks.
  const std::uint64_t blockCount = BlocksFor(directoryBytes, blockSize_);
  if (directoryBytes < sizeof(std::uint32_t)) return E_PDB_CORRUPT;
  if (blockCount * sizeof(std::uint32_t) > blockSize_) return E_PDB_CORRUPT;
  std::vector<std::uint8_t> blockMap(blockCount * sizeof(std::uint32_t));
  if (const HRESULT hr = ReadAt(static_cast<std::uint64_t>(blockMapAddr) << blockShift_,
                                blockMap.size(), blockMap.data());
      Failed(hr)) {
    return hr;
  }
  directoryBlocks_.resize(blockCount);
  for (std::uint64_t i = 0; i < blockCount; ++i) {
    const std::uint32_t block = Read32(blockMap.data() + i * sizeof(std::uint32_t));
    if (block == 0 || block >= numBlocks_) return E_PDB_CORRUPT;
    directoryBlocks_[i] = block;
  }
  std::vector<std::uint32_t> owned = directoryBlocks_;
  owned.push_back(blockMapAddr);
  if (!Own(std::move(owned))) return E_PDB_CORRUPT;

  // The directory: the stream count, the stream sizes, then each stream's
  // blocks. Only the sizes are read here; a stream's blocks when it is
  // claimed.
  std::uint8_t countBytes[4];
  if (const HRESULT hr = ReadBlocks(directoryBlocks_.data(), 0, 4, countBytes); Failed(hr)) return hr;
  const std::uint32_t numStreams = Read32(countBytes);
  std::uint64_t cursor = sizeof(std::uint32_t);
  if (numStreams > (directoryBytes - cursor) / sizeof(std::uint32_t)) return E_PDB_CORRUPT;
  sizes_.resize(numStreams);
  firstBlock_.assign(numStreams, kUnclaimed);
  auto* const sizeBytes = reinterpret_cast<std::uint8_t*>(sizes_.data());
  if (const HRESULT hr = ReadBlocks(directoryBlocks_.data(), cursor,
                                    sizes_.size() * sizeof(std::uint32_t), sizeBytes);
      Failed(hr)) {
    return hr;
  }
  cursor += sizes_.size() * sizeof(std::uint32_t);
  for (std::uint32_t s = 0; s < numStreams; ++s) {
    std::uint32_t streamSize = Read32(sizeBytes + s * sizeof(std::uint32_t));
    // A size of ~0 marks a deleted stream, which owns no blocks.
    if (streamSize == kDeletedStreamSize) streamSize = 0;
    sizes_[s] = streamSize;
    cursor += BlocksFor(streamSize, blockSize_) * sizeof(std::uint32_t);
  }
  // Writers pad the directory at most; they never leave it short.
  return cursor <= directoryBytes ? S_OK : E_PDB_CORRUPT;
}

HRESULT MsfFile::Claim(const std::vector<std::uint32_t>& streams) {
  try {
    std::vector<std::uint32_t> wanted;
    for (std::uint32_t s : streams) {
      if (s < sizes_.size() && !claimed(s)) wanted.push_back(s);
    }
    // In directory order, so that neighbouring block lists are read at once.
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    if (wanted.empty()) return S_OK;

    // Where each wanted stream's block list lies in the directory: after
    // the count, the sizes and the lists of every stream before it.
    std::vector<std::uint64_t> listOffset(wanted.size());
    std::uint64_t offset = sizeof(std::uint32_t) + sizes_.size() * sizeof(std::uint32_t);
    for (std::uint32_t s = 0, w = 0; w < wanted.size(); ++s) {
      if (s == wanted[w]) listOffset[w++] = offset;
      offset += BlocksFor(sizes_[s], blockSize_) * sizeof(std::uint32_t);
    }

    // The lists are gathered apart and kept only when all of them are
    // sound, so a refused claim leaves the file as it was.
    constexpr std::uint64_t kGap = 64u << 10;  // read over gaps this small
    std::vector<std::uint32_t> blocks;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> firsts;  // stream, its first in blocks
    std::vector<std::uint8_t> lists;
    for (std::size_t first = 0; first < wanted.size();) {
      auto listEnd = [&](std::size_t w) {
        return listOffset[w] + BlocksFor(sizes_[wanted[w]], blockSize_) * sizeof(std::uint32_t);
      };
      const std::uint64_t start = listOffset[first];
      std::uint64_t end = listEnd(first);
      std::size_t last = first + 1;
      while (last < wanted.size() && listOffset[last] <= end + kGap) end = listEnd(last++);
      // The lists lie inside the directory, whose blocks are distinct blocks
      // of the file: their size is bounded by the file's.
      lists.resize(end - start);
      if (const HRESULT hr = ReadBlocks(directoryBlocks_.data(), start, lists.size(), lists.data());
          Failed(hr)) {
        return hr;
      }
      for (std::size_t i = first; i < last; ++i) {
        const std::uint32_t s = wanted[i];
        const std::uint8_t* list = lists.data() + (listOffset[i] - start);
        const std::uint64_t count = BlocksFor(sizes_[s], blockSize_);
        firsts.emplace_back(s, static_cast<std::uint32_t>(blocks_.size() + blocks.size()));
        for (std::uint64_t b = 0; b < count; ++b) {
          const std::uint32_t block = Read32(list + b * sizeof(std::uint32_t));
          if (block >= numBlocks_) return E_PDB_CORRUPT;
          blocks.push_back(block);
        }
      }
      first = last;
    }
    // A block repeated within a stream, or shared by two streams (or with
    // the directory) is damage: reading it would let the streams claim
    // more bytes than the file holds.
    blocks_.reserve(blocks_.size() + blocks.size());
    if (!Own(blocks)) return E_PDB_CORRUPT;
    // Nothing below allocates: the claim is kept whole.
    blocks_.insert(blocks_.end(), blocks.begin(), blocks.end());
    for (const auto& [stream, at] : firsts) firstBlock_[stream] = at;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

std::uint32_t MsfFile::StreamSize(std::uint32_t stream) const {
  return stream < sizes_.size() ? sizes_[stream] : 0;
}

HRESULT MsfFile::Read(std::uint32_t stream, std::uint64_t offset, std::uint64_t size,
                      std::uint8_t* out) const {
  if (!claimed(stream) || offset > sizes_[stream] || size > sizes_[stream] - offset) {
    return E_INVALIDARG;
  }
  return ReadBlocks(blocks_.data() + firstBlock_[stream], offset, size, out);
}

// blocks lists the blocks of a stream (or of the directory) that holds
// [offset, offset + size).
HRESULT MsfFile::ReadBlocks(const std::uint32_t* blocks, std::uint64_t offset, std::uint64_t size,
                            std::uint8_t* out) const {
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
      return HResultFromErrno(errno);
    }
    if (got == 0) return E_FILE_CHANGED;  // the file shrank since it was opened
    out += got;
    position += static_cast<std::uint64_t>(got);
    size -= static_cast<std::uint64_t>(got);
  }
  return S_OK;
}

}  // namespace sorvanta
