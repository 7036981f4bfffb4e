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
// enumeration order), and a coarse table of address buckets narrows the
// search for the start. Each entry keeps its last byte, and a max-tree over
// blocks of entries finds the nearest one that still reaches the address
// in logarithmic time when the nearest start does not.
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
           (reach_.capacity() + blockLast_.capacity()) * sizeof(std::uint32_t);
  }

 private:
  struct Slot {
    std::uint32_t start;
    std::uint32_t last;  // last byte; UINT32_MAX for code running past the top
    std::uint32_t function;
  };

  // Position of the first entry whose start is greater than rva.
  std::size_t UpperBound(std::uint32_t rva) const;
  std::size_t BucketOf(std::uint32_t rva) const;
  // The last (first) entry in [begin, end) whose last byte is at or after
  // rva, or npos when there is none.
  std::size_t LastReaching(std::size_t end, std::uint32_t rva) const;
  std::size_t FirstReaching(std::size_t begin, std::size_t end, std::uint32_t rva) const;
  // The last (first) block in [begin, end) whose greatest last byte is at
  // or after rva, or npos.
  std::size_t LastBlockReaching(std::size_t end, std::uint32_t rva) const;
  std::size_t FirstBlockReaching(std::size_t begin, std::size_t end, std::uint32_t rva) const;

  std::vector<Slot> entries_;  // functions with code, sorted by start
  std::vector<std::uint32_t> reach_;  // reach_[i]: the greatest last byte of entries_[0..i]
  std::vector<std::uint32_t> buckets_;  // bucket b: entries_[buckets_[b], buckets_[b+1])
  unsigned shift_ = 0;
  // A complete binary tree in heap order over blocks of kBlock entries:
  // leaf blocks_ + b is the greatest last byte in block b, every inner node
  // the greatest of its children.
  std::vector<std::uint32_t> blockLast_;
  std::size_t blocks_ = 0;
  std::size_t count_ = 0;
  std::uint32_t maxStart_ = 0;
};

}  // namespace sorvanta
