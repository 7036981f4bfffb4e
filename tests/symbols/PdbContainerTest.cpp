// Damaged containers made from the x64 fixture: streams that repeat a
// block, share one, or declare sizes their blocks cannot hold. Whatever the
// directory declares, opening and listing must stay bounded by the file:
// such a file is refused as not a valid PDB, or read with each block at
// most once. Each case runs in a bounded child (BoundedChild.h).

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "BoundedChild.h"
#include "DiaSymbol.h"
#include "MsfImage.h"
#include "SymbolFacts.h"
#include "TempDir.h"
#include "TestProcess.h"

namespace sorvanta {
namespace {

using msf::MsfImage;
using testing::ListOutcome;
using testing::MemoryBound;
using testing::OpenAndListInChild;
using testing::ReadAll;
using testing::SymbolFacts;
using testing::TempDir;
using testing::Wide;

const std::string kFixture = SORVANTA_FIXTURES_DIR "/sample-x64.pdb";
MsfImage Fixture() {
  std::string error;
  std::optional<MsfImage> image = MsfImage::Read(kFixture, &error);
  if (!image) ADD_FAILURE() << error;
  return image ? std::move(*image) : MsfImage();
}

// ---- The crafted files.

std::vector<std::uint8_t> RepeatedInfoBlock(std::uint32_t copies) {
  MsfImage image = Fixture();
  EXPECT_TRUE(msf::RepeatBlock(image, msf::kInfoStream, 0, copies));
  return image.Serialize();
}

std::vector<std::uint8_t> RepeatedSectionHeaderBlock(std::uint32_t copies) {
  MsfImage image = Fixture();
  const std::optional<std::uint32_t> sections = msf::SectionHeaderStream(image);
  EXPECT_TRUE(sections && msf::RepeatBlock(image, *sections, 0, copies));
  return image.Serialize();
}

// Close to 4 GiB in 4 KiB blocks, with a directory that still fits its
// one-block map.
constexpr std::uint32_t kFourGiBOfBlocks = 1'000'000;

std::vector<std::uint8_t> NamesClaimingFourGiB() {
  MsfImage image = Fixture();
  const std::optional<std::uint32_t> names = msf::NamedStream(image, "/names");
  EXPECT_TRUE(names && msf::RepeatBlock(image, *names, 0, kFourGiBOfBlocks));
  return image.Serialize();
}

// The first module's stream stretched to about 4 GiB of C13 line data.
std::vector<std::uint8_t> LinesClaimingFourGiB() {
  MsfImage image = Fixture();
  std::vector<msf::ModuleDescriptor> modules = msf::ReadModules(image);
  EXPECT_FALSE(modules.empty());
  if (modules.empty()) return {};
  msf::ModuleDescriptor m = modules[0];
  EXPECT_TRUE(msf::RepeatBlock(image, m.stream, 0, kFourGiBOfBlocks));
  m.c13Bytes = image.streams()[m.stream].size - m.symbolBytes - m.c11Bytes;
  EXPECT_TRUE(msf::WriteModule(image, 0, m));
  return image.Serialize();
}

// S_GPROC32 records with their S_END, `bytes` long in all (a multiple of 4,
// at least 48), starting at stream offset `at`; the last name is longer to
// fill the room exactly.
std::vector<std::uint8_t> Procedures(std::size_t bytes, std::uint32_t at, std::uint32_t* offset) {
  std::vector<std::uint8_t> out;
  while (out.size() < bytes) {
    const std::size_t left = bytes - out.size();
    const std::size_t nameBytes = left < 96 ? left - 46 : 2;  // with the NUL; 48 bytes a procedure
    std::vector<std::uint8_t> proc(44 + nameBytes - 2, 0);
    auto put16 = [&](std::size_t at, std::uint16_t v) { proc[at] = v & 0xFF, proc[at + 1] = v >> 8; };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
      for (int i = 0; i < 4; ++i) proc[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put16(0, static_cast<std::uint16_t>(proc.size() - 2));
    put16(2, 0x1110);  // S_GPROC32
    put32(8, at + static_cast<std::uint32_t>(out.size() + proc.size()));  // its S_END
    put32(16, 16);  // code size
    put32(32, (*offset += 16));  // section offset
    put16(36, 1);
    for (std::size_t i = 39; i + 1 < proc.size(); ++i) proc[i] = 'f';
    out.insert(out.end(), proc.begin(), proc.end());
    out.insert(out.end(), {0x02, 0x00, 0x06, 0x00});  // S_END
  }
  return out;
}

// The first module's symbol stream: a block of procedures after the
// signature, then two blocks of procedures repeated to about 4 GiB.
std::vector<std::uint8_t> ProceduresRepeatedToFourGiB() {
  MsfImage image = Fixture();
  std::vector<msf::ModuleDescriptor> modules = msf::ReadModules(image);
  EXPECT_FALSE(modules.empty());
  if (modules.empty()) return {};
  const std::uint32_t B = image.blockSize();
  std::uint32_t offset = 0;
  std::vector<std::uint8_t> content = {4, 0, 0, 0};  // CV_SIGNATURE_C13
  for (std::size_t size : {B - 4, B, B}) {
    const std::vector<std::uint8_t> procs =
        Procedures(size, static_cast<std::uint32_t>(content.size()), &offset);
    content.insert(content.end(), procs.begin(), procs.end());
  }
  msf::ModuleDescriptor m = modules[0];
  image.SetStreamBytes(m.stream, content);
  std::vector<std::uint32_t>& blocks = image.streams()[m.stream].blocks;
  const std::vector<std::uint32_t> three = blocks;
  blocks.resize(kFourGiBOfBlocks);
  for (std::size_t i = 3; i < blocks.size(); ++i) blocks[i] = three[1 + (i - 1) % 2];
  image.streams()[m.stream].size = kFourGiBOfBlocks * B;
  m.symbolBytes = kFourGiBOfBlocks * B;
  m.c11Bytes = m.c13Bytes = 0;
  EXPECT_TRUE(msf::WriteModule(image, 0, m));
  return image.Serialize();
}

std::vector<std::uint8_t> ModuleStreamsSharingABlock() {
  MsfImage image = Fixture();
  const std::vector<msf::ModuleDescriptor> modules = msf::ReadModules(image);
  EXPECT_GE(modules.size(), 2u);
  if (modules.size() < 2) return {};
  EXPECT_TRUE(msf::ShareBlock(image, modules[1].stream, 0, modules[0].stream, 0));
  return image.Serialize();
}

std::vector<std::uint8_t> DbiBlockPastTheEnd() {
  MsfImage image = Fixture();
  EXPECT_TRUE(msf::PointPastEnd(image, msf::kDbiStream, 0, 1000));
  return image.Serialize();
}

struct Crafted {
  const char* name;
  std::vector<std::uint8_t> (*make)();
};

const Crafted kCrafted[] = {
    {"InfoStreamIs262144CopiesOfOneBlock", [] { return RepeatedInfoBlock(262'144); }},
    {"SectionHeadersAre40000CopiesOfOneBlock", [] { return RepeatedSectionHeaderBlock(40'000); }},
    {"SectionHeadersAreAMillionCopiesOfOneBlock", [] { return RepeatedSectionHeaderBlock(kFourGiBOfBlocks); }},
    {"NamesClaimsFourGiB", NamesClaimingFourGiB},
    {"InfoStreamClaimsFourGiB", [] { return RepeatedInfoBlock(kFourGiBOfBlocks); }},
    {"LineDataClaimsFourGiB", LinesClaimingFourGiB},
    {"ProceduresRepeatedToFourGiB", ProceduresRepeatedToFourGiB},
    {"TwoModuleStreamsShareABlock", ModuleStreamsSharingABlock},
    {"DbiBlockPastTheEnd", DbiBlockPastTheEnd},
};

void PrintTo(const Crafted& crafted, std::ostream* os) { *os << crafted.name; }

class CraftedContainerTest : public ::testing::TestWithParam<Crafted> {};

TEST_P(CraftedContainerTest, IsRefusedOrReadOnceWithinTheFilesBound) {
  const std::vector<std::uint8_t> bytes = GetParam().make();
  ASSERT_FALSE(bytes.empty());
  TempDir dir;
  const std::string path = dir.File("crafted.pdb");
  ASSERT_TRUE(MsfImage::Parse(bytes).has_value());
  testing::WriteBytes(path, std::vector<char>(bytes.begin(), bytes.end()));

  const ListOutcome outcome = OpenAndListInChild(path);
  ASSERT_TRUE(outcome.finished()) << outcome;
  EXPECT_TRUE(outcome.load == E_PDB_CORRUPT || outcome.load == S_OK) << outcome;
  // Read once, no block yields more functions than the fixture has.
  EXPECT_LE(outcome.functions, 17u) << outcome;
  EXPECT_LE(outcome.memoryGrowth(), MemoryBound(bytes.size()))
      << outcome << " for a file of " << bytes.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Damage, CraftedContainerTest, ::testing::ValuesIn(kCrafted),
                         [](const ::testing::TestParamInfo<Crafted>& info) { return info.param.name; });

// The facts of functions as (name, address, length), which do not depend on
// which module a shared stream is credited to.
std::multiset<std::tuple<std::string, std::uint64_t, std::uint64_t>> Placed(const std::vector<SymbolFacts>& all) {
  std::multiset<std::tuple<std::string, std::uint64_t, std::uint64_t>> out;
  for (const SymbolFacts& f : all) out.emplace(f.name, f.va, f.length);
  return out;
}

TEST(SharedModuleStreamTest, AStreamNamedByEveryModuleIsWalkedOnce) {
  MsfImage image = Fixture();
  const std::vector<msf::ModuleDescriptor> modules = msf::ReadModules(image);
  ASSERT_EQ(modules.size(), 6u);
  const msf::ModuleDescriptor& shapes = modules[1];
  ASSERT_EQ(shapes.name, "C:\\src\\shapes.obj");
  for (std::size_t i = 0; i < modules.size(); ++i) {
    msf::ModuleDescriptor m = modules[i];
    m.stream = shapes.stream;
    m.symbolBytes = shapes.symbolBytes;
    m.c11Bytes = shapes.c11Bytes;
    m.c13Bytes = shapes.c13Bytes;
    ASSERT_TRUE(msf::WriteModule(image, i, m));
  }
  TempDir dir;
  const std::string path = dir.File("shared.pdb");
  ASSERT_TRUE(image.Write(path));

  DiaSymbol dia;
  ASSERT_TRUE(dia.Open(Wide(kFixture)));
  std::vector<SymbolFacts> ofShapes;
  for (const SymbolFacts& f : ReadAll(dia.FindFunctionsByName(L""))) {
    if (f.object == shapes.name) ofShapes.push_back(f);
  }
  ASSERT_EQ(ofShapes.size(), 5u);

  DiaRef<IDiaDataSource> source;
  ASSERT_TRUE(Succeeded(CreateDiaDataSource(&source)));
  const HRESULT load = source->loadDataFromPdb(Wide(path));
  if (load == E_PDB_CORRUPT) return;  // refusing the file is sound too
  ASSERT_EQ(load, S_OK);
  ASSERT_TRUE(dia.Open(Wide(path)));
  EXPECT_EQ(Placed(ReadAll(dia.FindFunctionsByName(L""))), Placed(ofShapes));
}

// The fixture's streams laid out again past the first 4 GiB of a sparse
// file, behind type streams of about 4.5 GiB that are holes: the file opens
// and lists the fixture's functions at the cost of the streams it needs.
TEST(LargeFileTest, StreamsPastFourGiBOfASparseFileListTheFixturesFunctions) {
  TempDir dir;
  const std::string path = dir.File("large.pdb");
  std::string error;
  if (!msf::WriteSparseLargePdb(kFixture, path, &error)) {
    GTEST_SKIP() << "no sparse file of 4.5 GiB in " << dir.path() << ": " << error;
  }
  ASSERT_GE(std::filesystem::file_size(path), 9ull << 29);  // 4.5 GiB

  DiaSymbol dia;
  ASSERT_TRUE(dia.Open(Wide(kFixture)));
  const std::vector<SymbolFacts> expected = ReadAll(dia.FindFunctionsByName(L""));
  ASSERT_EQ(expected.size(), 17u);
  const ListOutcome outcome = OpenAndListInChild(path, expected);
  ASSERT_TRUE(outcome.finished()) << outcome;
  EXPECT_EQ(outcome.load, S_OK) << outcome;
  EXPECT_TRUE(outcome.listedAsExpected) << outcome;
  // What the file holds apart from its holes is about 3 MiB.
  EXPECT_LE(outcome.memoryGrowth(), MemoryBound(0)) << outcome;
}

}  // namespace
}  // namespace sorvanta
