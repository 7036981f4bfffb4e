#include "PublicTable.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "Demangler.h"
#include "PublicsStream.h"

namespace sorvanta {

HRESULT PublicTable::Build(const std::vector<std::uint8_t>& publicsStream,
                           std::vector<std::uint8_t> recordStream, const SectionTable& sections,
                           std::uint16_t imageHandle, DemangleStyle style, bool withData) {
  try {
    std::vector<PublicRecord> found;
    const HRESULT read = PublicsStream::Read(ByteView{publicsStream.data(), publicsStream.size()},
                                             ByteView{recordStream.data(), recordStream.size()}, &found,
                                             withData);
    if (Failed(read)) return read;

    struct Sorted {
      std::uint64_t key;  // RVA, or past every RVA for a public without an address
      std::uint32_t end;  // of its section
      std::uint32_t index;
    };
    std::vector<Sorted> sorted;
    sorted.reserve(found.size());
    for (std::uint32_t i = 0; i < found.size(); ++i) {
      const PublicRecord& p = found[i];
      const std::optional<std::uint32_t> rva = sections.Rva(p.segment, p.offset);
      std::uint32_t end = 0;
      if (rva) {
        const SectionTable::Section& section = *sections.Find(p.segment);
        const std::uint64_t sectionEnd = std::uint64_t{section.rva} + section.size;
        end = sectionEnd > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(sectionEnd);
      }
      sorted.push_back({rva ? *rva : UINT64_MAX, end, i});
    }
    // Records are in stream order already, so a stable sort keeps that
    // order among publics at one address.
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Sorted& a, const Sorted& b) { return a.key < b.key; });

    std::vector<PdbPublicSymbol> records;
    std::vector<std::uint32_t> rvas;
    std::vector<std::uint32_t> ends;
    records.reserve(sorted.size());
    for (const Sorted& s : sorted) {
      const PublicRecord& p = found[s.index];
      const bool located = s.key != UINT64_MAX;
      records.emplace_back(imageHandle, p.nameOffset, p.nameLength, p.segment,
                           located ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(s.key))
                                   : std::nullopt);
      if (located) {
        rvas.push_back(static_cast<std::uint32_t>(s.key));
        ends.push_back(s.end);
      }
    }
    located_ = ends.size();
    style_ = style;
    records_ = std::move(records);
    // Buckets of about four publics each narrow every search to a few
    // neighbours.
    std::vector<std::uint32_t> buckets;
    unsigned shift = 0;
    if (!rvas.empty()) {
      const std::uint64_t target = std::max<std::size_t>(1, rvas.size() / 4);
      while (shift < 32 && (std::uint64_t{rvas.back()} >> shift) >= target) ++shift;
      buckets.assign(static_cast<std::size_t>(std::uint64_t{rvas.back()} >> shift) + 2, 0);
      for (const std::uint32_t rva : rvas) ++buckets[(std::uint64_t{rva} >> shift) + 1];
      for (std::size_t b = 1; b < buckets.size(); ++b) buckets[b] += buckets[b - 1];
    }
    rvas_ = std::move(rvas);
    buckets_ = std::move(buckets);
    shift_ = shift;
    sectionEnds_ = std::move(ends);
    recordBytes_ = std::move(recordStream);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

std::string_view PublicTable::RawName(std::uint32_t index) const {
  const PdbPublicSymbol& p = records_[index];
  return std::string_view(reinterpret_cast<const char*>(recordBytes_.data()) + p.nameOffset(),
                          p.nameLength());
}

std::string_view PublicTable::Name(std::uint32_t index, std::string* scratch) const {
  PdbPublicSymbol& p = records_[index];
  using Demangled = PdbPublicSymbol::Demangled;
  switch (p.demangled()) {
    case Demangled::kRaw:
      return RawName(index);
    case Demangled::kCached:
      return std::string_view(cache_[p.demangledAt() / kCacheBlockBytes].get() + p.demangledAt() % kCacheBlockBytes,
                              p.demangledLength());
    case Demangled::kUnknown:
    case Demangled::kMade:
      break;
  }
  if (!DemangleMicrosoft(RawName(index), style_, scratch)) {
    p.setDemangled(Demangled::kRaw);
    return RawName(index);
  }
  if (p.demangled() == Demangled::kUnknown) {
    try {
      const std::size_t size = scratch->size();
      const std::size_t limit = CacheLimit();
      if ((cache_.empty() || kCacheBlockBytes - cacheUsed_ < size) && size <= kCacheBlockBytes &&
          (cache_.size() + 1) * kCacheBlockBytes <= limit) {
        cache_.reserve(limit / kCacheBlockBytes);
        cache_.push_back(std::make_unique<char[]>(kCacheBlockBytes));
        cacheUsed_ = 0;
      }
      if (!cache_.empty() && kCacheBlockBytes - cacheUsed_ >= size) {
        char* const block = cache_.back().get();
        std::memcpy(block + cacheUsed_, scratch->data(), size);
        const auto at = static_cast<std::uint32_t>((cache_.size() - 1) * kCacheBlockBytes + cacheUsed_);
        cacheUsed_ += size;
        p.setDemangled(Demangled::kCached, at, static_cast<std::uint16_t>(size));
        return std::string_view(block + at % kCacheBlockBytes, size);
      }
    } catch (const std::bad_alloc&) {
      // No cache: the name is made again when next asked for.
    }
    p.setDemangled(Demangled::kMade);
  }
  return *scratch;
}

std::optional<std::uint32_t> PublicTable::FindAtOrBelow(std::uint32_t rva) const {
  // The first public whose address is past rva, then the first of those
  // at the address below it; rva's bucket bounds the search.
  if (rvas_.empty()) return std::nullopt;
  const std::uint64_t bucket = std::uint64_t{rva} >> shift_;
  const auto end = bucket + 1 < buckets_.size() ? rvas_.begin() + buckets_[bucket + 1] : rvas_.end();
  const auto begin = bucket + 1 < buckets_.size() ? rvas_.begin() + buckets_[bucket] : rvas_.end();
  const auto above = std::upper_bound(begin, end, rva);
  if (above == rvas_.begin()) return std::nullopt;
  // Publics at one address share its bucket.
  const std::uint32_t at = *(above - 1);
  const auto first = std::lower_bound(rvas_.begin() + buckets_[std::uint64_t{at} >> shift_], above, at);
  const auto index = static_cast<std::size_t>(first - rvas_.begin());
  if (rva >= sectionEnds_[index]) return std::nullopt;  // past the end of that public's section
  return static_cast<std::uint32_t>(index);
}

std::vector<std::uint32_t> PublicTable::Find(std::string_view name, bool caseInsensitive) const {
  std::string scratch;
  auto shown = [&](std::uint32_t i) { return Name(i, &scratch); };
  if (!nameIndex_) nameIndex_ = FunctionNameIndex::Over(static_cast<std::uint32_t>(records_.size()), shown);
  return nameIndex_->Find(name, caseInsensitive, shown);
}

std::size_t PublicTable::memoryBytes() const {
  return recordBytes_.capacity() + records_.capacity() * sizeof(PdbPublicSymbol) +
         (rvas_.capacity() + sectionEnds_.capacity()) * sizeof(std::uint32_t) +
         cache_.capacity() * sizeof(cache_[0]) + cache_.size() * kCacheBlockBytes +
         (nameIndex_ ? nameIndex_->MemoryBytes() : 0);
}

}  // namespace sorvanta
