#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sorvanta {

// Finds the function whose code holds a relative virtual address (RVA).
// Keyed by RVA, so a later change of the load address never makes it
// stale. Functions may nest or overlap (a funclet inside its parent, code
// folded by the linker): of those that hold the address, the one with the
// greatest start wins, and among equal starts the first in enumeration
// order. Entries are sorted by start (stable, so equal starts keep their
// enumeration order); a max-tree over their last bytes finds the nearest
// one that reaches the address in logarithmic time, and a coarse table of
// address buckets narrows the search for the start.
class FunctionAddressIndex {
 public:
  struct Entry {
    std::uint32_t start;     // RVA of the first byte
    std::uint32_t length;    // code size in bytes
    std::uint32_t function;  // enumeration index
  };

  // entries in enumeration order; sorted here.
  void Build(std::vector<Entry> entries);

  // The function that holds rva, chosen as above; none when no function's
  // [start, start + length) holds it.
  std::optional<std::uint32_t> Find(std::uint32_t rva) const;

  // Every function given to Build, zero-length ones included.
  std::size_t size() const { return count_; }
  std::uint32_t maxStart() const { return maxStart_; }

  std::size_t MemoryBytes() const {
    return entries_.capacity() * sizeof(Slot) + buckets_.capacity() * sizeof(std::uint32_t) +
           lastBytes_.capacity() * sizeof(std::uint32_t);
  }

 private:
  struct Slot {
    std::uint32_t start;
    std::uint32_t function;
  };

  // Position of the first entry whose start is greater than rva.
  std::size_t UpperBound(std::uint32_t rva) const;
  std::size_t BucketOf(std::uint32_t rva) const;
  // The last (first) entry in [begin, end) whose last byte is at or after
  // rva, or end when there is none.
  std::size_t LastReaching(std::size_t end, std::uint32_t rva) const;
  std::size_t FirstReaching(std::size_t begin, std::size_t end, std::uint32_t rva) const;

  std::vector<Slot> entries_;  // functions with code, sorted by start
  std::vector<std::uint32_t> buckets_;  // bucket b: entries_[buckets_[b], buckets_[b+1])
  unsigned shift_ = 0;
  // A complete binary tree over entries_ in heap order: leaf leaves_ + i is
  // entry i's last byte, every inner node the greatest of its children.
  std::vector<std::uint32_t> lastBytes_;
  std::size_t leaves_ = 0;
  std::size_t count_ = 0;
  std::uint32_t maxStart_ = 0;
};

}  // namespace sorvanta
