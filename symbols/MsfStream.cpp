#include "MsfStream.h"

#include <algorithm>
#include <cstring>

namespace sorvanta {

MsfStream::MsfStream(const std::uint8_t* file, std::uint32_t blockSize,
                     llvm::ArrayRef<llvm::support::ulittle32_t> blocks, std::uint32_t length)
    : file_(file), blockSize_(blockSize), blocks_(blocks) {
  while ((1u << blockShift_) < blockSize) ++blockShift_;
  // A stream never reads past the blocks it owns, whatever length it claims.
  const std::uint64_t capacity = static_cast<std::uint64_t>(blocks.size()) * blockSize;
  length_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, capacity));
}

const std::uint8_t* MsfStream::View(std::uint32_t offset, std::uint32_t size,
                                    std::vector<std::uint8_t>* scratch) const {
  if (offset > length_ || size > length_ - offset) return nullptr;
  if (size == 0) return file_;  // any valid pointer; nothing is read

  std::size_t index = offset >> blockShift_;
  const std::uint32_t within = offset & (blockSize_ - 1);
  const std::uint8_t* start =
      file_ + (static_cast<std::uint64_t>(blocks_[index]) << blockShift_) + within;

  // Extend over physically consecutive blocks as far as the read needs.
  std::uint64_t contiguous = blockSize_ - within;
  std::size_t last = index;
  while (contiguous < size && last + 1 < blocks_.size() &&
         blocks_[last + 1] == blocks_[last] + 1) {
    ++last;
    contiguous += blockSize_;
  }
  if (contiguous >= size) return start;

  scratch->resize(size);
  std::uint32_t done = 0;
  std::uint32_t at = offset;
  while (done < size) {
    index = at >> blockShift_;
    const std::uint32_t in = at & (blockSize_ - 1);
    const std::uint32_t n = std::min(size - done, blockSize_ - in);
    std::memcpy(scratch->data() + done,
                file_ + (static_cast<std::uint64_t>(blocks_[index]) << blockShift_) + in, n);
    done += n;
    at += n;
  }
  return scratch->data();
}

bool MsfStream::ReadU32(std::uint32_t offset, std::uint32_t* value) const {
  std::vector<std::uint8_t> scratch;
  const std::uint8_t* p = View(offset, 4, &scratch);
  if (!p) return false;
  *value = llvm::support::endian::read32le(p);
  return true;
}

}  // namespace sorvanta
