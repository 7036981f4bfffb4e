#include "PublicsStream.h"

#include <algorithm>
#include <utility>

#include "ModuleStream.h"

namespace sorvanta {

namespace {

constexpr std::size_t kHeaderBytes = 28;  // the hash's size, then the address map's and others
constexpr std::size_t kHashHeaderBytes = 16;
constexpr std::uint32_t kHashSignature = 0xFFFFFFFF;
constexpr std::uint32_t kHashVersion = 0xEFFE0000u + 19990810u;
constexpr std::size_t kHashRecordBytes = 8;  // record offset + 1, reference count
constexpr std::uint32_t kFunctionFlag = 0x2;
// Flags, offset and segment come before the name in an S_PUB32 body.
constexpr std::size_t kNameAt = 10;

}  // namespace

HRESULT PublicsStream::Read(ByteView publics, ByteView records, std::vector<PublicRecord>* out,
                            bool withData) {
  out->clear();
  ByteReader reader(publics);
  std::uint32_t hashBytes = 0;
  ByteView hash;
  if (!reader.ReadU32(&hashBytes) || !reader.Skip(kHeaderBytes - 4) || !reader.ReadView(hashBytes, &hash)) {
    return E_PDB_CORRUPT;
  }
  ByteReader hashReader(hash);
  std::uint32_t signature = 0;
  std::uint32_t version = 0;
  std::uint32_t recordBytes = 0;
  ByteView hashRecords;
  if (!hashReader.ReadU32(&signature) || !hashReader.ReadU32(&version) ||
      !hashReader.ReadU32(&recordBytes) || !hashReader.Skip(4) ||
      signature != kHashSignature || version != kHashVersion ||
      recordBytes % kHashRecordBytes != 0 || !hashReader.ReadView(recordBytes, &hashRecords)) {
    return E_PDB_CORRUPT;
  }

  std::vector<std::uint32_t> offsets;
  offsets.reserve(hashRecords.size / kHashRecordBytes);
  for (std::size_t at = 0; at < hashRecords.size; at += kHashRecordBytes) {
    const std::uint32_t stored = Read32(hashRecords.data + at);
    if (stored == 0) return E_PDB_CORRUPT;  // stored as offset + 1
    offsets.push_back(stored - 1);
  }
  std::sort(offsets.begin(), offsets.end());

  std::vector<PublicRecord> found;
  std::uint64_t free = 0;  // where the previous record ended
  for (const std::uint32_t offset : offsets) {
    // Records follow one another without overlapping: a record listed
    // twice, or starting inside another, would let a small stream stand
    // for any number of publics.
    if (offset < free || offset > records.size || records.size - offset < 4) return E_PDB_CORRUPT;
    const std::uint16_t length = Read16(records.data + offset);
    if (Read16(records.data + offset + 2) != record::kPub32 || length < 2 + kNameAt ||
        length > records.size - offset - 2) {
      return E_PDB_CORRUPT;
    }
    free = std::uint64_t{offset} + 2 + length;
    const std::uint8_t* body = records.data + offset + 4;
    if (!withData && (Read32(body) & kFunctionFlag) == 0) continue;
    const std::size_t nameRoom = length - 2u - kNameAt;
    const void* nul = std::memchr(body + kNameAt, 0, nameRoom);
    PublicRecord p;
    p.nameOffset = offset + 4 + static_cast<std::uint32_t>(kNameAt);
    p.nameLength = static_cast<std::uint16_t>(
        nul ? static_cast<const std::uint8_t*>(nul) - (body + kNameAt) : nameRoom);
    p.offset = Read32(body + 4);
    p.segment = Read16(body + 8);
    found.push_back(p);
  }
  *out = std::move(found);
  return S_OK;
}

}  // namespace sorvanta
