#include "DbiStream.h"

#include <utility>

namespace sorvanta {

namespace {

// The header, 64 bytes.
constexpr std::size_t kHeaderBytes = 64;
constexpr std::size_t kSignatureAt = 0;
constexpr std::size_t kVersionAt = 4;
constexpr std::size_t kPublicsStreamAt = 16;
constexpr std::size_t kSymbolRecordStreamAt = 20;
constexpr std::size_t kModuleInfoBytesAt = 24;  // then the other substreams' sizes
constexpr std::size_t kSectionContributionBytesAt = 28;
constexpr std::size_t kSectionMapBytesAt = 32;
constexpr std::size_t kFileInfoBytesAt = 36;
constexpr std::size_t kTypeServerMapBytesAt = 40;
constexpr std::size_t kDebugHeaderBytesAt = 48;
constexpr std::size_t kEcBytesAt = 52;
constexpr std::size_t kMachineAt = 58;

// Every DBI stream a linker of the last twenty years wrote starts with
// this signature and a version of at least VC 7.0's.
constexpr std::uint32_t kSignature = 0xFFFFFFFF;
constexpr std::uint32_t kVersionVC70 = 19990903;

// A module descriptor: a fixed part, then its two names, padded to four.
constexpr std::size_t kDescriptorBytes = 64;
constexpr std::size_t kDescriptorStreamAt = 34;
constexpr std::size_t kDescriptorSymbolBytesAt = 36;
constexpr std::size_t kDescriptorC11BytesAt = 40;
constexpr std::size_t kDescriptorC13BytesAt = 44;

// Slot of the section headers' stream in the optional debug header, a list
// of 16-bit stream numbers.
constexpr std::size_t kSectionHeaderSlot = 5;

}  // namespace

HRESULT DbiStream::Parse(std::vector<std::uint8_t> bytes, DbiStream* out) {
  if (bytes.size() < kHeaderBytes) return E_PDB_CORRUPT;
  const std::uint8_t* const h = bytes.data();
  if (Read32(h + kSignatureAt) != kSignature || Read32(h + kVersionAt) < kVersionVC70) {
    return E_PDB_CORRUPT;
  }
  // The substreams follow the header in this order and fill the stream;
  // the optional debug header is the last.
  const std::uint32_t sizes[] = {
      Read32(h + kModuleInfoBytesAt),    Read32(h + kSectionContributionBytesAt),
      Read32(h + kSectionMapBytesAt),    Read32(h + kFileInfoBytesAt),
      Read32(h + kTypeServerMapBytesAt), Read32(h + kEcBytesAt),
      Read32(h + kDebugHeaderBytesAt),
  };
  std::uint64_t total = kHeaderBytes;
  for (const std::uint32_t size : sizes) total += size;
  if (total != bytes.size()) return E_PDB_CORRUPT;
  for (int i = 0; i < 5; ++i) {
    if (sizes[i] % 4 != 0) return E_PDB_CORRUPT;  // these are always aligned
  }

  DbiStream dbi;
  dbi.publicsStream_ = Read16(h + kPublicsStreamAt);
  dbi.symbolRecordStream_ = Read16(h + kSymbolRecordStreamAt);
  dbi.machine_ = Read16(h + kMachineAt);
  const std::uint64_t debugHeaderAt = total - sizes[6];
  if ((kSectionHeaderSlot + 1) * 2 <= sizes[6]) {
    dbi.sectionHeaderStream_ = Read16(h + debugHeaderAt + kSectionHeaderSlot * 2);
  }

  // The descriptors, read straight from their substream: the module count
  // in the file-info substream is not to be trusted.
  ByteReader reader(ByteView{h + kHeaderBytes, sizes[0]});
  while (reader.remaining() > 0) {
    ByteView fixed;
    ModuleDescriptor module;
    if (!reader.ReadView(kDescriptorBytes, &fixed) || !reader.ReadCString(&module.name) ||
        !reader.ReadCString(&module.objectName)) {
      break;
    }
    reader.AlignTo(4);
    module.stream = Read16(fixed.data + kDescriptorStreamAt);
    module.symbolBytes = Read32(fixed.data + kDescriptorSymbolBytesAt);
    module.c11Bytes = Read32(fixed.data + kDescriptorC11BytesAt);
    module.c13Bytes = Read32(fixed.data + kDescriptorC13BytesAt);
    dbi.modules_.push_back(module);
  }
  dbi.bytes_ = std::move(bytes);  // the vector's buffer, and so the views, stay
  *out = std::move(dbi);
  return S_OK;
}

}  // namespace sorvanta
