// The DBI stream and the section headers it names, read straight from their
// bytes: good streams, and damage that must give the documented outcome
// without a read past the bytes.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Bytes.h"
#include "DbiStream.h"
#include "PdbBytes.h"
#include "SectionTable.h"

namespace sorvanta {
namespace {

using testing::ByteWriter;
using testing::Bytes;
using testing::DbiModule;
using testing::DbiStreamBytes;

// Header fields the tests damage.
constexpr std::size_t kVersionAt = 4;
constexpr std::size_t kModuleInfoBytesAt = 24;
constexpr std::size_t kSectionContributionBytesAt = 28;
constexpr std::size_t kDebugHeaderBytesAt = 48;
constexpr std::size_t kEcBytesAt = 52;
constexpr std::size_t kHeaderBytes = 64;

Bytes Patched(Bytes bytes, std::size_t at, std::uint32_t value) {
  ByteWriter w{std::move(bytes)};
  w.Patch32(at, value);
  return w.bytes;
}

HRESULT Parse(Bytes bytes, DbiStream* dbi = nullptr) {
  DbiStream scratch;
  return DbiStream::Parse(std::move(bytes), dbi ? dbi : &scratch);
}

std::uint32_t ModuleInfoBytes(const Bytes& dbi) { return Read32(dbi.data() + kModuleInfoBytesAt); }

std::vector<std::string> ModuleNames(const DbiStream& dbi) {
  std::vector<std::string> names;
  for (const ModuleDescriptor& m : dbi.modules()) names.emplace_back(m.name);
  return names;
}

TEST(DbiStream, ReadsModulesAndTheStreamsTheHeaderNames) {
  DbiModule a{9, 0x100, 0, 0x40, "a.obj", "a.obj"};
  DbiModule b{10, 0x200, 0x8, 0x80, "b.obj", "lib.lib"};  // names need padding
  DbiStream dbi;
  ASSERT_EQ(Parse(DbiStreamBytes({a, b}, 14, 7, 8), &dbi), S_OK);
  ASSERT_EQ(dbi.modules().size(), 2u);
  const ModuleDescriptor& m = dbi.modules()[1];
  EXPECT_EQ(m.stream, 10);
  EXPECT_EQ(m.symbolBytes, 0x200u);
  EXPECT_EQ(m.c11Bytes, 0x8u);
  EXPECT_EQ(m.c13Bytes, 0x80u);
  EXPECT_EQ(m.name, "b.obj");
  EXPECT_EQ(m.objectName, "lib.lib");
  EXPECT_EQ(dbi.modules()[0].name, "a.obj");
  EXPECT_EQ(dbi.publicsStream(), std::optional<std::uint32_t>(7));
  EXPECT_EQ(dbi.symbolRecordStream(), std::optional<std::uint32_t>(8));
  EXPECT_EQ(dbi.sectionHeaderStream(), std::optional<std::uint32_t>(14));
  EXPECT_EQ(dbi.machine(), 0x8664);

  // 0xFFFF is no stream; without a debug header there are no sections.
  ASSERT_EQ(Parse(DbiStreamBytes({}), &dbi), S_OK);
  EXPECT_TRUE(dbi.modules().empty());
  EXPECT_EQ(dbi.publicsStream(), std::nullopt);
  EXPECT_EQ(dbi.symbolRecordStream(), std::nullopt);
  EXPECT_EQ(dbi.sectionHeaderStream(), std::nullopt);

  // A debug header too short for the section headers' slot names none.
  Bytes shortDebug = DbiStreamBytes({a}, 14);
  shortDebug.resize(shortDebug.size() - 12);  // 10 of its 22 bytes left
  EXPECT_EQ(Parse(Patched(shortDebug, kDebugHeaderBytesAt, 10), &dbi), S_OK);
  EXPECT_EQ(dbi.sectionHeaderStream(), std::nullopt);
  shortDebug.resize(shortDebug.size() + 2, 0);
  shortDebug[shortDebug.size() - 2] = 14;
  EXPECT_EQ(Parse(Patched(shortDebug, kDebugHeaderBytesAt, 12), &dbi), S_OK);
  EXPECT_EQ(dbi.sectionHeaderStream(), std::optional<std::uint32_t>(14));
}

TEST(DbiStream, AHeaderThatIsShortForeignOrOldIsRefused) {
  const Bytes good = DbiStreamBytes({DbiModule{}}, 14);
  ASSERT_EQ(Parse(good), S_OK);
  EXPECT_EQ(Parse(Bytes(good.begin(), good.begin() + kHeaderBytes - 1)), E_PDB_CORRUPT);
  EXPECT_EQ(Parse({}), E_PDB_CORRUPT);
  EXPECT_EQ(Parse(Patched(good, 0, 0xFFFFFFFE)), E_PDB_CORRUPT);  // signature
  EXPECT_EQ(Parse(Patched(good, kVersionAt, 19990902)), E_PDB_CORRUPT);
  EXPECT_EQ(Parse(Patched(good, kVersionAt, 20091201)), S_OK);
}

TEST(DbiStream, SubstreamsMustFillTheStreamExactly) {
  const Bytes good = DbiStreamBytes({DbiModule{}}, 14);
  const std::uint32_t modules = ModuleInfoBytes(good);
  Bytes longer = good;
  longer.push_back(0);
  EXPECT_EQ(Parse(longer), E_PDB_CORRUPT);
  EXPECT_EQ(Parse(Bytes(good.begin(), good.end() - 1)), E_PDB_CORRUPT);
  EXPECT_EQ(Parse(Patched(good, kModuleInfoBytesAt, modules + 4)), E_PDB_CORRUPT);
  // Sizes whose sum wraps in 32 bits to the stream's size: the module
  // substream would reach four gigabytes past the bytes.
  EXPECT_EQ(Parse(Patched(Patched(good, kModuleInfoBytesAt, 0xFFFFFFFC), kSectionContributionBytesAt,
                          modules + 4)),
            E_PDB_CORRUPT);

  // The first five substreams are 4-aligned; the last two need not be
  // (the debug header of good is 22 bytes).
  Bytes odd = good;
  odd.insert(odd.begin() + kHeaderBytes + modules, 2, 0);
  EXPECT_EQ(Parse(Patched(odd, kModuleInfoBytesAt, modules + 2)), E_PDB_CORRUPT);
  EXPECT_EQ(Parse(Patched(odd, kSectionContributionBytesAt, 2)), E_PDB_CORRUPT);
  DbiStream dbi;
  EXPECT_EQ(Parse(Patched(odd, kEcBytesAt, 2), &dbi), S_OK);
  EXPECT_EQ(dbi.sectionHeaderStream(), std::optional<std::uint32_t>(14));
}

// A descriptor that does not fit ends the list; the ones before it stay.
TEST(DbiStream, ADamagedModuleDescriptorEndsTheListAfterTheGoodOnes) {
  const Bytes good = DbiStreamBytes({DbiModule{1, 0, 0, 0, "first.obj", "first.obj"},
                                     DbiModule{2, 0, 0, 0, "second.obj", "second.obj"}});
  const std::size_t second = kHeaderBytes + 64 + 20;  // after the first's two names
  DbiStream dbi;
  ASSERT_EQ(Parse(good, &dbi), S_OK);
  ASSERT_EQ(ModuleNames(dbi), (std::vector<std::string>{"first.obj", "second.obj"}));

  // The second's fixed part cut short.
  Bytes cut(good.begin(), good.begin() + second + 60);
  ASSERT_EQ(Parse(Patched(cut, kModuleInfoBytesAt, 64 + 20 + 60), &dbi), S_OK);
  EXPECT_EQ(ModuleNames(dbi), (std::vector<std::string>{"first.obj"}));

  // The second's object name without its NUL, the substream's last byte:
  // the text must not run on into the debug header, which holds zeros.
  Bytes unterminated = DbiStreamBytes({DbiModule{1, 0, 0, 0, "first.obj", "first.obj"},
                                       DbiModule{2, 0, 0, 0, "second.obj", "abcd"}},
                                      14);
  const std::size_t nul = kHeaderBytes + ModuleInfoBytes(unterminated) - 1;
  ASSERT_EQ(unterminated[nul], 0);
  unterminated[nul] = 'e';
  ASSERT_EQ(Parse(unterminated, &dbi), S_OK);
  EXPECT_EQ(ModuleNames(dbi), (std::vector<std::string>{"first.obj"}));
}

TEST(SectionTable, GivesEachSectionsAddressAndRefusesWhatNoSectionHolds) {
  SectionTable sections;
  ASSERT_EQ(SectionTable::Parse(testing::SectionHeaderBytes({{0x1000, 0x200}, {0xFFFFF000, 0x1000}}), &sections),
            S_OK);
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections.Find(1)->rva, 0x1000u);
  EXPECT_EQ(sections.Find(1)->size, 0x200u);
  EXPECT_EQ(sections.Find(0), nullptr);
  EXPECT_EQ(sections.Find(3), nullptr);
  EXPECT_EQ(sections.Rva(1, 0x10), std::optional<std::uint32_t>(0x1010));
  EXPECT_EQ(sections.Rva(0, 0x10), std::nullopt);
  EXPECT_EQ(sections.Rva(3, 0x10), std::nullopt);
  EXPECT_EQ(sections.Rva(2, 0xFFF), std::optional<std::uint32_t>(0xFFFFFFFF));
  EXPECT_EQ(sections.Rva(2, 0x1000), std::nullopt);  // past 32 bits
  EXPECT_EQ(sections.Rva(2, UINT32_MAX), std::nullopt);

  const Bytes two = testing::SectionHeaderBytes({{0x1000, 0x200}, {0x2000, 0x200}});
  EXPECT_EQ(SectionTable::Parse(Bytes(two.begin(), two.end() - 1), &sections), E_PDB_CORRUPT);
  ASSERT_EQ(SectionTable::Parse({}, &sections), S_OK);
  EXPECT_EQ(sections.Find(1), nullptr);
}

}  // namespace
}  // namespace sorvanta
