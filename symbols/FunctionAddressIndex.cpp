#include "FunctionAddressIndex.h"

#include <algorithm>

namespace sorvanta {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Entries per leaf of the max-tree: a block is scanned, which is cheaper
// than more levels of tree and keeps the tree small enough to stay cached.
constexpr std::size_t kBlock = 16;

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

// A node of the max-tree and the blocks [lo, hi) it covers.
struct Node {
  std::size_t node, lo, hi;
};

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
  for (const Entry& e : entries) {
    // Code running past the top of the address space reaches every address
    // above its start.
    const std::uint64_t last = static_cast<std::uint64_t>(e.start) + e.length - 1;
    entries_.push_back({e.start, last > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(last),
                        e.function});
  }

  reach_.clear();
  reach_.reserve(entries_.size());
  for (const Slot& e : entries_) reach_.push_back(std::max(reach_.empty() ? 0 : reach_.back(), e.last));

  const std::size_t blockCount = (entries_.size() + kBlock - 1) / kBlock;
  blocks_ = 1;
  while (blocks_ < blockCount) blocks_ *= 2;
  blockLast_.assign(entries_.empty() ? 0 : 2 * blocks_, 0);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    std::uint32_t& leaf = blockLast_[blocks_ + i / kBlock];
    leaf = std::max(leaf, entries_[i].last);
  }
  for (std::size_t node = blocks_ - 1; node >= 1 && !entries_.empty(); --node) {
    blockLast_[node] = std::max(blockLast_[2 * node], blockLast_[2 * node + 1]);
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
  // those that still reach rva wins. Usually that is the entry just before
  // p, found at once.
  const std::size_t p = UpperBound(rva);
  // Most addresses outside every function are past all that start before
  // them, which the running maximum tells at once.
  if (p == 0 || (entries_[p - 1].last < rva && reach_[p - 1] < rva)) return std::nullopt;
  const std::size_t last = LastReaching(p, rva);
  if (last == kNone) return std::nullopt;
  // Its equal-start neighbours before it come first in enumeration order.
  const std::uint32_t start = entries_[last].start;
  std::size_t group = last;
  while (group > 0 && last - group < kBlock && entries_[group - 1].start == start) --group;
  if (group > 0 && entries_[group - 1].start == start) {
    group = static_cast<std::size_t>(
        std::lower_bound(entries_.begin(), entries_.begin() + group, start,
                         [](const Slot& e, std::uint32_t s) { return e.start < s; }) -
        entries_.begin());
  }
  return entries_[FirstReaching(group, last + 1, rva)].function;
}

std::size_t FunctionAddressIndex::LastReaching(std::size_t end, std::uint32_t rva) const {
  // The entry just before end (most often the answer), the rest of end's
  // own block, then the nearest block that reaches rva, scanned from its end.
  if (entries_[end - 1].last >= rva) return end - 1;
  const std::size_t blockStart = (end - 1) / kBlock * kBlock;
  for (std::size_t i = end - 1; i > blockStart; --i) {
    if (entries_[i - 1].last >= rva) return i - 1;
  }
  const std::size_t block = LastBlockReaching(blockStart / kBlock, rva);
  if (block == kNone) return kNone;
  for (std::size_t i = std::min(entries_.size(), (block + 1) * kBlock); i > block * kBlock; --i) {
    if (entries_[i - 1].last >= rva) return i - 1;
  }
  return kNone;  // not reached: the block's greatest last byte is in it
}

std::size_t FunctionAddressIndex::FirstReaching(std::size_t begin, std::size_t end,
                                                std::uint32_t rva) const {
  const std::size_t firstBlockEnd = std::min(end, (begin / kBlock + 1) * kBlock);
  for (std::size_t i = begin; i < firstBlockEnd; ++i) {
    if (entries_[i].last >= rva) return i;
  }
  if (firstBlockEnd == end) return kNone;
  const std::size_t endBlock = (end + kBlock - 1) / kBlock;
  const std::size_t block = FirstBlockReaching(begin / kBlock + 1, endBlock, rva);
  if (block == kNone) return kNone;
  for (std::size_t i = block * kBlock; i < std::min(end, (block + 1) * kBlock); ++i) {
    if (entries_[i].last >= rva) return i;
  }
  return kNone;
}

std::size_t FunctionAddressIndex::LastBlockReaching(std::size_t end, std::uint32_t rva) const {
  // Down from the root, right child first, skipping every subtree that lies
  // past end or whose greatest last byte is below rva. Only the path along
  // end is entered without success, so this is logarithmic.
  Node stack[2 * 64];
  std::size_t depth = 0;
  stack[depth++] = {1, 0, blocks_};
  while (depth > 0) {
    const Node n = stack[--depth];
    if (n.lo >= end || blockLast_[n.node] < rva) continue;
    if (n.hi - n.lo == 1) return n.lo;
    const std::size_t mid = n.lo + (n.hi - n.lo) / 2;
    stack[depth++] = {2 * n.node, n.lo, mid};       // searched second
    stack[depth++] = {2 * n.node + 1, mid, n.hi};  // searched first
  }
  return kNone;
}

std::size_t FunctionAddressIndex::FirstBlockReaching(std::size_t begin, std::size_t end,
                                                     std::uint32_t rva) const {
  // The mirror image: left child first.
  Node stack[2 * 64];
  std::size_t depth = 0;
  stack[depth++] = {1, 0, blocks_};
  while (depth > 0) {
    const Node n = stack[--depth];
    if (n.hi <= begin || n.lo >= end || blockLast_[n.node] < rva) continue;
    if (n.hi - n.lo == 1) return n.lo;
    const std::size_t mid = n.lo + (n.hi - n.lo) / 2;
    stack[depth++] = {2 * n.node + 1, mid, n.hi};  // searched second
    stack[depth++] = {2 * n.node, n.lo, mid};      // searched first
  }
  return kNone;
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
