// Which source file each function of a module comes from, decided from the
// module's line subsections alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ModuleFileTable.h"
#include "PdbBytes.h"
#include "StringTable.h"

namespace sorvanta {
namespace {

using testing::ByteWriter;
using testing::Bytes;

// A block of lines of one file; "?" names a checksum entry that does not
// exist.
struct Block {
  std::string file;
  std::vector<std::uint32_t> offsets;  // from the contribution's start
};
struct Subsection {
  std::uint16_t segment;
  std::uint32_t offset;
  std::uint32_t codeSize;
  std::vector<Block> blocks;
};

// Builds the module's checksums (one entry per block, as compilers write
// them, so a file is named by several entries) and line subsections, and
// assigns the functions their files: per function, its file's name or ""
// for none.
std::vector<std::string> Assign(const std::vector<Subsection>& subsections, const std::vector<CodeStart>& functions) {
  std::vector<std::string> names;
  for (const Subsection& s : subsections) {
    for (const Block& b : s.blocks) {
      if (b.file != "?" && std::find(names.begin(), names.end(), b.file) == names.end()) {
        names.push_back(b.file);
      }
    }
  }
  std::vector<std::uint32_t> nameOffsets;
  const StringTable strings(testing::StringTableBytes(names, &nameOffsets));
  std::vector<std::uint32_t> entryNames;
  for (const Subsection& s : subsections) {
    for (const Block& b : s.blocks) {
      if (b.file == "?") continue;
      entryNames.push_back(nameOffsets[std::find(names.begin(), names.end(), b.file) - names.begin()]);
    }
  }
  std::vector<std::uint32_t> entries;
  ByteWriter c13;
  testing::AppendSubsection(c13, 0xF4, testing::FileChecksumsBytes(entryNames, &entries));
  std::size_t entry = 0;
  for (const Subsection& s : subsections) {
    std::vector<testing::LineBlock> blocks;
    std::uint32_t line = 1;
    for (const Block& b : s.blocks) {
      blocks.push_back({b.file == "?" ? 0x999u : entries[entry++], {}});
      for (const std::uint32_t offset : b.offsets) blocks.back().lines.push_back({offset, line++, 0});
    }
    testing::AppendSubsection(c13, 0xF2, testing::LinesBytes(s.segment, s.offset, s.codeSize, blocks));
  }
  const Bytes bytes(c13.bytes);

  std::vector<std::uint32_t> fileOf;
  const ModuleFileTable table =
      ModuleFileTable::Build(ByteView{bytes.data(), bytes.size()}, strings, functions, &fileOf);
  // Each file is in the table once, however many entries name it.
  std::set<std::string_view> tableNames;
  for (std::uint32_t i = 0; i < table.size(); ++i) {
    tableNames.insert(strings.Known(table.name(i).offset, table.name(i).length));
  }
  EXPECT_EQ(tableNames.size(), table.size());
  std::vector<std::string> files;
  for (const std::uint32_t file : fileOf) {
    files.emplace_back(file == ModuleFileTable::kNoFile
                           ? std::string_view()
                           : strings.Known(table.name(file).offset, table.name(file).length));
  }
  EXPECT_EQ(files.size(), functions.size());
  return files;
}

using Files = std::vector<std::string>;

TEST(ModuleFileTable, AFunctionTakesItsOwnSubsectionsFileAtItsFirstByte) {
  const Files files = Assign(
      {
          // The first block with a line at the start, after one without.
          {1, 0x00, 0x20, {{"main.cpp", {0x4}}, {"macro.inc", {0x0}}, {"later.inc", {0x0}}}},
          // No block has a line at the start: the first block speaks.
          {1, 0x20, 0x20, {{"late.cpp", {0x4}}, {"other.h", {0x8}}}},
          {2, 0x00, 0x20, {{"main.cpp", {0x0}}}},
          {2, 0x20, 0x20, {{"?", {0x0}}, {"main.cpp", {0x0}}}},  // an unreadable file is none
      },
      {{1, 0x00}, {1, 0x20}, {2, 0x00}, {2, 0x20}, {3, 0x00}});
  EXPECT_EQ(files, (Files{"macro.inc", "late.cpp", "main.cpp", "", ""}));
}

TEST(ModuleFileTable, FoldedFunctionsPairInOrderWithTheSubsectionsAtTheirAddress) {
  const Files files = Assign(
      {
          {1, 0x40, 0x10, {{"a.cpp", {0x0}}}},
          {1, 0x40, 0x10, {{"b.cpp", {0x0}}}},
          {1, 0x40, 0x10, {{"c.cpp", {0x0}}}},
          {1, 0x80, 0x10, {{"x.cpp", {0x0}}}},
          // A subsection without blocks still pairs with its function,
          // which has no file; it does not fall back to the lines around.
          {1, 0xF0, 0x40, {{"cover.cpp", {0x0}}}},
          {1, 0x100, 0x10, {}},
          {1, 0x100, 0x10, {{"d.cpp", {0x0}}}},
          {1, 0x120, 0x10, {}},
      },
      // More functions at 0x40 than subsections; another comes between them.
      {{1, 0x40}, {1, 0x80}, {1, 0x40}, {1, 0x40}, {1, 0x40}, {1, 0x100}, {1, 0x100}, {1, 0x120}});
  EXPECT_EQ(files, (Files{"a.cpp", "x.cpp", "b.cpp", "c.cpp", "c.cpp", "", "d.cpp", ""}));
}

TEST(ModuleFileTable, AFunctionNoSubsectionStartsAtTakesTheLastLineBeforeItInItsContribution) {
  const Files files = Assign(
      {
          // Lines at 0x80, 0x86 (in both files), 0x88 and 0x90; the line at
          // 0xB0 lies past the contribution and does not count.
          {1, 0x80, 0x20, {{"outer.cpp", {0x0, 0x6, 0x10, 0x30}}, {"inner.h", {0x6, 0x8}}}},
          // Its first line is not at its start, which still speaks for it.
          {1, 0x100, 0x20, {{"late.cpp", {0x10}}}},
          {2, 0x00, 0x100, {{"seg2.cpp", {0x0}}}},
          // A contribution reaching past 32 bits: its lines there are not
          // at the segment's start.
          {4, 0xFFFFFF00, 0x1000, {{"high.cpp", {0x0, 0x200}}}},
      },
      {{1, 0x84}, {1, 0x86}, {1, 0x8C}, {1, 0x94}, {1, 0x7F}, {1, 0xA0}, {1, 0xB0},
       {1, 0x104}, {3, 0x10}, {4, 0x100}, {4, 0xFFFFFF80}});
  EXPECT_EQ(files, (Files{"outer.cpp", "inner.h", "inner.h", "outer.cpp", "", "", "", "late.cpp", "", "",
                          "high.cpp"}));
}

TEST(ModuleFileTable, SubsectionsInAnyOrderAreFoundAsInAddressOrder) {
  const Files files = Assign(
      {
          {1, 0x300, 0x10, {{"c.cpp", {0x0}}}},
          {1, 0x100, 0x10, {{"a1.cpp", {0x0}}}},
          {1, 0x200, 0x10, {{"b.cpp", {0x0}}}},
          {1, 0x100, 0x10, {{"a2.cpp", {0x0}}}},
      },
      {{1, 0x100}, {1, 0x100}, {1, 0x200}, {1, 0x300}, {1, 0x204}});
  EXPECT_EQ(files, (Files{"a1.cpp", "a2.cpp", "b.cpp", "c.cpp", "b.cpp"}));
}

// Identical code folded by the linker can put tens of thousands of
// functions at one address; pairing them must not cost their count
// squared.
TEST(ModuleFileTable, FiftyThousandFunctionsFoldedAtOneAddressPairInOrder) {
  constexpr std::uint32_t kFolded = 50000;
  const std::string files[] = {"f0.cpp", "f1.cpp", "f2.cpp"};
  std::vector<Subsection> subsections;
  std::vector<CodeStart> functions;
  Files expected;
  for (std::uint32_t i = 0; i < kFolded; ++i) {
    subsections.push_back({1, 0x1000, 0x10, {{files[i % 3], {0x0}}}});
    functions.push_back({1, 0x1000});
    expected.push_back(files[i % 3]);
  }
  for (int extra = 0; extra < 3; ++extra) {
    functions.push_back({1, 0x1000});
    expected.push_back(files[(kFolded - 1) % 3]);
  }
  EXPECT_EQ(Assign(subsections, functions), expected);
}

}  // namespace
}  // namespace sorvanta
