#include "TypeStream.h"

#include <utility>

namespace sorvanta {

namespace {

// The header: version, header size, first and end index, record bytes,
// then the hash streams' description.
constexpr std::size_t kMinHeaderBytes = 56;

constexpr std::uint16_t kClass = 0x1504;
constexpr std::uint16_t kStructure = 0x1505;
constexpr std::uint16_t kUnion = 0x1506;
constexpr std::uint16_t kEnum = 0x1507;
constexpr std::uint16_t kInterface = 0x1519;

// Skips a numeric leaf (a size in a class record): a value below 0x8000
// is the leaf itself, else a kind says how many bytes follow.
bool SkipNumeric(ByteReader& reader) {
  std::uint16_t leaf = 0;
  if (!reader.ReadU16(&leaf)) return false;
  if (leaf < 0x8000) return true;
  switch (leaf) {
    case 0x8000: return reader.Skip(1);                    // char
    case 0x8001: case 0x8002: return reader.Skip(2);       // short, unsigned short
    case 0x8003: case 0x8004: case 0x8005: return reader.Skip(4);  // long, unsigned long, real32
    case 0x8009: case 0x800A: case 0x8006: return reader.Skip(8);  // quad words, real64
    case 0x8007: return reader.Skip(10);                   // real80
    case 0x8008: case 0x8017: case 0x8018: return reader.Skip(16);  // real128, octa words
    default: return false;
  }
}

}  // namespace

HRESULT TypeStream::Parse(std::vector<std::uint8_t> bytes, TypeStream* out) {
  TypeStream stream;
  if (!bytes.empty()) {
    ByteReader reader(ByteView{bytes.data(), bytes.size()});
    std::uint32_t version = 0, headerBytes = 0, first = 0, end = 0, recordBytes = 0;
    if (bytes.size() < kMinHeaderBytes || !reader.ReadU32(&version) || !reader.ReadU32(&headerBytes) ||
        !reader.ReadU32(&first) || !reader.ReadU32(&end) || !reader.ReadU32(&recordBytes) ||
        headerBytes < kMinHeaderBytes || headerBytes > bytes.size() ||
        recordBytes > bytes.size() - headerBytes) {
      return E_PDB_CORRUPT;
    }
    stream.firstIndex_ = first;
    stream.records_ = ByteView{bytes.data() + headerBytes, recordBytes};
  }
  stream.bytes_ = std::move(bytes);  // the buffer moves, so the view stays
  *out = std::move(stream);
  return S_OK;
}

void TypeStream::IndexRecords() const {
  if (walked_) return;
  std::vector<std::uint32_t> offsets;
  ByteReader reader(records_);
  std::uint16_t length = 0;
  while (reader.remaining() >= 4) {
    const auto at = static_cast<std::uint32_t>(reader.offset());
    if (!reader.ReadU16(&length) || length < 2 || !reader.Skip(length)) break;
    offsets.push_back(at);
  }
  offsets_ = std::move(offsets);
  walked_ = true;
}

bool TypeStream::Record(std::uint32_t index, std::uint16_t* kind, ByteView* data) const {
  IndexRecords();
  if (index < firstIndex_ || index - firstIndex_ >= offsets_.size()) return false;
  const std::uint8_t* record = records_.data + offsets_[index - firstIndex_];
  *kind = Read16(record + 2);
  *data = ByteView{record + 4, Read16(record) - 2u};
  return true;
}

bool TypeStream::Name(std::uint32_t index, std::string_view* name) const {
  std::uint16_t kind = 0;
  ByteView data;
  if (!Record(index, &kind, &data)) return false;
  ByteReader reader(data);
  switch (kind) {
    case kFuncId:
    case kMemberFuncId:
      return reader.Skip(8) && reader.ReadCString(name);  // scope or class, function type
    case kStringId:
      return reader.Skip(4) && reader.ReadCString(name);  // the list of substrings
    case kClass:
    case kStructure:
    case kInterface:
      // Member count, properties, field list, derived list, shape, size.
      return reader.Skip(16) && SkipNumeric(reader) && reader.ReadCString(name);
    case kUnion:
      return reader.Skip(8) && SkipNumeric(reader) && reader.ReadCString(name);
    case kEnum:
      return reader.Skip(12) && reader.ReadCString(name);
    default:
      return false;
  }
}

bool TypeStream::FunctionScope(std::uint32_t index, std::uint16_t* kind, std::uint32_t* scope) const {
  ByteView data;
  if (!Record(index, kind, &data) || (*kind != kFuncId && *kind != kMemberFuncId) || data.size < 4) {
    return false;
  }
  *scope = Read32(data.data);
  return true;
}

}  // namespace sorvanta
