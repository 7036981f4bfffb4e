#pragma once

#include <cstddef>
#include <new>
#include <utility>

#include "PageBuffer.h"
#include "PdbFunctionSymbol.h"

namespace sorvanta {

// The function records of an image, one after another in page memory
// (huge pages for a large file, so that filling them costs few page
// faults). Loading reserves room for as many functions as the module bytes
// could hold, fills parts of it from several threads, then closes the
// gaps between the parts.
class FunctionRecords {
 public:
  FunctionRecords() = default;
  ~FunctionRecords() { Clear(); }
  FunctionRecords(FunctionRecords&& other) noexcept
      : buffer_(std::move(other.buffer_)), size_(std::exchange(other.size_, 0)) {}
  FunctionRecords& operator=(FunctionRecords&& other) noexcept {
    if (this != &other) {
      Clear();
      buffer_ = std::move(other.buffer_);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }

  // Room for capacity records; false when out of memory.
  bool Reserve(std::size_t capacity) {
    Clear();
    return capacity <= buffer_.kMaxBytes / sizeof(PdbFunctionSymbol) &&
           buffer_.Allocate(capacity * sizeof(PdbFunctionSymbol));
  }
  std::size_t capacity() const { return buffer_.size() / sizeof(PdbFunctionSymbol); }

  PdbFunctionSymbol* slot(std::size_t i) {
    return reinterpret_cast<PdbFunctionSymbol*>(buffer_.data()) + i;
  }
  const PdbFunctionSymbol* data() const { return reinterpret_cast<const PdbFunctionSymbol*>(buffer_.data()); }
  PdbFunctionSymbol* data() { return slot(0); }
  std::size_t size() const { return size_; }

  // Moves the count records at from to to (to <= from), in order, so the
  // parts filled by threads follow one another.
  void Move(std::size_t from, std::size_t to, std::size_t count) {
    if (from == to) return;
    for (std::size_t i = 0; i < count; ++i) {
      PdbFunctionSymbol* source = slot(from + i);
      new (slot(to + i)) PdbFunctionSymbol(*source);
      source->~PdbFunctionSymbol();
    }
  }
  // Records [0, size) are constructed; the rest of the room goes back.
  void Close(std::size_t size) {
    size_ = size;
    buffer_.Shrink(size * sizeof(PdbFunctionSymbol));
  }

 private:
  void Clear() {
    for (std::size_t i = 0; i < size_; ++i) slot(i)->~PdbFunctionSymbol();
    size_ = 0;
  }

  PageBuffer buffer_;
  std::size_t size_ = 0;
};

}  // namespace sorvanta
