#pragma once

// Whole PDB files made by hand from stream bytes (PdbBytes.h) in a small
// container (SmallMsf.h): fast to build at any size, and able to hold what
// no compiler writes, such as thousands of functions folded onto one
// address or a publics hash that points at overlapping records.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "PdbBytes.h"
#include "SmallMsf.h"

namespace sorvanta::testing {

struct CraftedModule {
  ByteWriter symbols;  // records after the CodeView signature
  ByteWriter c13;      // C13 subsections
  std::string name = "crafted.obj";
};

struct CraftedPdb {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> sections{{0x1000, 0x10000000}};
  std::vector<std::string> strings;  // the string table; offsets via StringOffsets()
  std::vector<CraftedModule> modules;
  bool withPublics = false;
  ByteWriter records;                // the symbol-record stream
  std::vector<std::uint32_t> hashed; // record offsets the publics hash lists
};

// Where each string of pdb.strings lies in the string table.
inline std::vector<std::uint32_t> StringOffsets(const std::vector<std::string>& strings) {
  std::vector<std::uint32_t> offsets;
  StringTableBytes(strings, &offsets);
  return offsets;
}

// An S_GPROC32 record without a scope end (the walk goes on after it).
inline void AppendProcedure(ByteWriter& out, const std::string& name, std::uint16_t segment,
                            std::uint32_t offset, std::uint32_t codeSize) {
  ByteWriter body;
  body.U32(0).U32(0).U32(0).U32(codeSize).U32(0).U32(0).U32(0).U32(offset).U16(segment).U8(0).Text(name);
  AppendRecord(out, 0x1110, body.bytes);
}

// Streams: 1 info (naming /names), 3 DBI, 4 section headers, 5 /names,
// 6 publics, 7 symbol records, then one per module.
inline std::vector<SmallStream> CraftedStreams(const CraftedPdb& pdb) {
  constexpr std::uint16_t kFirstModule = 8;
  std::vector<SmallStream> streams(kFirstModule + pdb.modules.size());
  streams[1].bytes = InfoStreamBytes({{"/names", 5}});
  std::vector<DbiModule> modules;
  for (std::size_t i = 0; i < pdb.modules.size(); ++i) {
    const CraftedModule& m = pdb.modules[i];
    DbiModule d;
    d.stream = static_cast<std::uint16_t>(kFirstModule + i);
    d.symbolBytes = 4 + m.symbols.size();
    d.c13Bytes = m.c13.size();
    d.name = d.objectName = m.name;
    modules.push_back(d);
    ByteWriter stream;
    stream.U32(4).Raw(m.symbols.bytes).Raw(m.c13.bytes);  // CV_SIGNATURE_C13
    streams[d.stream].bytes = std::move(stream.bytes);
  }
  streams[3].bytes = DbiStreamBytes(modules, 4, pdb.withPublics ? 6 : kNoStream, pdb.withPublics ? 7 : kNoStream);
  streams[4].bytes = SectionHeaderBytes(pdb.sections);
  streams[5].bytes = StringTableBytes(pdb.strings);
  if (pdb.withPublics) {
    streams[6].bytes = PublicsStreamBytes(pdb.hashed);
    streams[7].bytes = pdb.records.bytes;
  }
  return streams;
}

inline bool WriteCraftedPdb(const CraftedPdb& pdb, const std::string& path) {
  return WriteSmallMsf(path, 4096, CraftedStreams(pdb));
}

// ---- The hostile files the bound tests share.

// One module of `functions` functions, 16 bytes apart, each with a line
// subsection naming its own file-checksum entry; the entries all name one
// long path (64 KiB) or, when spread, each names a different offset inside
// it (a shorter suffix each time).
inline CraftedPdb ChecksumsIntoOneLongPath(std::uint32_t functions, bool spread) {
  CraftedPdb pdb;
  pdb.strings = {"C:\\" + std::string(64 * 1024 - 4, 'p') + "\\"};
  const std::uint32_t path = StringOffsets(pdb.strings)[0];
  std::vector<std::uint32_t> names;
  for (std::uint32_t i = 0; i < functions; ++i) names.push_back(spread ? path + (i * 16) % (64 * 1024) : path);
  CraftedModule m;
  std::vector<std::uint32_t> entries;
  AppendSubsection(m.c13, 0xF4, FileChecksumsBytes(names, &entries));
  for (std::uint32_t i = 0; i < functions; ++i) {
    AppendProcedure(m.symbols, "f" + std::to_string(i), 1, i * 16, 16);
    AppendSubsection(m.c13, 0xF2, LinesBytes(1, i * 16, 16, {{entries[i], {{0, i + 1}}}}));
  }
  pdb.modules.push_back(std::move(m));
  return pdb;
}

// One module whose functions all start at one address (an identical-code
// folding linker's work), each with its own line subsection there, naming
// one of a few files in turn.
inline CraftedPdb FoldedFunctions(std::uint32_t functions) {
  CraftedPdb pdb;
  pdb.strings = {"a.cpp", "b.cpp", "c.cpp"};
  CraftedModule m;
  std::vector<std::uint32_t> entries;
  AppendSubsection(m.c13, 0xF4, FileChecksumsBytes(StringOffsets(pdb.strings), &entries));
  for (std::uint32_t i = 0; i < functions; ++i) {
    AppendProcedure(m.symbols, "folded" + std::to_string(i), 1, 0x10, 0x20);
    AppendSubsection(m.c13, 0xF2, LinesBytes(1, 0x10, 0x20, {{entries[i % 3], {{0, i + 1}}}}));
  }
  pdb.modules.push_back(std::move(m));
  return pdb;
}

// A function, and a publics hash that points at every even offset of a
// record stream of repeated 0E 11 bytes: each is the start of a valid
// S_PUB32 record (length 0x110E, kind 0x110E) that overlaps the others.
inline CraftedPdb OverlappingPublics(std::uint32_t recordBytes) {
  CraftedPdb pdb;
  CraftedModule m;
  AppendProcedure(m.symbols, "main", 1, 0x10, 0x10);
  pdb.modules.push_back(std::move(m));
  pdb.withPublics = true;
  for (std::uint32_t i = 0; i < recordBytes / 2; ++i) pdb.records.U8(0x0E).U8(0x11);
  for (std::uint32_t at = 0; at + 2 + 0x110E <= recordBytes; at += 2) pdb.hashed.push_back(at);
  return pdb;
}

// Decorated names whose back-references make a few hundred characters
// expand to megabytes or more: class templates nested `levels` deep, each
// level's arguments repeating the level inside it.
//
// Through function types: a chain of function pointers each taking the
// previous one twice (parameter back-references), so each level is 2^9
// copies of the one inside.
inline std::string ParameterBackReferenceBomb(int levels) {
  std::string type = "V?$A@H@@";
  for (int level = 0; level < levels; ++level) {
    std::string next = "V?$A@P6AX" + type;
    for (int i = 0; i < 9; ++i) next += "P6AX" + std::to_string(i) + std::to_string(i) + "@Z";
    type = next + "99@Z@@";
  }
  return "?f@@YAX" + type + "@Z";
}

// Through names: each level names the class inside it once and then
// `copies` more times by a name back-reference.
inline std::string NameBackReferenceBomb(int levels, int copies) {
  std::string type = "V?$A@H@@";
  for (int level = 0; level < levels; ++level) {
    std::string next = "V?$A@" + type;
    for (int i = 0; i < copies; ++i) next += "V1@";
    type = next + "@@";
  }
  return "?f@@YAX" + type + "@Z";
}

// A function and one public per name, 16 bytes apart from 0x1000 on.
inline CraftedPdb PublicsNamed(const std::vector<std::string>& names) {
  CraftedPdb pdb;
  CraftedModule m;
  AppendProcedure(m.symbols, "main", 1, 0x8000, 0x10);
  pdb.modules.push_back(std::move(m));
  pdb.withPublics = true;
  for (std::size_t i = 0; i < names.size(); ++i) {
    pdb.hashed.push_back(pdb.records.size());
    AppendPublic(pdb.records, names[i], 1, static_cast<std::uint32_t>(i * 16));
  }
  return pdb;
}

}  // namespace sorvanta::testing
