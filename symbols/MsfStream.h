#pragma once

#include <cstdint>
#include <vector>

#include "llvm/ADT/ArrayRef.h"
#include "llvm/Support/Endian.h"

namespace sorvanta {

// Read access to one stream of an MSF file held in memory, straight from
// its block list. Reads that stay inside a run of physically consecutive
// blocks return a pointer into the file's bytes; only reads that cross into
// a block stored elsewhere are copied.
//
// The block list must have been checked against the file (CheckMsfLayout).
class MsfStream {
 public:
  MsfStream() = default;
  MsfStream(const std::uint8_t* file, std::uint32_t blockSize,
            llvm::ArrayRef<llvm::support::ulittle32_t> blocks, std::uint32_t length);

  std::uint32_t length() const { return length_; }

  // Bytes [offset, offset + size) of the stream, or nullptr when the range
  // runs past the end. A copy, when one is needed, goes to *scratch and
  // stays valid until the next call with the same scratch.
  const std::uint8_t* View(std::uint32_t offset, std::uint32_t size,
                           std::vector<std::uint8_t>* scratch) const;

  bool ReadU32(std::uint32_t offset, std::uint32_t* value) const;

 private:
  const std::uint8_t* file_ = nullptr;
  std::uint32_t blockSize_ = 0;
  std::uint32_t blockShift_ = 0;
  llvm::ArrayRef<llvm::support::ulittle32_t> blocks_;
  std::uint32_t length_ = 0;
};

}  // namespace sorvanta
