#include "PublicSymbolTable.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "Utf8.h"
#include "llvm/Demangle/Demangle.h"
#include "llvm/Support/Endian.h"

namespace sorvanta {

namespace {

using llvm::support::endian::read16le;
using llvm::support::endian::read32le;

constexpr std::size_t kPublicsHeaderSize = 28;  // ends with the section count
constexpr std::size_t kHashHeaderSize = 16;
constexpr std::uint32_t kHashSignature = 0xFFFFFFFFu;
constexpr std::uint32_t kHashVersion = 0xEFFE0000u + 19990810u;
constexpr std::size_t kHashRecordSize = 8;  // record offset + 1, reference count
constexpr std::uint16_t kPub32 = 0x110E;    // S_PUB32
constexpr std::uint32_t kFunctionFlag = 0x2;
// Flags, offset and segment come before the name in an S_PUB32 body.
constexpr std::size_t kPubNameOffset = 10;

struct Found {
  std::uint32_t recordOffset;
  std::uint32_t flags;
  std::uint32_t offset;
  std::uint16_t segment;
  const char* name;
  std::uint16_t nameLength;
};

// The symbol-record offsets that the publics hash lists, or none when the
// stream has no hash this reader knows.
std::vector<std::uint32_t> RecordOffsets(const std::uint8_t* publics, std::size_t size) {
  std::vector<std::uint32_t> offsets;
  if (!publics || size < kPublicsHeaderSize + kHashHeaderSize) return offsets;
  const std::uint64_t hashBytes = read32le(publics);
  if (hashBytes > size - kPublicsHeaderSize) return offsets;
  const std::uint8_t* hash = publics + kPublicsHeaderSize;
  if (hashBytes < kHashHeaderSize || read32le(hash) != kHashSignature ||
      read32le(hash + 4) != kHashVersion) {
    return offsets;
  }
  const std::uint64_t recordBytes = read32le(hash + 8);
  if (recordBytes > hashBytes - kHashHeaderSize) return offsets;
  const std::size_t count = static_cast<std::size_t>(recordBytes / kHashRecordSize);
  offsets.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t stored = read32le(hash + kHashHeaderSize + i * kHashRecordSize);
    if (stored != 0) offsets.push_back(stored - 1);  // stored as offset + 1
  }
  return offsets;
}

// The S_PUB32 record at offset, if one lies there whole.
bool ReadPublic(const std::uint8_t* records, std::size_t size, std::uint32_t offset, Found* out) {
  if (!records || size < 4 || offset > size - 4) return false;
  const std::uint16_t length = read16le(records + offset);
  if (read16le(records + offset + 2) != kPub32) return false;
  if (length < 2 || length > size - offset - 2) return false;
  const std::size_t bodySize = length - 2u;
  if (bodySize < kPubNameOffset) return false;
  const std::uint8_t* body = records + offset + 4;
  out->recordOffset = offset;
  out->flags = read32le(body);
  out->offset = read32le(body + 4);
  out->segment = read16le(body + 8);
  out->name = reinterpret_cast<const char*>(body + kPubNameOffset);
  out->nameLength = static_cast<std::uint16_t>(strnlen(out->name, bodySize - kPubNameOffset));
  return true;
}

}  // namespace

void PublicSymbolTable::Build(const std::uint8_t* publicsStream, std::size_t publicsSize,
                              const std::uint8_t* recordStream, std::size_t recordSize,
                              std::vector<Section> sections) {
  entries_.clear();
  byAddress_.clear();
  names_.clear();
  sections_ = std::move(sections);

  std::vector<std::uint32_t> offsets = RecordOffsets(publicsStream, publicsSize);
  // A damaged hash may list a record twice; each public counts once.
  std::sort(offsets.begin(), offsets.end());
  offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());

  struct Sorted {
    std::uint64_t key;  // rva, or past every rva for a public without an address
    std::uint32_t recordOffset;
    Entry entry;
  };
  std::vector<Sorted> sorted;
  for (const std::uint32_t offset : offsets) {
    Found found{};
    if (!ReadPublic(recordStream, recordSize, offset, &found)) continue;
    if ((found.flags & kFunctionFlag) == 0) continue;
    Entry entry{static_cast<std::uint32_t>(names_.size()), found.nameLength, found.segment,
                found.offset};
    names_.append(found.name, found.nameLength);
    std::uint64_t key = UINT64_MAX;
    if (found.segment != 0 && found.segment <= sections_.size()) {
      const std::uint64_t rva = std::uint64_t{sections_[found.segment - 1].rva} + found.offset;
      if (rva <= UINT32_MAX) key = rva;
    }
    sorted.push_back({key, offset, entry});
  }
  // Offsets are already ascending, so a stable sort keeps record order
  // among publics at one address.
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Sorted& a, const Sorted& b) { return a.key < b.key; });

  entries_.reserve(sorted.size());
  for (const Sorted& s : sorted) {
    entries_.push_back(s.entry);
    if (s.key == UINT64_MAX) continue;
    const Section& section = sections_[s.entry.segment - 1];
    byAddress_.push_back({static_cast<std::uint32_t>(s.key),
                          std::uint64_t{section.rva} + section.size});
  }
}

std::string PublicSymbolTable::RawName(std::uint32_t index) const {
  const Entry& e = entries_[index];
  return names_.substr(e.nameOffset, e.nameLength);
}

std::string PublicSymbolTable::Name(std::uint32_t index) const {
  std::string raw = RawName(index);
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(
      llvm::microsoftDemangle(raw.c_str(), nullptr, nullptr, nullptr, &status), &std::free);
  if (status != llvm::demangle_success || !demangled) return raw;
  return demangled.get();
}

std::optional<std::uint32_t> PublicSymbolTable::Rva(std::uint32_t index) const {
  if (index >= byAddress_.size()) return std::nullopt;
  return byAddress_[index].rva;
}

std::optional<std::uint32_t> PublicSymbolTable::FindAtOrBelow(std::uint32_t rva) const {
  const auto above = std::upper_bound(byAddress_.begin(), byAddress_.end(), rva,
                                      [](std::uint32_t v, const Located& l) { return v < l.rva; });
  if (above == byAddress_.begin()) return std::nullopt;
  auto first = above - 1;
  while (first != byAddress_.begin() && (first - 1)->rva == first->rva) --first;
  if (rva >= first->end) return std::nullopt;  // past the end of that public's section
  return static_cast<std::uint32_t>(first - byAddress_.begin());
}

std::vector<std::uint32_t> PublicSymbolTable::FindByName(const std::wstring& name,
                                                         bool caseInsensitive) const {
  std::vector<std::uint32_t> found;
  const std::u32string folded = FoldWide(name);
  for (std::uint32_t i = 0; i < entries_.size(); ++i) {
    const std::string shown = Name(i);
    const bool match = caseInsensitive ? FoldedEqualsUtf8(shown.data(), shown.size(), folded)
                                       : ExactEqualsUtf8(shown.data(), shown.size(), name);
    if (match) found.push_back(i);
  }
  return found;
}

}  // namespace sorvanta
