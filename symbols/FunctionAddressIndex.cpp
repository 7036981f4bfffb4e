#include "FunctionAddressIndex.h"

#include <algorithm>

namespace sorvanta {

namespace {

// Stable LSD radix sort on the start address, two 16-bit digits. Stability
// keeps functions with equal starts in enumeration order.
void SortByStart(std::vector<FunctionAddressIndex::Entry>& entries) {
  std::vector<FunctionAddressIndex::Entry> buffer(entries.size());
  for (unsigned shift = 0; shift < 32; shift += 16) {
    std::vector<std::size_t> count((1u << 16) + 1, 0);
    for (const auto& e : entries) ++count[((e.start >> shift) & 0xFFFF) + 1];
    for (std::size_t d = 0; d < (1u << 16); ++d) count[d + 1] += count[d];
    for (const auto& e : entries) buffer[count[(e.start >> shift) & 0xFFFF]++] = e;
    entries.swap(buffer);
  }
}

}  // namespace

void FunctionAddressIndex::Build(std::vector<Entry> entries) {
  entries_ = std::move(entries);
  const bool sorted = std::is_sorted(entries_.begin(), entries_.end(),
                                     [](const Entry& a, const Entry& b) { return a.start < b.start; });
  if (!sorted) SortByStart(entries_);
  entries_.shrink_to_fit();

  buckets_.clear();
  shift_ = 0;
  if (entries_.empty()) return;
  // Roughly four entries per bucket.
  const std::uint64_t target = std::max<std::uint64_t>(1, entries_.size() / 4);
  const std::uint32_t maxStart = entries_.back().start;
  while (shift_ < 32 && (static_cast<std::uint64_t>(maxStart) >> shift_) >= target) ++shift_;
  const std::size_t bucketCount = static_cast<std::size_t>(static_cast<std::uint64_t>(maxStart) >> shift_) + 1;
  buckets_.assign(bucketCount + 1, 0);
  for (const auto& e : entries_) ++buckets_[BucketOf(e.start) + 1];
  for (std::size_t b = 0; b < bucketCount; ++b) buckets_[b + 1] += buckets_[b];
}

std::size_t FunctionAddressIndex::BucketOf(std::uint32_t rva) const {
  // With every start in one bucket the shift is 32, which a 32-bit value
  // cannot be shifted by.
  return static_cast<std::size_t>(static_cast<std::uint64_t>(rva) >> shift_);
}

std::size_t FunctionAddressIndex::UpperBound(std::uint32_t rva) const {
  const std::size_t b = BucketOf(rva);
  if (b + 1 >= buckets_.size()) return entries_.size();  // past the last bucket
  const auto first = entries_.begin() + buckets_[b];
  const auto last = entries_.begin() + buckets_[b + 1];
  const auto it = std::upper_bound(first, last, rva,
                                   [](std::uint32_t v, const Entry& e) { return v < e.start; });
  return static_cast<std::size_t>(it - entries_.begin());
}

}  // namespace sorvanta
