#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace sorvanta {

// A large, zero-filled buffer of anonymous memory for bytes read from a
// file. Buffers of 2 MiB and more are aligned to 2 MiB and backed by
// transparent huge pages where the kernel offers them, which cuts the cost
// of faulting the pages in by several times. Allocation failure is reported,
// never thrown and never fatal.
class PageBuffer {
 public:
  PageBuffer() = default;
  ~PageBuffer();
  PageBuffer(PageBuffer&& other) noexcept;
  PageBuffer& operator=(PageBuffer&& other) noexcept;
  PageBuffer(const PageBuffer&) = delete;
  PageBuffer& operator=(const PageBuffer&) = delete;

  // The largest buffer Allocate takes on.
  static constexpr std::size_t kMaxBytes = std::size_t{1} << 46;

  // Replaces the buffer by one of size bytes; false when out of memory.
  bool Allocate(std::size_t size);
  // Keeps the first size bytes and gives the whole pages past them back.
  void Shrink(std::size_t size);

  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  void Release();

  std::unique_ptr<std::uint8_t[]> heap_;  // instead of a mapping, under AddressSanitizer
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  void* mapping_ = nullptr;
  std::size_t mappingSize_ = 0;
};

}  // namespace sorvanta
