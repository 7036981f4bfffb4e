#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Demangler.h"
#include "FunctionNameIndex.h"
#include "HResult.h"
#include "PdbPublicSymbol.h"
#include "SectionTable.h"

namespace sorvanta {

// The public symbols of an image that mark functions (and those that mark
// data, when asked), as records that point into the symbol-record stream,
// which the table keeps.
//
// Order: by relative address, publics at the same address in record-stream
// order; publics whose segment names no section come last. Names are shown
// demangled; each public's demangled text is made once and kept in a cache
// of at most kCacheBytes and kCacheBytesPerPublic for each public (past that
// it is made again on each use), which keeps a table of any size within
// 48 bytes a public and a fixed allowance. The cache grows in blocks as
// names are shown, so a file with few names shown does not pay for all of it.
class PublicTable {
 public:
  PublicTable();

  static constexpr std::size_t kCacheBytes = std::size_t{16} << 20;
  static constexpr std::size_t kCacheBytesPerPublic = 8;
  // A block holds the longest demangled name that is shown.
  static constexpr std::size_t kCacheBlockBytes = std::size_t{64} << 10;

  // Reads the publics stream and the symbol-record stream it points into;
  // the data publics too with withData. E_PDB_CORRUPT when either is
  // damaged (see PublicsStream), E_OUTOFMEMORY;
  // the table is left empty then.
  HRESULT Build(const std::vector<std::uint8_t>& publicsStream, std::vector<std::uint8_t> recordStream,
                const SectionTable& sections, std::uint16_t imageHandle,
                DemangleStyle style = DemangleStyle::kFull, bool withData = false);

  std::size_t size() const { return records_.size(); }
  const PdbPublicSymbol& record(std::uint32_t index) const { return records_[index]; }
  PdbPublicSymbol* slot(std::uint32_t index) { return &records_[index]; }
  std::uint32_t IndexOf(const PdbPublicSymbol& record) const {
    return static_cast<std::uint32_t>(&record - records_.data());
  }

  // A public's RVA, which the caller knows it has.
  std::uint32_t rva(std::uint32_t index) const { return rvas_[index]; }

  // The name as stored, and demangled (the stored name when it does not
  // demangle). The view is into the table or into *scratch. Threads may
  // ask for names at once, each with its own scratch.
  std::string_view RawName(std::uint32_t index) const;
  std::string_view Name(std::uint32_t index, std::string* scratch) const;

  // The public with the greatest address at or below rva inside its
  // section (the first of several at that address); none when rva lies
  // outside the section of the public below it.
  std::optional<std::uint32_t> FindAtOrBelow(std::uint32_t rva) const;
  // Publics whose demangled name equals name (UTF-8): with case folded
  // when caseInsensitive, else exactly. In table order. The first search
  // indexes every public's name.
  std::vector<std::uint32_t> Find(std::string_view name, bool caseInsensitive) const;

  std::uint32_t maxRva() const { return located_ == 0 ? 0 : *records_[located_ - 1].rva(); }
  std::size_t memoryBytes() const;

 private:
  std::vector<std::uint8_t> recordBytes_;
  mutable std::vector<PdbPublicSymbol> records_;  // their cache fields change as names are shown
  std::vector<std::uint32_t> rvas_;         // per public with an address, for finding them
  std::vector<std::uint32_t> buckets_;      // bucket b: rvas_[buckets_[b], buckets_[b+1]) have rva >> shift_ == b
  unsigned shift_ = 0;
  std::vector<std::uint32_t> sectionEnds_;  // per public with an address: end of its section
  std::size_t located_ = 0;  // records_[0, located_) have an address
  DemangleStyle style_ = DemangleStyle::kFull;
  // Demangled names; blocks never move, so views into them stay valid.
  // Each thread fills a block of its own (see CacheRoom).
  struct Cache {
    std::mutex mutex;  // held while a block is added
    std::vector<std::unique_ptr<char[]>> blocks;
  };
  std::unique_ptr<Cache> cache_ = std::make_unique<Cache>();
  std::uint64_t serial_;  // tells this table's cache from others', for the threads' blocks
  mutable std::optional<FunctionNameIndex> nameIndex_;

  std::string_view CachedName(const PdbPublicSymbol& p) const;
  // Room for size bytes in this thread's block of the cache, and its
  // place; null when the cache has no more room.
  char* CacheRoom(std::size_t size, std::uint32_t* at) const;
  std::size_t CacheLimit() const {
    return std::min<std::size_t>(kCacheBytes + kCacheBytesPerPublic * records_.size(), UINT32_MAX);
  }
};

}  // namespace sorvanta
