#include "FunctionNameIndex.h"

namespace sorvanta {

void FunctionNameIndex::Build(const std::vector<std::uint32_t>& hashes) {
  const std::size_t n = hashes.size();
  // About two functions per bucket: small buckets, and at most one word of
  // bucket table per function.
  std::size_t buckets = 1;
  while (buckets * 2 <= n / 2) buckets *= 2;
  mask_ = static_cast<std::uint32_t>(buckets - 1);

  bucketStart_.assign(buckets + 1, 0);
  for (std::uint32_t h : hashes) ++bucketStart_[(h & mask_) + 1];
  for (std::size_t b = 0; b < buckets; ++b) bucketStart_[b + 1] += bucketStart_[b];

  // Scatter in enumeration order so that every bucket stays in that order.
  items_.resize(n);
  std::vector<std::uint32_t> next(bucketStart_.begin(), bucketStart_.end() - 1);
  for (std::size_t i = 0; i < n; ++i) items_[next[hashes[i] & mask_]++] = static_cast<std::uint32_t>(i);
}

}  // namespace sorvanta
