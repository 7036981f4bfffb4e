// Loading with several threads reads and walks modules in whatever order
// the threads reach them; the result must be the one-thread result, symbol
// for symbol and in the same order.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PdbImage.h"
#include "SymbolFacts.h"
#include "TempDir.h"
#include "TestPdbWriter.h"
#include "llvm/DebugInfo/CodeView/CodeView.h"

namespace sorvanta {
namespace {

using testing::SymbolFacts;

const std::string kFixtures = SORVANTA_FIXTURES_DIR;

std::vector<SymbolFacts> LoadAll(const std::string& path, unsigned threads) {
  LoadOptions options;
  options.threads = threads;
  options.bytesPerThread = 1;  // threads even for the smallest file
  std::shared_ptr<PdbImage> image;
  EXPECT_EQ(PdbImage::Load(path, options, &image), S_OK) << path;
  SymbolList all;
  for (std::uint32_t i = 0; image && i < image->functionCount(); ++i) {
    all.push_back(PdbImage::FunctionRef(image, i));
  }
  return testing::ReadAll(all);
}

TEST(LoadThreadsTest, AnyThreadCountListsTheSameFunctionsInTheSameOrder) {
  // Many modules of different sizes, so that threads finish out of order.
  testing::TempDir dir;
  testing::TestPdb pdb;
  pdb.sectionAddresses = {0x1000};
  std::uint32_t offset = 0;
  for (int m = 0; m < 60; ++m) {
    testing::TestModule module;
    module.name = module.objectFile = "m" + std::to_string(m) + ".obj";
    for (int f = 0; f < (m % 7) * 40 + 1; ++f) {
      module.symbols.BeginProc(llvm::codeview::S_GPROC32, "f" + std::to_string(m) + "_" + std::to_string(f),
                               1, offset, 0x10);
      module.symbols.EndProc();
      offset += 0x10;
    }
    pdb.modules.push_back(std::move(module));
  }
  const std::string many = dir.File("many.pdb");
  ASSERT_TRUE(testing::WriteTestPdb(pdb, many));

  for (const std::string& path : {many, kFixtures + "/sample-x64.pdb", kFixtures + "/sample-x86.pdb"}) {
    const std::vector<SymbolFacts> one = LoadAll(path, 1);
    ASSERT_FALSE(one.empty()) << path;
    for (unsigned threads : {2u, 3u, 8u}) {
      for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(LoadAll(path, threads), one) << path << " with " << threads << " threads";
      }
    }
  }
}

}  // namespace
}  // namespace sorvanta
