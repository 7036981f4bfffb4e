#pragma once

#include <cstdint>
#include <vector>

#include "Bytes.h"
#include "HResult.h"

namespace sorvanta {

// A public symbol (of a function, or of data): an S_PUB32 record of the
// symbol-record stream, as the publics stream lists it.
struct PublicRecord {
  std::uint32_t nameOffset = 0;  // in the symbol-record stream
  std::uint16_t nameLength = 0;
  std::uint16_t segment = 0;
  std::uint32_t offset = 0;
};

// The publics stream: a header, then a hash table whose records give the
// offsets of the public symbols in the symbol-record stream.
class PublicsStream {
 public:
  // The function publics that the hash lists (and the data publics too,
  // with withData), in record-stream order.
  // E_PDB_CORRUPT when the header or hash is damaged, or when an offset
  // lies outside the record stream, is listed twice, or points at anything
  // but a whole S_PUB32 record that no other listed record overlaps: a
  // damaged table is refused whole rather than read in part.
  static HRESULT Read(ByteView publics, ByteView records, std::vector<PublicRecord>* out,
                      bool withData = false);
};

}  // namespace sorvanta
