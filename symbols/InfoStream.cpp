#include "InfoStream.h"

#include <algorithm>
#include <utility>

namespace sorvanta {

namespace {

constexpr std::size_t kHeaderBytes = 28;  // version, signature, age, GUID

// The versions of the Microsoft tools that wrote PDB files, from VC 2.0 on.
bool IsKnownVersion(std::uint32_t version) {
  switch (version) {
    case 19941610:  // VC 2.0
    case 19950623:  // VC 4.0
    case 19950814:  // VC 4.1
    case 19960307:  // VC 5.0
    case 19970604:  // VC 6.0
    case 19990604:  // VC 7.0, an early revision
    case 20000404:  // VC 7.0 and every later tool
    case 20030901:  // VC 8.0
    case 20091201:  // VC 11.0
    case 20140508:  // VC 14.0
      return true;
    default:
      return false;
  }
}

}  // namespace

HRESULT InfoStream::Parse(std::vector<std::uint8_t> bytes, InfoStream* out) {
  if (bytes.size() < kHeaderBytes) return E_PDB_CORRUPT;
  InfoStream info;
  info.version_ = Read32(bytes.data());
  info.signature_ = Read32(bytes.data() + 4);
  info.age_ = Read32(bytes.data() + 8);
  std::copy(bytes.begin() + 12, bytes.begin() + kHeaderBytes, info.guid_.begin());
  if (!IsKnownVersion(info.version_)) return E_PDB_CORRUPT;
  info.bytes_ = std::move(bytes);
  *out = std::move(info);
  return S_OK;
}

// The map is a hash table written as: the names' buffer, the entry count
// and capacity, the present and deleted bit vectors, then one (name offset,
// stream) pair per present bit, in bit order. Every offset is checked here,
// whatever the counts declare.
std::optional<std::uint32_t> InfoStream::NamedStream(std::string_view name) const {
  ByteReader reader(ByteView{bytes_.data(), bytes_.size()});
  reader.Skip(kHeaderBytes);
  std::uint32_t stringBytes = 0;
  ByteView strings;
  if (!reader.ReadU32(&stringBytes) || !reader.ReadView(stringBytes, &strings)) return std::nullopt;
  std::uint32_t entries = 0;
  std::uint32_t capacity = 0;
  std::uint32_t presentWords = 0;
  ByteView present;
  std::uint32_t deletedWords = 0;
  if (!reader.ReadU32(&entries) || !reader.ReadU32(&capacity) || !reader.ReadU32(&presentWords) ||
      !reader.ReadView(std::uint64_t{presentWords} * 4, &present) ||
      !reader.ReadU32(&deletedWords) || !reader.Skip(std::uint64_t{deletedWords} * 4)) {
    return std::nullopt;
  }
  // Empty words are skipped whole, so a long, mostly empty vector costs
  // little.
  for (std::size_t word = 0; word < presentWords; ++word) {
    for (std::uint32_t bits = Read32(present.data + word * 4); bits != 0; bits &= bits - 1) {
      std::uint32_t key = 0;
      std::uint32_t value = 0;
      if (!reader.ReadU32(&key) || !reader.ReadU32(&value)) return std::nullopt;
      std::string_view entry;
      if (TextAt(strings, key, &entry) && entry == name) return value;
    }
  }
  return std::nullopt;
}

}  // namespace sorvanta
