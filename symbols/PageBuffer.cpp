#include "PageBuffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <utility>

namespace sorvanta {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Under AddressSanitizer the bytes come from the heap, exactly sized, so
// that a read past their end is reported rather than landing in the rest
// of a mapping.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kFromHeap = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kFromHeap = true;
#else
constexpr bool kFromHeap = false;
#endif
#else
constexpr bool kFromHeap = false;
#endif

}  // namespace

PageBuffer::~PageBuffer() { Release(); }

PageBuffer::PageBuffer(PageBuffer&& other) noexcept
    : heap_(std::move(other.heap_)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapping_(std::exchange(other.mapping_, nullptr)),
      mappingSize_(std::exchange(other.mappingSize_, 0)) {}

PageBuffer& PageBuffer::operator=(PageBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    heap_ = std::move(other.heap_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapping_ = std::exchange(other.mapping_, nullptr);
    mappingSize_ = std::exchange(other.mappingSize_, 0);
  }
  return *this;
}

void PageBuffer::Release() {
  if (mapping_) ::munmap(mapping_, mappingSize_);
  heap_.reset();
  data_ = nullptr;
  size_ = 0;
  mapping_ = nullptr;
  mappingSize_ = 0;
}

bool PageBuffer::Allocate(std::size_t size) {
  Release();
  if (size == 0) return true;
  if (size > kMaxBytes) return false;
  if (kFromHeap) {
    try {
      heap_ = std::make_unique<std::uint8_t[]>(size);
    } catch (const std::bad_alloc&) {
      return false;
    }
    data_ = heap_.get();
    size_ = size;
    return true;
  }
  const bool huge = size >= kHugePage;
  // Room to align the start to a huge page.
  const std::size_t slack = huge ? kHugePage : 0;
  if (size > SIZE_MAX - slack - kHugePage) return false;
  const std::size_t rounded = huge ? (size + kHugePage - 1) & ~(kHugePage - 1)
                                   : (size + 4095) & ~std::size_t{4095};
  const std::size_t length = rounded + slack;
  void* mapping = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return false;
  mapping_ = mapping;
  mappingSize_ = length;
  auto start = reinterpret_cast<std::uintptr_t>(mapping);
  if (huge) {
    start = (start + kHugePage - 1) & ~(kHugePage - 1);
    // Advice only: without huge pages the buffer still works.
    ::madvise(reinterpret_cast<void*>(start), rounded, MADV_HUGEPAGE);
  }
  data_ = reinterpret_cast<std::uint8_t*>(start);
  size_ = size;
  return true;
}

void PageBuffer::Shrink(std::size_t size) {
  if (size >= size_) return;
  if (mapping_) {
    const auto keep = (reinterpret_cast<std::uintptr_t>(data_) + size + 4095) & ~std::uintptr_t{4095};
    const auto end = reinterpret_cast<std::uintptr_t>(mapping_) + mappingSize_;
    // The pages stay mapped (and zero when touched again); their memory
    // goes back now.
    if (keep < end) ::madvise(reinterpret_cast<void*>(keep), end - keep, MADV_DONTNEED);
  }
  size_ = size;
}

}  // namespace sorvanta
