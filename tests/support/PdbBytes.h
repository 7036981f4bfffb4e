#pragma once

// The bytes of PDB streams, written by hand for tests: the one builder the
// suites share, so that a test can give any field any value (a damaged one
// too) and show precisely which rule it is about. Stream readers are tested
// on these bytes directly; SmallMsf.h puts them into a container.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sorvanta::testing {

using Bytes = std::vector<std::uint8_t>;

// Appends little-endian fields.
class ByteWriter {
 public:
  ByteWriter& U8(std::uint8_t v) {
    bytes.push_back(v);
    return *this;
  }
  ByteWriter& U16(std::uint16_t v) {
    bytes.push_back(static_cast<std::uint8_t>(v));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
  }
  ByteWriter& U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  // The text and its NUL.
  ByteWriter& Text(const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
    return *this;
  }
  ByteWriter& Raw(const Bytes& raw) {
    bytes.insert(bytes.end(), raw.begin(), raw.end());
    return *this;
  }
  ByteWriter& Zeros(std::size_t count) {
    bytes.insert(bytes.end(), count, 0);
    return *this;
  }
  ByteWriter& Align4() {
    while (bytes.size() % 4 != 0) bytes.push_back(0);
    return *this;
  }
  // Overwrites a 32-bit field already written.
  void Patch32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  std::uint32_t size() const { return static_cast<std::uint32_t>(bytes.size()); }

  Bytes bytes;
};

constexpr std::uint32_t kInfoVersionVC70 = 20000404;
constexpr std::uint16_t kNoStream = 0xFFFF;

// The info stream: its header, then a name map with the given entries.
inline Bytes InfoStreamBytes(const std::vector<std::pair<std::string, std::uint32_t>>& named = {},
                             std::uint32_t version = kInfoVersionVC70, std::uint32_t age = 1,
                             const Bytes& guid = Bytes(16, 0x11)) {
  ByteWriter w;
  w.U32(version).U32(0x5EED).U32(age).Raw(guid);
  ByteWriter names;
  std::vector<std::uint32_t> offsets;
  for (const auto& entry : named) {
    offsets.push_back(names.size());
    names.Text(entry.first);
  }
  w.U32(names.size()).Raw(names.bytes);
  const auto count = static_cast<std::uint32_t>(named.size());
  w.U32(count).U32(count + 1);
  // One present bit per entry, in the first words; nothing deleted.
  const std::uint32_t words = (count + 31) / 32;
  w.U32(words);
  for (std::uint32_t word = 0; word < words; ++word) {
    const std::uint32_t bits = count - word * 32;
    w.U32(bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1);
  }
  w.U32(0);
  for (std::uint32_t i = 0; i < count; ++i) w.U32(offsets[i]).U32(named[i].second);
  return w.bytes;
}

// A module of the DBI stream.
struct DbiModule {
  std::uint16_t stream = kNoStream;
  std::uint32_t symbolBytes = 0;
  std::uint32_t c11Bytes = 0;
  std::uint32_t c13Bytes = 0;
  std::string name = "a.obj";
  std::string objectName = "a.obj";
};

// The DBI stream: header, module descriptors and, when sectionHeaders is
// a stream, an optional debug header that names it.
inline Bytes DbiStreamBytes(const std::vector<DbiModule>& modules,
                            std::uint16_t sectionHeaders = kNoStream,
                            std::uint16_t publics = kNoStream, std::uint16_t symbolRecords = kNoStream) {
  ByteWriter descriptors;
  for (const DbiModule& m : modules) {
    const std::size_t at = descriptors.size();
    descriptors.Zeros(64);
    descriptors.bytes[at + 34] = static_cast<std::uint8_t>(m.stream);
    descriptors.bytes[at + 35] = static_cast<std::uint8_t>(m.stream >> 8);
    descriptors.Patch32(at + 36, m.symbolBytes);
    descriptors.Patch32(at + 40, m.c11Bytes);
    descriptors.Patch32(at + 44, m.c13Bytes);
    descriptors.Text(m.name).Text(m.objectName).Align4();
  }
  ByteWriter debugHeader;
  if (sectionHeaders != kNoStream) {
    for (int slot = 0; slot < 11; ++slot) debugHeader.U16(slot == 5 ? sectionHeaders : kNoStream);
  }
  ByteWriter w;
  w.U32(0xFFFFFFFF).U32(19990903).U32(1);              // signature, version, age
  w.U16(kNoStream).U16(0).U16(publics).U16(0).U16(symbolRecords).U16(0);
  w.U32(descriptors.size()).U32(0).U32(0).U32(0).U32(0);  // substream sizes
  w.U32(0).U32(debugHeader.size()).U32(0);              // MFC index, debug header, EC
  w.U16(0).U16(0x8664).U32(0);                          // flags, machine, reserved
  w.Raw(descriptors.bytes).Raw(debugHeader.bytes);
  return w.bytes;
}

