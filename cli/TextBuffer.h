#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace sorvanta {

// Text gathered for output. Besides appending, a writer can ask for room
// and fill it directly, which spares a line of a million-line listing the
// bookkeeping of several std::string appends.
class TextBuffer {
 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return std::string_view(data_.get(), size_); }
  void clear() { size_ = 0; }

  void Append(std::string_view text) {
    if (text.empty()) return;  // its pointer may be null, which memcpy must not get
    char* at = Room(text.size());
    std::memcpy(at, text.data(), text.size());
    size_ += text.size();
  }
  void Push(char c) {
    *Room(1) = c;
    ++size_;
  }
  // At least n bytes of room past the end; write into it, then Commit the
  // new end. Throws std::bad_alloc when the room cannot be had.
  char* Room(std::size_t n) {
    if (capacity_ - size_ < n) Grow(n);
    return data_.get() + size_;
  }
  void Commit(const char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }

 private:
  void Grow(std::size_t n) {
    std::size_t capacity = capacity_ < 4096 ? 4096 : capacity_;
    while (capacity - size_ < n) {
      if (capacity > SIZE_MAX / 2) throw std::bad_alloc();
      capacity *= 2;
    }
    char* grown = static_cast<char*>(std::realloc(data_.get(), capacity));
    if (!grown) throw std::bad_alloc();
    data_.release();
    data_.reset(grown);
    capacity_ = capacity;
  }

  std::unique_ptr<char, decltype(&std::free)> data_{nullptr, &std::free};
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace sorvanta
