#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace sorvanta {

// Finds the function whose code holds a relative virtual address (RVA).
// Keyed by RVA, so a later change of the load address never makes it
// stale. Entries are sorted by start address and, for functions that share
// a start (identical code folded by the linker), by enumeration order; a
// coarse table of address buckets narrows each search to a few entries.
class FunctionAddressIndex {
 public:
  struct Entry {
    std::uint32_t start;     // RVA of the first byte
    std::uint32_t function;  // enumeration index
  };

  // entries in enumeration order; sorted here.
  void Build(std::vector<Entry> entries);

  // The first function, in enumeration order, among those with the greatest
  // start <= rva whose [start, start + length) holds rva. length(function)
  // gives a function's code size.
  template <class Length>
  std::optional<std::uint32_t> Find(std::uint32_t rva, Length length) const {
    if (entries_.empty()) return std::nullopt;
    const std::size_t p = UpperBound(rva);
    if (p == 0) return std::nullopt;
    const std::uint32_t start = entries_[p - 1].start;
    std::size_t first = p - 1;
    while (first > 0 && entries_[first - 1].start == start) --first;
    for (std::size_t i = first; i < p; ++i) {
      const std::uint32_t f = entries_[i].function;
      if (static_cast<std::uint64_t>(rva - start) < static_cast<std::uint64_t>(length(f))) return f;
    }
    return std::nullopt;
  }

  std::size_t size() const { return entries_.size(); }
  std::uint32_t maxStart() const { return entries_.empty() ? 0 : entries_.back().start; }

  std::size_t MemoryBytes() const {
    return entries_.capacity() * sizeof(Entry) + buckets_.capacity() * sizeof(std::uint32_t);
  }

 private:
  // Position of the first entry whose start is greater than rva.
  std::size_t UpperBound(std::uint32_t rva) const;
  std::size_t BucketOf(std::uint32_t rva) const;

  std::vector<Entry> entries_;
  std::vector<std::uint32_t> buckets_;  // bucket b: entries_[buckets_[b], buckets_[b+1])
  unsigned shift_ = 0;
};

}  // namespace sorvanta