// Section headers: (RVA, size in memory) of sections 1, 2, ...
inline Bytes SectionHeaderBytes(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& sections) {
  ByteWriter w;
  for (const auto& [rva, size] : sections) {
    w.Raw(Bytes{'.', 't', 'e', 'x', 't', 0, 0, 0}).U32(size).U32(rva).Zeros(24);
  }
  return w.bytes;
}

// The string table ("/names") holding strings; *offsets receives where
// each one is.
inline Bytes StringTableBytes(const std::vector<std::string>& strings,
                              std::vector<std::uint32_t>* offsets = nullptr) {
  ByteWriter texts;
  texts.U8(0);  // offset 0 is the empty string
  for (const std::string& s : strings) {
    if (offsets) offsets->push_back(texts.size());
    texts.Text(s);
  }
  ByteWriter w;
  w.U32(0xEFFEEFFE).U32(1).U32(texts.size()).Raw(texts.bytes);
  w.U32(1).U32(0).U32(static_cast<std::uint32_t>(strings.size()));  // one empty bucket, the count
  return w.bytes;
}

// A symbol record: length, kind, payload, padded to four bytes.
inline void AppendRecord(ByteWriter& out, std::uint16_t kind, const Bytes& payload) {
  const std::size_t padded = (2 + payload.size() + 2 + 3) / 4 * 4 - 2;
  out.U16(static_cast<std::uint16_t>(padded)).U16(kind).Raw(payload);
  for (std::size_t i = 2 + payload.size(); i < padded; ++i) out.U8(0);
}

// A C13 subsection: kind, length, contents, padded to four bytes.
inline void AppendSubsection(ByteWriter& out, std::uint32_t kind, const Bytes& contents) {
  out.U32(kind).U32(static_cast<std::uint32_t>(contents.size())).Raw(contents).Align4();
}

// File checksums naming the given string-table offsets (no checksums);
// *entries receives each entry's offset, which line blocks refer to.
inline Bytes FileChecksumsBytes(const std::vector<std::uint32_t>& nameOffsets,
                                std::vector<std::uint32_t>* entries = nullptr) {
  ByteWriter w;
  for (const std::uint32_t name : nameOffsets) {
    if (entries) entries->push_back(w.size());
    w.U32(name).U8(0).U8(0).Align4();
  }
  return w.bytes;
}

// A line subsection: a contribution and its blocks of (offset, line[,
// column]) entries, each block naming its file by checksum entry.
struct LineEntry {
  std::uint32_t offset = 0;
  std::uint32_t line = 0;
  std::uint16_t column = 0;
};
struct LineBlock {
  std::uint32_t checksum = 0;
  std::vector<LineEntry> lines;
};
inline Bytes LinesBytes(std::uint16_t segment, std::uint32_t offset, std::uint32_t codeSize,
                        const std::vector<LineBlock>& blocks, bool columns = false) {
  ByteWriter w;
  w.U32(offset).U16(segment).U16(columns ? 1 : 0).U32(codeSize);
  for (const LineBlock& b : blocks) {
    const auto count = static_cast<std::uint32_t>(b.lines.size());
    w.U32(b.checksum).U32(count).U32(12 + count * (columns ? 12 : 8));
    for (const LineEntry& l : b.lines) w.U32(l.offset).U32(l.line | 0x80000000u);
    if (columns) {
      for (const LineEntry& l : b.lines) w.U16(l.column).U16(0);
    }
  }
  return w.bytes;
}

// The publics stream whose hash lists the given record offsets.
inline Bytes PublicsStreamBytes(const std::vector<std::uint32_t>& recordOffsets,
                                std::uint32_t signature = 0xFFFFFFFF) {
  ByteWriter hash;
  hash.U32(signature).U32(0xEFFE0000u + 19990810u).U32(static_cast<std::uint32_t>(recordOffsets.size() * 8)).U32(0);
  for (const std::uint32_t offset : recordOffsets) hash.U32(offset + 1).U32(1);
  ByteWriter w;
  w.U32(hash.size()).Zeros(24).Raw(hash.bytes);
  return w.bytes;
}

// An S_PUB32 record for the symbol-record stream.
inline void AppendPublic(ByteWriter& out, const std::string& name, std::uint16_t segment,
                         std::uint32_t offset, std::uint32_t flags = 0x2) {
  ByteWriter body;
  body.U32(flags).U32(offset).U16(segment).Text(name);
  AppendRecord(out, 0x110E, body.bytes);
}

}  // namespace sorvanta::testing
