// A module's symbol records and C13 line subsections, read straight from
// their bytes. Every buffer handed to a reader is exactly as long as its
// bytes, so that AddressSanitizer reports any read past them.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ModuleStream.h"
#include "PdbBytes.h"
#include "TestPdbWriter.h"

namespace sorvanta {
namespace {

using testing::AppendRecord;
using testing::AppendSubsection;
using testing::ByteWriter;
using testing::Bytes;
using testing::LineBlock;
using testing::LinesBytes;
using testing::SymbolRecords;

ByteView View(const Bytes& bytes) { return {bytes.data(), bytes.size()}; }

// A symbol stream: the CodeView signature, then the records.
Bytes SymbolStream(const Bytes& records) {
  ByteWriter w;
  w.U32(4).Raw(records);
  return Bytes(w.bytes);  // a copy as long as its bytes
}

struct Visited {
  ProcedureRecord record;
  std::string name;
};

std::vector<Visited> Procedures(const Bytes& symbols) {
  std::vector<Visited> found;
  ModuleStream(View(symbols), {}).ForEachProcedure([&](const ProcedureRecord& p) {
    found.push_back({p, std::string(reinterpret_cast<const char*>(symbols.data()) + p.nameOffset, p.nameLength)});
  });
  return found;
}

std::vector<std::string> Names(const Bytes& symbols) {
  std::vector<std::string> names;
  for (const Visited& v : Procedures(symbols)) names.push_back(v.name);
  return names;
}

TEST(ModuleStream, VisitsTopLevelProceduresWithTheirFields) {
  SymbolRecords r;
  const std::uint32_t outer = r.BeginProc(record::kGProc32, "outer", 1, 0x10, 0x20);
  r.BeginProc(record::kLProc32, "nested", 1, 0x18, 0x4);
  r.EndProc();
  const std::uint32_t outerEnd = r.nextOffset();
  r.EndProc();
  r.Add(0x1108, Bytes(8, 0));  // S_UDT, no procedure
  const std::uint32_t managed = r.BeginProc(record::kLManProc, "managed", 2, 0x30, 0x8);
  r.EndProc();
  r.BeginProc(record::kGProc32Id, "byId", 3, 0x40, 0x10);
  r.EndProc();
  const Bytes symbols = SymbolStream(r.bytes);

  const std::vector<Visited> found = Procedures(symbols);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].name, "outer");
  EXPECT_EQ(found[0].record.offset, outer);
  EXPECT_EQ(found[0].record.nameOffset, outer + 4 + 35);
  EXPECT_EQ(found[0].record.segment, 1);
  EXPECT_EQ(found[0].record.codeOffset, 0x10u);
  EXPECT_EQ(found[0].record.codeSize, 0x20u);
  EXPECT_EQ(found[0].record.end, outerEnd);
  EXPECT_EQ(found[1].name, "managed");  // its name comes after a return register
  EXPECT_EQ(found[1].record.nameOffset, managed + 4 + 37);
  EXPECT_EQ(found[1].record.segment, 2);
  EXPECT_EQ(found[1].record.codeOffset, 0x30u);
  EXPECT_EQ(found[2].name, "byId");
  EXPECT_EQ(found[2].record.segment, 3);
}

TEST(ModuleStream, ANameEndsAtItsNulOrAtItsRecordsEnd) {
  ByteWriter records;
  // 35 bytes up to the name, then 5 without a NUL: the record needs no
  // padding, and the next record's first byte is not 0.
  AppendRecord(records, record::kGProc32, ByteWriter().Zeros(35).Raw({'a', 'b', 'c', 'd', 'e'}).bytes);
  AppendRecord(records, 0x0006, {});  // S_END
  // Too short to hold a name: no procedure, and the walk goes on.
  AppendRecord(records, record::kGProc32, Bytes(32, 0));
  AppendRecord(records, record::kLProc32, ByteWriter().Zeros(35).Text("").bytes);
  EXPECT_EQ(Names(SymbolStream(records.bytes)), (std::vector<std::string>{"abcde", ""}));
}

