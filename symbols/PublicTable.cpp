#include "PublicTable.h"

#include <algorithm>
#include <array>
#include <atomic>
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
      return CachedName(p);
    case Demangled::kUnknown:
    case Demangled::kMade:
    case Demangled::kClaimed:
      break;
  }
  if (!DemangleMicrosoft(RawName(index), style_, scratch)) {
    p.setDemangled(Demangled::kRaw);
    return RawName(index);
  }
  // Of threads that made the name at once, one caches it.
  if (!p.ClaimForCache()) return *scratch;
  try {
    std::uint32_t at = 0;
    if (char* room = CacheRoom(scratch->size(), &at)) {
      std::memcpy(room, scratch->data(), scratch->size());
      p.setCached(at, static_cast<std::uint16_t>(scratch->size()));
      return std::string_view(room, scratch->size());
    }
  } catch (const std::bad_alloc&) {
    // No cache: the name is made again when next asked for.
  }
  p.setDemangled(Demangled::kMade);
  return *scratch;
}

namespace {

// Where this thread adds names to a table's cache: a block of its own, so
// that threads add names without waiting for each other.
struct CacheCursor {
  std::uint64_t table = 0;  // the table's serial number; 0 for none
  std::size_t block = 0;
  std::size_t used = 0;
};

// This thread's cursor for a table: one for each of the last few tables
// it named in, so that naming in two tables by turns does not start a
// block on each turn.
CacheCursor& CursorFor(std::uint64_t table) {
  thread_local std::array<CacheCursor, 4> cursors;
  thread_local std::size_t next = 0;  // the one to reuse for a new table
  for (CacheCursor& cursor : cursors) {
    if (cursor.table == table) return cursor;
  }
  CacheCursor& cursor = cursors[next];
  next = (next + 1) % cursors.size();
  cursor = CacheCursor{};
  return cursor;
}

std::uint64_t NextSerial() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

PublicTable::PublicTable() : serial_(NextSerial()) {}

char* PublicTable::CacheRoom(std::size_t size, std::uint32_t* at) const {
  CacheCursor& cursor = CursorFor(serial_);
  if (cursor.table != serial_ || kCacheBlockBytes - cursor.used < size) {
    if (size > kCacheBlockBytes) return nullptr;
    const std::lock_guard<std::mutex> lock(cache_->mutex);
    std::vector<std::unique_ptr<char[]>>& blocks = cache_->blocks;
    const std::size_t limit = CacheLimit();
    if ((blocks.size() + 1) * kCacheBlockBytes > limit) return nullptr;
    // Reserved whole at once, so that adding a block never moves the
    // pointers that other threads read.
    blocks.reserve(limit / kCacheBlockBytes);
    blocks.push_back(std::make_unique<char[]>(kCacheBlockBytes));
    cursor = {serial_, blocks.size() - 1, 0};
  }
  *at = static_cast<std::uint32_t>(cursor.block * kCacheBlockBytes + cursor.used);
  char* const room = cache_->blocks[cursor.block].get() + cursor.used;
  cursor.used += size;
  return room;
}

std::string_view PublicTable::CachedName(const PdbPublicSymbol& p) const {
  return std::string_view(cache_->blocks[p.demangledAt() / kCacheBlockBytes].get() + p.demangledAt() % kCacheBlockBytes,
                          p.demangledLength());
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
         cache_->blocks.capacity() * sizeof(cache_->blocks[0]) + cache_->blocks.size() * kCacheBlockBytes +
         (nameIndex_ ? nameIndex_->MemoryBytes() : 0);
}

}  // namespace sorvanta
