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
  count_ = entries.size();
  maxStart_ = 0;
  for (const Entry& e : entries) maxStart_ = std::max(maxStart_, e.start);
  // A zero-length function holds no address, so it can never be found.
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [](const Entry& e) { return e.length == 0; }),
                entries.end());
  const bool sorted = std::is_sorted(entries.begin(), entries.end(),
                                     [](const Entry& a, const Entry& b) { return a.start < b.start; });
  if (!sorted) SortByStart(entries);

  entries_.clear();
  entries_.reserve(entries.size());
  for (const Entry& e : entries) entries_.push_back({e.start, e.function});

  leaves_ = 1;
  while (leaves_ < entries.size()) leaves_ *= 2;
  lastBytes_.assign(entries.empty() ? 0 : 2 * leaves_, 0);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    // A function running past the top of the address space reaches every
    // address above its start.
    const std::uint64_t last = static_cast<std::uint64_t>(entries[i].start) + entries[i].length - 1;
    lastBytes_[leaves_ + i] = last > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(last);
  }
  for (std::size_t node = leaves_ - 1; node >= 1 && !entries.empty(); --node) {
    lastBytes_[node] = std::max(lastBytes_[2 * node], lastBytes_[2 * node + 1]);
  }

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

std::optional<std::uint32_t> FunctionAddressIndex::Find(std::uint32_t rva) const {
  if (entries_.empty()) return std::nullopt;
  // Every entry before p starts at or below rva; the greatest start among
  // those that still reach rva wins.
  const std::size_t p = UpperBound(rva);
  const std::size_t last = LastReaching(p, rva);
  if (last == p) return std::nullopt;
  // Its equal-start neighbours before it come first in enumeration order.
  const std::uint32_t start = entries_[last].start;
  const auto group = std::lower_bound(entries_.begin(), entries_.begin() + last, start,
                                      [](const Slot& e, std::uint32_t s) { return e.start < s; });
  const std::size_t first = FirstReaching(static_cast<std::size_t>(group - entries_.begin()), last + 1, rva);
  return entries_[first].function;
}

std::size_t FunctionAddressIndex::LastReaching(std::size_t end, std::uint32_t rva) const {
  // Walks down from the root, right child first, skipping every subtree
  // that lies past end or whose greatest last byte is below rva. Only the
  // path along end is ever entered without success, so this is logarithmic.
  struct Frame {
    std::size_t node, lo, hi;
  };
  Frame stack[2 * 64];
  std::size_t depth = 0;
  stack[depth++] = {1, 0, leaves_};
  while (depth > 0) {
    const Frame f = stack[--depth];
    if (f.lo >= end || lastBytes_[f.node] < rva) continue;
    if (f.hi - f.lo == 1) return f.lo;
    const std::size_t mid = f.lo + (f.hi - f.lo) / 2;
    stack[depth++] = {2 * f.node, f.lo, mid};       // searched second
    stack[depth++] = {2 * f.node + 1, mid, f.hi};  // searched first
  }
  return end;
}

std::size_t FunctionAddressIndex::FirstReaching(std::size_t begin, std::size_t end,
                                                std::uint32_t rva) const {
  struct Frame {
    std::size_t node, lo, hi;
  };
  Frame stack[2 * 64];
  std::size_t depth = 0;
  stack[depth++] = {1, 0, leaves_};
  while (depth > 0) {
    const Frame f = stack[--depth];
    if (f.hi <= begin || f.lo >= end || lastBytes_[f.node] < rva) continue;
    if (f.hi - f.lo == 1) return f.lo;
    const std::size_t mid = f.lo + (f.hi - f.lo) / 2;
    stack[depth++] = {2 * f.node + 1, mid, f.hi};  // searched second
    stack[depth++] = {2 * f.node, f.lo, mid};      // searched first
  }
  return end;
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
                                   [](std::uint32_t v, const Slot& e) { return v < e.start; });
  return static_cast<std::size_t>(it - entries_.begin());
}

}  // namespace sorvanta