TEST(ModuleStream, ARecordThatCannotBeFramedEndsTheWalk) {
  SymbolRecords good;
  good.BeginProc(record::kGProc32, "good", 1, 0, 0x10);
  good.EndProc();
  SymbolRecords later;
  later.BeginProc(record::kGProc32, "later", 1, 0x10, 0x10);
  later.EndProc();

  // A length that runs one byte past the stream.
  Bytes pastTheEnd = good.bytes;
  const auto length = static_cast<std::uint16_t>(later.bytes.size() - 2 + 1);
  pastTheEnd.push_back(static_cast<std::uint8_t>(length));
  pastTheEnd.push_back(static_cast<std::uint8_t>(length >> 8));
  pastTheEnd.insert(pastTheEnd.end(), later.bytes.begin() + 2, later.bytes.end());
  EXPECT_EQ(Names(SymbolStream(pastTheEnd)), (std::vector<std::string>{"good"}));

  // Too short to hold its kind: what follows it is not read as records,
  // even where it would frame a procedure.
  for (std::uint8_t tooShort : {0, 1}) {
    Bytes bytes = good.bytes;
    bytes.push_back(tooShort);
    bytes.push_back(0);
    bytes.insert(bytes.end(), later.bytes.begin(), later.bytes.end());
    EXPECT_EQ(Names(SymbolStream(bytes)), (std::vector<std::string>{"good"})) << int{tooShort};
  }

  // Streams too short for a record header.
  for (std::size_t size = 0; size < 8; ++size) {
    const Bytes symbols = SymbolStream(good.bytes);
    EXPECT_TRUE(Names(Bytes(symbols.begin(), symbols.begin() + size)).empty()) << size;
  }
}

TEST(ModuleStream, SubsectionsAreVisitedUntilOneDoesNotFit) {
  ByteWriter c13;
  AppendSubsection(c13, 0xF4, Bytes(6, 1));  // padded to 8
  AppendSubsection(c13, 0xF2, Bytes(12, 2));
  AppendSubsection(c13, 0xF6, Bytes(4, 3));
  auto kinds = [](const Bytes& bytes, int stopAfter = 99) {
    std::vector<std::pair<std::uint32_t, std::size_t>> seen;
    ForEachSubsection(View(bytes), [&](SubsectionKind kind, ByteView data) {
      seen.emplace_back(static_cast<std::uint32_t>(kind), data.size);
      EXPECT_EQ(std::size_t{data.data[data.size - 1]}, seen.size());  // the right bytes
      return static_cast<int>(seen.size()) < stopAfter;
    });
    return seen;
  };
  using Seen = std::vector<std::pair<std::uint32_t, std::size_t>>;
  const Bytes good(c13.bytes);
  EXPECT_EQ(kinds(good), (Seen{{0xF4, 6}, {0xF2, 12}, {0xF6, 4}}));
  EXPECT_EQ(kinds(good, 2), (Seen{{0xF4, 6}, {0xF2, 12}}));
  EXPECT_EQ(kinds(Bytes(good.begin(), good.end() - 1)), (Seen{{0xF4, 6}, {0xF2, 12}}));
  EXPECT_EQ(kinds(Bytes(good.begin(), good.begin() + 8 + 8 + 4)), (Seen{{0xF4, 6}}));  // half a header
  ByteWriter huge{good};
  huge.Patch32(8 + 8 + 4, 0xFFFFFFFF);  // the lines subsection's length
  EXPECT_EQ(kinds(Bytes(huge.bytes)), (Seen{{0xF4, 6}}));
}

TEST(ModuleStream, FileChecksumEntriesMustLieWhollyInTheSubsection) {
  ByteWriter w{testing::FileChecksumsBytes({10, 20})};  // entries at 0 and 8
  w.U32(30).U8(16).U8(1).Zeros(16);                     // at 16, with a 16-byte checksum
  const Bytes cut(w.bytes.begin(), w.bytes.end() - 1);  // the checksum's last byte gone
  const Bytes whole(w.bytes);
  std::uint32_t name = 0;
  EXPECT_TRUE(FileChecksums(View(whole)).FileNameOffset(16, &name));
  EXPECT_EQ(name, 30u);
  const FileChecksums checksums{View(cut)};
  EXPECT_TRUE(checksums.FileNameOffset(8, &name));
  EXPECT_EQ(name, 20u);
  EXPECT_FALSE(checksums.FileNameOffset(16, &name));
  for (std::uint32_t at : {static_cast<std::uint32_t>(cut.size()) - 5, static_cast<std::uint32_t>(cut.size()),
                           static_cast<std::uint32_t>(cut.size()) + 1, UINT32_MAX}) {
    EXPECT_FALSE(checksums.FileNameOffset(at, &name)) << at;
  }

  // The module's first checksums subsection is the one line blocks use.
  ByteWriter c13;
  AppendSubsection(c13, 0xF2, LinesBytes(1, 0, 0x10, {}));
  AppendSubsection(c13, 0xF4, testing::FileChecksumsBytes({40}));
  AppendSubsection(c13, 0xF4, testing::FileChecksumsBytes({50}));
  const Bytes module(c13.bytes);
  ASSERT_TRUE(FindFileChecksums(View(module)).FileNameOffset(0, &name));
  EXPECT_EQ(name, 40u);
  EXPECT_FALSE(FindFileChecksums({}).FileNameOffset(0, &name));
}

