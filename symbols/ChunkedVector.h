#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace sorvanta {

// A growable array whose elements never move: it grows by whole chunks.
// References and pointers to elements stay valid while the container
// lives, and growing never copies what is already stored.
template <class T, std::size_t ChunkBits = 16>
class ChunkedVector {
 public:
  static constexpr std::size_t kChunkSize = std::size_t{1} << ChunkBits;

  template <class... Args>
  T& emplace_back(Args&&... args) {
    if (chunks_.empty() || chunks_.back().size() == kChunkSize) {
      chunks_.emplace_back();
      chunks_.back().reserve(kChunkSize);
    }
    ++size_;
    return chunks_.back().emplace_back(std::forward<Args>(args)...);
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  T& operator[](std::size_t i) { return chunks_[i >> ChunkBits][i & (kChunkSize - 1)]; }
  const T& operator[](std::size_t i) const {
    return chunks_[i >> ChunkBits][i & (kChunkSize - 1)];
  }

 private:
  std::vector<std::vector<T>> chunks_;
  std::size_t size_ = 0;
};

}  // namespace sorvanta
