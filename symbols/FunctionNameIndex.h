#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Utf8.h"

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

  // The index of count names, name i (UTF-8) being nameOf(i).
  template <class NameOf>
  static FunctionNameIndex Over(std::uint32_t count, NameOf nameOf) {
    std::vector<std::uint32_t> hashes(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::string_view n = nameOf(i);
      hashes[i] = FoldedHashUtf8(n.data(), n.size());
    }
    FunctionNameIndex index;
    index.Build(hashes);
    return index;
  }

  // The items whose name (nameOf, as for Over) equals name: with case
  // folded when caseInsensitive, else exactly. In enumeration order.
  template <class NameOf>
  std::vector<std::uint32_t> Find(std::string_view name, bool caseInsensitive, NameOf nameOf) const {
    const std::u32string folded = FoldUtf8(name);
    const std::u32string exact = caseInsensitive ? std::u32string() : DecodeUtf8(name);
    std::vector<std::uint32_t> found;
    ForEachCandidate(FoldedHashUtf8(name.data(), name.size()), [&](std::uint32_t i) {
      const std::string_view n = nameOf(i);
      const bool match = caseInsensitive ? FoldedEqualsUtf8(n.data(), n.size(), folded)
                                         : ExactEqualsUtf8(n.data(), n.size(), exact);
      if (match) found.push_back(i);
    });
    return found;
  }

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
