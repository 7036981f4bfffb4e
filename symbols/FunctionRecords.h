#pragma once

#include <algorithm>
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "PageBuffer.h"
#include "PdbFunctionSymbol.h"

namespace sorvanta {

// The function records of an image in page memory (huge pages for a large
// file, so that filling them costs few page faults). Loading reserves room
// for as many functions as the module bytes could hold and gives each
// loading thread a part of it; each part is filled from its start, and the
// records keep where they were made: moving them together would touch
// their size in fresh memory again. Functions are numbered across the
// parts in order.
class FunctionRecords {
 public:
  FunctionRecords() = default;
  ~FunctionRecords() { Clear(); }
  FunctionRecords(FunctionRecords&& other) noexcept
      : buffer_(std::move(other.buffer_)), parts_(std::move(other.parts_)), size_(std::exchange(other.size_, 0)) {}
  FunctionRecords& operator=(FunctionRecords&& other) noexcept {
    if (this != &other) {
      Clear();
      buffer_ = std::move(other.buffer_);
      parts_ = std::move(other.parts_);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }

  // Room for capacity records; false when out of memory.
  bool Reserve(std::size_t capacity) {
    Clear();
    return capacity <= PageBuffer::kMaxBytes / sizeof(PdbFunctionSymbol) &&
           buffer_.Allocate(capacity * sizeof(PdbFunctionSymbol));
  }
  // The room at slot, for a loading thread to construct a record in.
  PdbFunctionSymbol* slot(std::size_t i) { return reinterpret_cast<PdbFunctionSymbol*>(buffer_.data()) + i; }
  // Room for the parts' list, so that adding them cannot fail.
  void ReserveParts(std::size_t parts) { parts_.reserve(parts); }
  // Counts the count records made from firstSlot on as the next functions.
  void AddPart(std::size_t firstSlot, std::size_t count) {
    parts_.push_back({size_, firstSlot, count});
    size_ += count;
  }

  std::size_t size() const { return size_; }
  const PdbFunctionSymbol& operator[](std::size_t i) const { return *Slot(SlotOf(i)); }
  PdbFunctionSymbol* at(std::size_t i) { return slot(SlotOf(i)); }
  std::size_t IndexOf(const PdbFunctionSymbol& record) const {
    const std::size_t s = static_cast<std::size_t>(&record - Slot(0));
    const Part& part = *(std::upper_bound(parts_.begin(), parts_.end(), s,
                                          [](std::size_t v, const Part& p) { return v < p.firstSlot; }) - 1);
    return part.firstIndex + (s - part.firstSlot);
  }

 private:
  struct Part {
    std::size_t firstIndex;
    std::size_t firstSlot;
    std::size_t count;
  };

  const PdbFunctionSymbol* Slot(std::size_t i) const {
    return reinterpret_cast<const PdbFunctionSymbol*>(buffer_.data()) + i;
  }
  std::size_t SlotOf(std::size_t index) const {
    if (parts_.size() == 1) return parts_[0].firstSlot + index;
    const Part& part = *(std::upper_bound(parts_.begin(), parts_.end(), index,
                                          [](std::size_t v, const Part& p) { return v < p.firstIndex; }) - 1);
    return part.firstSlot + (index - part.firstIndex);
  }
  void Clear() {
    for (const Part& part : parts_) {
      for (std::size_t i = 0; i < part.count; ++i) slot(part.firstSlot + i)->~PdbFunctionSymbol();
    }
    parts_.clear();
    size_ = 0;
  }

  PageBuffer buffer_;
  std::vector<Part> parts_;
  std::size_t size_ = 0;
};

}  // namespace sorvanta