// (checksum offset, [(offset, line, column)...]) of each block visited.
using Blocks = std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>>;

Blocks Read(const Bytes& data, std::size_t stopAfter = 99) {
  LinesSubsection lines;
  EXPECT_TRUE(lines.Parse(View(data)));
  Blocks blocks;
  lines.ForEachBlock([&](std::uint32_t checksum, const LinesSubsection::Block& block) {
    std::vector<std::uint32_t> entries;
    for (std::uint32_t i = 0; i < block.count(); ++i) {
      const LinesSubsection::Line line = block.at(i);
      entries.insert(entries.end(), {line.offset, line.line, line.column});
    }
    blocks.emplace_back(checksum, std::move(entries));
    return blocks.size() < stopAfter;
  });
  return blocks;
}

TEST(LinesSubsection, ReadsTheContributionAndItsBlocks) {
  const std::vector<LineBlock> blocks{{0, {{0, 10, 1}, {8, 11, 5}}}, {8, {{4, 0xFFFFFF, 9}}}};
  const Bytes plain(LinesBytes(2, 0x100, 0x40, blocks));
  LinesSubsection lines;
  ASSERT_TRUE(lines.Parse(View(plain)));
  EXPECT_EQ(lines.segment(), 2);
  EXPECT_EQ(lines.offset(), 0x100u);
  EXPECT_EQ(lines.codeSize(), 0x40u);
  // The statement flag above the line's 24 bits is not part of it.
  EXPECT_EQ(Read(plain), (Blocks{{0, {0, 10, 0, 8, 11, 0}}, {8, {4, 0xFFFFFF, 0}}}));
  EXPECT_EQ(Read(plain, 1), (Blocks{{0, {0, 10, 0, 8, 11, 0}}}));
  const Bytes columns(LinesBytes(2, 0x100, 0x40, blocks, true));
  EXPECT_EQ(Read(columns), (Blocks{{0, {0, 10, 1, 8, 11, 5}}, {8, {4, 0xFFFFFF, 9}}}));

  EXPECT_FALSE(lines.Parse(View(Bytes(plain.begin(), plain.begin() + 11))));
  EXPECT_TRUE(Read(Bytes(plain.begin(), plain.begin() + 12)).empty());
}

// A damaged block ends the blocks; the ones before it are read.
TEST(LinesSubsection, ADamagedBlockEndsTheBlocks) {
  const std::vector<LineBlock> first{{0, {{0, 10}}}};
  const Blocks firstOnly{{0, {0, 10, 0}}};
  // A second block with the given header and entry bytes.
  auto withSecond = [&](std::uint32_t count, std::uint32_t blockSize, std::size_t entryBytes,
                        bool columns = false) {
    ByteWriter w{LinesBytes(1, 0, 0x40, first, columns)};
    w.U32(8).U32(count).U32(blockSize).Zeros(entryBytes);
    return Bytes(w.bytes);
  };
  ASSERT_EQ(Read(withSecond(2, 12 + 16, 16)).size(), 2u);
  EXPECT_EQ(Read(withSecond(0, 8, 0)), firstOnly);            // smaller than its header
  EXPECT_EQ(Read(withSecond(2, 12 + 15, 16)), firstOnly);     // entries past the block
  EXPECT_EQ(Read(withSecond(2, 12 + 16, 15)), firstOnly);     // entries past the data
  EXPECT_EQ(Read(withSecond(2, 12 + 16, 16, true)), firstOnly);  // with columns, 24 bytes
  // Counts whose entry bytes wrap in 32 bits to 0 and to 8.
  EXPECT_EQ(Read(withSecond(0x20000000, 12, 0)), firstOnly);
  EXPECT_EQ(Read(withSecond(0x15555556, 12 + 8, 8, true)), firstOnly);
}

}  // namespace
}  // namespace sorvanta
