#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HResult.h"

namespace sorvanta {

// An MSF (PDB) container opened for reading some of its streams with
// pread. The file is never mapped: a mapping would turn a later truncation
// of the file into SIGBUS. Open reads and checks the superblock, the block
// map, the directory's blocks and the stream sizes; a stream's block list
// is read and checked when the stream is claimed, so a file whose bulk is
// streams nobody reads costs only what its claimed streams cost. Checks,
// all in 64-bit arithmetic, against the real file:
//   - the declared blocks fit in the file; every block index used is
//     below the declared count;
//   - the directory's blocks are distinct, and no block of a claimed
//     stream is named twice, by that stream, another claimed stream or
//     the directory: the claimed streams never hold more bytes than the
//     file. This check costs memory in proportion to the blocks claimed,
//     not to the count the file declares.
// Paths that are not regular files (directories, FIFOs, devices) are
// refused without reading; opening never blocks.
//
// Read may be called from several threads at once (Claim may not). The
// descriptor is closed when the object goes.
class MsfFile {
 public:
  // S_OK; E_PDB_NOT_FOUND for a missing path; E_INVALIDARG for a path that
  // is not a regular file; E_PDB_FORMAT for a file that is no such
  // container, E_PDB_CORRUPT for a damaged one; E_OUTOFMEMORY; the errno of
  // a failed call (HResultFromErrno); E_FILE_CHANGED when the file ends
  // before what it declared, having shrunk since it was opened.
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

  // Reads and checks the block lists of the given streams (ones already
  // claimed, and indexes past the last stream, are skipped); reading
  // neighbouring lists takes one pread. E_PDB_CORRUPT when a block lies
  // outside the file or is named twice.
  HRESULT Claim(const std::vector<std::uint32_t>& streams);
  bool claimed(std::uint32_t stream) const {
    return stream < firstBlock_.size() && firstBlock_[stream] != kUnclaimed;
  }

  // Copies bytes [offset, offset + size) of a claimed stream into out,
  // reading runs of consecutive blocks with one pread each. E_INVALIDARG
  // when the stream is not claimed or the range runs past its end;
  // E_FILE_CHANGED when the file shrank since Open, an I/O error's errno
  // (HResultFromErrno) when it cannot be read.
  HRESULT Read(std::uint32_t stream, std::uint64_t offset, std::uint64_t size,
               std::uint8_t* out) const;

 private:
  HRESULT ReadAt(std::uint64_t position, std::uint64_t size, std::uint8_t* out) const;
  HRESULT ReadBlocks(const std::uint32_t* blocks, std::uint64_t offset, std::uint64_t size,
                     std::uint8_t* out) const;
  HRESULT ReadDirectory(std::uint32_t directoryBytes, std::uint32_t blockMapAddr);
  // Adds blocks to those owned by the directory and the claimed streams;
  // false when one of them is owned already or named twice among them.
  bool Own(std::vector<std::uint32_t> blocks);

  int fd_ = -1;
  std::uint64_t fileSize_ = 0;
  std::uint32_t blockSize_ = 0;
  unsigned blockShift_ = 0;
  std::uint32_t numBlocks_ = 0;
  std::vector<std::uint32_t> directoryBlocks_;
  // Per stream, its size (0 for deleted): four bytes for each four of the
  // directory, whatever count it declares.
  std::vector<std::uint32_t> sizes_;
  static constexpr std::uint32_t kUnclaimed = UINT32_MAX;
  std::vector<std::uint32_t> firstBlock_;  // per stream: its first block in blocks_, or kUnclaimed
  std::vector<std::uint32_t> blocks_;  // the claimed streams' blocks
  std::vector<std::uint32_t> owned_;   // every block owned so far, sorted
};

}  // namespace sorvanta
