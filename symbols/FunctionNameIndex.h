#pragma once

#include <cstdint>
#include <vector>

namespace sorvanta {

// Finds functions by name without regard to case in time proportional to
// the number of candidates, not to the number of functions. Each function
// is filed under the hash of its case-folded name; a bucket lists its
// functions in enumeration order, so the candidates of a query come out in
// that order too.
class FunctionNameIndex {
 public:
  // hashes[i] is the folded-name hash of function i.
  void Build(const std::vector<std::uint32_t>& hashes);

  // Functions whose folded name hashes to hash, in enumeration order (a
  // superset of the matches: callers compare the names).
  template <class Visit>
  void ForEachCandidate(std::uint32_t hash, Visit visit) const {
    if (bucketStart_.empty()) return;
    const std::uint32_t b = hash & mask_;
    for (std::uint32_t i = bucketStart_[b]; i < bucketStart_[b + 1]; ++i) visit(items_[i]);
  }

  std::size_t MemoryBytes() const {
    return bucketStart_.capacity() * sizeof(std::uint32_t) +
           items_.capacity() * sizeof(std::uint32_t);
  }

 private:
  std::uint32_t mask_ = 0;
  std::vector<std::uint32_t> bucketStart_;  // bucket b holds items_[start[b], start[b+1])
  std::vector<std::uint32_t> items_;
};

}  // namespace sorvanta
