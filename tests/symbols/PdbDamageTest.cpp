// Damaged, foreign and vanishing files: every one gets a clear outcome
// (a refused open, or an open whose queries answer) and none crashes.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "DiaSymbol.h"
#include "IDiaEnumSymbols.h"
#include "SymbolFacts.h"
#include "TempDir.h"

namespace sorvanta {
namespace {

using testing::ReadAll;
using testing::ReadBytes;
using testing::SymbolFacts;
using testing::TempDir;
using testing::Wide;
using testing::WriteBytes;

const std::string kFixtures = SORVANTA_FIXTURES_DIR;

// Everything the program can ask of an open file.
void UseEverything(DiaSymbol& dia) {
  const SymbolList all = dia.FindFunctionsByName(L"");
  ReadAll(all);
  dia.FindFunctionsByName(L"entry");
  dia.FindFunctionsByName(L"\u00DCBER::STRA\u1E9EE");
  for (std::uint64_t va : {0x0ull, 0x1000ull, 0x1100ull, 0x401000ull, ~0ull}) {
    if (SymbolRef s = dia.FindFunctionByVA(va)) testing::ReadFacts(*s);
  }
  dia.session->put_loadAddress(0x400000);
  ReadAll(all);
}

// Opens bytes written to a file; true when the open succeeded.
bool OpenBytes(DiaSymbol& dia, const TempDir& dir, const std::vector<char>& bytes) {
  const std::string path = dir.File("damaged.pdb");
  WriteBytes(path, bytes);
  const bool opened = dia.Open(Wide(path));
  if (opened) UseEverything(dia);
  return opened;
}

TEST(DamageTest, PathsThatAreNoPdbFileAreRefused) {
  TempDir dir;
  DiaSymbol dia;
  EXPECT_FALSE(dia.Open(L""));
  EXPECT_FALSE(dia.Open(Wide(dir.File("missing.pdb"))));
  EXPECT_FALSE(dia.Open(Wide(dir.path().string())));  // a directory
  EXPECT_FALSE(dia.Open(Wide(dir.File("missing/deeper.pdb"))));
  EXPECT_FALSE(dia.Open(Wide(kFixtures + "/sample-x64.pdb/inside")));  // a file as a folder
  EXPECT_FALSE(dia.Open(Wide(std::string(4000, 'x'))));
  WriteBytes(dir.File("empty.pdb"), {});
  EXPECT_FALSE(dia.Open(Wide(dir.File("empty.pdb"))));
  const std::string text = "Microsoft C/C++ MSF 7.00\r\n but only text follows\n";
  WriteBytes(dir.File("text.pdb"), std::vector<char>(text.begin(), text.end()));
  EXPECT_FALSE(dia.Open(Wide(dir.File("text.pdb"))));
  EXPECT_EQ(dia.session, nullptr);
}

TEST(DamageTest, ForeignBinariesAreRefused) {
  DiaSymbol dia;
  EXPECT_FALSE(dia.Open(Wide(kFixtures + "/sample-x64.exe")));  // a PE image
  char self[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  EXPECT_FALSE(dia.Open(Wide(std::string(self, static_cast<std::size_t>(n)))));  // ELF
}

TEST(DamageTest, SpecialFilesAreRefusedWithoutWaitingOrReadingForever) {
  TempDir dir;
  const std::string fifo = dir.File("pipe.pdb");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  DiaSymbol dia;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(dia.Open(Wide(fifo)));  // nobody writes: must not block
  EXPECT_FALSE(dia.Open(L"/dev/zero"));  // endless: must not be read
  EXPECT_FALSE(dia.Open(L"/dev/null"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(DamageTest, NonAsciiPathsWithSpacesOpen) {
  TempDir dir;
  const std::string path = dir.File("\xE7\xAC\xA6\xE5\x8F\xB7 \xE6\x96\x87\xE4\xBB\xB6.pdb");  // 符号 文件.pdb
  WriteBytes(path, ReadBytes(kFixtures + "/sample-x86.pdb"));
  DiaSymbol dia;
  ASSERT_TRUE(dia.Open(Wide(path)));
  EXPECT_EQ(dia.FindFunctionsByName(L"").size(), 17u);
}

TEST(DamageTest, TruncationsAtEveryBlockAndInsideBlocksAreSafe) {
  const std::vector<char> whole = ReadBytes(kFixtures + "/sample-x64.pdb");
  ASSERT_FALSE(whole.empty());
  TempDir dir;
  DiaSymbol dia;
  for (std::size_t length = 0; length < whole.size(); length += 509) {
    OpenBytes(dia, dir, std::vector<char>(whole.begin(), whole.begin() + static_cast<long>(length)));
  }
  // Cut to whole blocks the container is consistent in size; the streams
  // that lay beyond are gone.
  for (std::size_t length = 4096; length < whole.size(); length += 4096) {
    OpenBytes(dia, dir, std::vector<char>(whole.begin(), whole.begin() + static_cast<long>(length)));
  }
}

TEST(DamageTest, FlippedBytesAnywhereAreSafe) {
  TempDir dir;
  DiaSymbol dia;
  std::mt19937 random(20261208);
  for (const char* name : {"sample-x64.pdb", "sample-x86.pdb"}) {
    const std::vector<char> whole = ReadBytes(kFixtures + "/" + name);
    std::uniform_int_distribution<std::size_t> at(0, whole.size() - 1);
    std::uniform_int_distribution<int> count(1, 16);
    std::uniform_int_distribution<int> byte(0, 255);
    int opened = 0;
    for (int round = 0; round < 300; ++round) {
      std::vector<char> damaged = whole;
      for (int k = count(random); k > 0; --k) damaged[at(random)] = static_cast<char>(byte(random));
      opened += OpenBytes(dia, dir, damaged);
    }
    // Most single changes land in data the reader never looks at.
    EXPECT_GT(opened, 0) << name;
  }
}

TEST(DamageTest, DamageInEachHeaderFieldIsSafe) {
  const std::vector<char> whole = ReadBytes(kFixtures + "/sample-x86.pdb");
  TempDir dir;
  DiaSymbol dia;
  // Every byte of the superblock and of the first directory blocks, set to
  // the values most likely to break arithmetic.
  for (std::size_t at = 0; at < 56; ++at) {
    for (unsigned char value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
      std::vector<char> damaged = whole;
      damaged[at] = static_cast<char>(value);
      OpenBytes(dia, dir, damaged);
    }
  }
}

class FileChangedOnDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(path, ReadBytes(kFixtures + "/sample-x64.pdb"));
    ASSERT_TRUE(dia.Open(Wide(path)));
    shown = dia.FindFunctionsByName(L"");
    before = ReadAll(shown);
    ASSERT_EQ(before.size(), 17u);
  }
  // Rows already shown read the same; new queries answer from the bytes
  // read at open.
  void ExpectUnchanged() {
    EXPECT_EQ(ReadAll(shown), before);
    EXPECT_EQ(ReadAll(dia.FindFunctionsByName(L"")), before);
    EXPECT_EQ(dia.FindFunctionByVA(before[3].va), shown[3]);
  }

  TempDir dir;
  std::string path = dir.File("changing.pdb");
  DiaSymbol dia;
  SymbolList shown;
  std::vector<SymbolFacts> before;
};

TEST_F(FileChangedOnDiskTest, TruncatedToHalfThenToZero) {
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(ReadBytes(path).size() / 2)), 0);
  ExpectUnchanged();
  ASSERT_EQ(truncate(path.c_str(), 0), 0);
  ExpectUnchanged();
}

TEST_F(FileChangedOnDiskTest, OverwrittenWithRandomBytesThenDeleted) {
  std::vector<char> noise(ReadBytes(path).size());
  std::mt19937 random(7);
  for (char& c : noise) c = static_cast<char>(random());
  WriteBytes(path, noise);
  ExpectUnchanged();
  ASSERT_EQ(unlink(path.c_str()), 0);
  ExpectUnchanged();
  // Opening the same path again now fails, and leaves nothing open.
  EXPECT_FALSE(dia.Open(Wide(path)));
  EXPECT_EQ(ReadAll(shown), before);
}

}  // namespace
}  // namespace sorvanta
