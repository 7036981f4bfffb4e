// The container toolkit the damage tests and the fuzzer build on: a file
// written back unchanged is the same file, a file laid out with another
// page size is the same PDB to llvm-pdbutil, and damage lands where asked.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "MsfImage.h"
#include "TempDir.h"
#include "TestProcess.h"

namespace sorvanta {
namespace {

using msf::MsfImage;
using testing::ReadBytes;
using testing::TempDir;

const std::string kFixtures = SORVANTA_FIXTURES_DIR;

// llvm-pdbutil's whole dump, without the lines that name blocks.
std::string DumpWithoutBlocks(const std::string& pdb) {
  const std::string command = "llvm-pdbutil dump -all '" + pdb +
                              "' 2>&1 | grep -v -e 'Blocks:' -e 'Block Size' -e 'Number of blocks'";
  return testing::Shell(command);
}

TEST(MsfImageTest, WritingBackUnchangedGivesTheSameBytes) {
  for (const char* name : {"sample-x64.pdb", "sample-x86.pdb", "sample-x64-page32k.pdb"}) {
    const std::vector<char> read = ReadBytes(kFixtures + "/" + name);
    const std::vector<std::uint8_t> bytes(read.begin(), read.end());
    const std::optional<MsfImage> image = MsfImage::Parse(bytes);
    ASSERT_TRUE(image) << name;
    EXPECT_TRUE(image->Serialize() == bytes) << name;
  }
}

TEST(MsfImageTest, EveryPageSizeLaysOutTheSamePdb) {
  const std::string fixture = kFixtures + "/sample-x64.pdb";
  const std::string expected = DumpWithoutBlocks(fixture);
  ASSERT_NE(expected.find("geo::Shape::Area"), std::string::npos) << expected.substr(0, 500);
  const std::optional<MsfImage> image = MsfImage::Read(fixture);
  ASSERT_TRUE(image);
  TempDir dir;
  for (std::uint32_t pageSize : {512u, 1024u, 8192u, 16384u, 32768u}) {
    const std::optional<MsfImage> relaid = image->Relaid(pageSize);
    ASSERT_TRUE(relaid) << pageSize;
    EXPECT_EQ(relaid->blockSize(), pageSize);
    const std::string path = dir.File("relaid.pdb");
    ASSERT_TRUE(relaid->Write(path));
    EXPECT_EQ(DumpWithoutBlocks(path), expected) << pageSize;
  }
}

TEST(MsfImageTest, DamageAndEditsLandWhereAsked) {
  MsfImage image = *MsfImage::Read(kFixtures + "/sample-x64.pdb");
  const std::vector<msf::ModuleDescriptor> modules = msf::ReadModules(image);
  ASSERT_EQ(modules.size(), 6u);
  EXPECT_EQ(modules[4].name, "libpart.obj");
  EXPECT_EQ(modules[4].objectName, "C:\\src\\parts.lib");
  EXPECT_EQ(msf::SectionHeaderStream(image), 10u);  // as llvm-pdbutil names them
  EXPECT_EQ(msf::NamedStream(image, "/names"), 17u);

  msf::ModuleDescriptor m = modules[2];
  m.stream = 13;
  m.c13Bytes = 0xFFFFFFF0;
  ASSERT_TRUE(msf::WriteModule(image, 2, m));
  const std::vector<std::uint32_t> dbiBlocks = image.streams()[msf::kDbiStream].blocks;
  const std::uint32_t sharedBlock = image.streams()[12].blocks[0];
  const std::uint32_t info = image.streams()[msf::kInfoStream].blocks[0];
  ASSERT_TRUE(msf::RepeatBlock(image, msf::kInfoStream, 0, 5));
  ASSERT_TRUE(msf::ShareBlock(image, 12, 0, 11, 0));
  ASSERT_TRUE(msf::PointPastEnd(image, msf::kDbiStream, 0, 7));
  const std::uint32_t end = image.blockCount();

  std::optional<MsfImage> back = MsfImage::Parse(image.Serialize());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->streams()[msf::kInfoStream].blocks, std::vector<std::uint32_t>(5, info));
  EXPECT_EQ(back->streams()[msf::kInfoStream].size, 5 * back->blockSize());
  EXPECT_EQ(back->streams()[11].blocks[0], sharedBlock);
  EXPECT_EQ(back->streams()[msf::kDbiStream].blocks[0], end + 7);
  back->streams()[msf::kDbiStream].blocks = dbiBlocks;
  ASSERT_EQ(msf::ReadModules(*back).size(), 6u);
  EXPECT_EQ(msf::ReadModules(*back)[2].stream, 13u);
  EXPECT_EQ(msf::ReadModules(*back)[2].c13Bytes, 0xFFFFFFF0u);
  EXPECT_EQ(msf::ReadModules(*back)[2].symbolBytes, modules[2].symbolBytes);
}

}  // namespace
}  // namespace sorvanta
