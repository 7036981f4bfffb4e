// sorvanta-query on hostile files built at test time, run as a program
// with a hang guard and its peak memory measured (BoundedChild.h): the
// listing and the address answers stay linear and within the image's
// bound, and publics that cannot be read are an error.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BoundedChild.h"
#include "CraftedPdb.h"
#include "TempDir.h"

namespace sorvanta {
namespace {

using testing::CraftedPdb;
using testing::kMiB;
using testing::ProgramOutcome;
using testing::RecordBound;
using testing::TempDir;

const std::string kQuery = SORVANTA_QUERY_EXECUTABLE;

ProgramOutcome RunQuery(const std::vector<std::string>& args, unsigned seconds = 60) {
  return testing::RunProgramBounded(kQuery, args, seconds);
}

// What the program's own peak is on a file of one function.
std::uint64_t BaselinePeak(const TempDir& dir) {
  CraftedPdb pdb;
  pdb.modules.emplace_back();
  testing::AppendProcedure(pdb.modules[0].symbols, "main", 1, 0x10, 0x10);
  const std::string path = dir.File("baseline.pdb");
  if (!WriteCraftedPdb(pdb, path)) return 0;
  const ProgramOutcome run = RunQuery({"list", path});
  EXPECT_TRUE(run.finished && run.status == 0) << run;
  return run.peakMemory;
}

std::uint64_t Growth(const ProgramOutcome& run, std::uint64_t baseline) {
  return run.peakMemory > baseline ? run.peakMemory - baseline : 0;
}

TEST(QueryBounds, ChecksumEntriesIntoOneLongPathAreListedWithoutACopyEach) {
  constexpr std::uint32_t kFunctions = 4096;
  TempDir dir;
  const std::uint64_t baseline = BaselinePeak(dir);
  for (const bool spread : {false, true}) {
    const std::string path = dir.File("checksums.pdb");
    ASSERT_TRUE(WriteCraftedPdb(testing::ChecksumsIntoOneLongPath(kFunctions, spread), path));
    for (const char* format : {"tsv", "json"}) {
      SCOPED_TRACE(std::string(spread ? "spread, " : "one path, ") + format);
      const ProgramOutcome run = RunQuery({"list", path, "--format", format});
      ASSERT_TRUE(run.finished) << run;
      EXPECT_EQ(run.status, 0) << run;
      EXPECT_EQ(run.outLines, kFunctions);
      EXPECT_GT(run.outBytes, (spread ? 32 : 64) * 1024ull * kFunctions);  // every line has its path
      EXPECT_LE(Growth(run, baseline), RecordBound(std::filesystem::file_size(path), kFunctions)) << run;
    }
  }
}

TEST(QueryBounds, OverlappingPublicRecordsAreAnErrorWithPublicsOnly) {
  TempDir dir;
  const std::uint64_t baseline = BaselinePeak(dir);
  const std::string path = dir.File("overlapping.pdb");
  ASSERT_TRUE(WriteCraftedPdb(testing::OverlappingPublics(1u << 20), path));
  const std::string message =
      "sorvanta-query: cannot read the public symbols of " + path + ": damaged PDB file\n";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"list", path, "--publics"}, {"addr", path, "--publics", "1010", "2000"}}) {
    SCOPED_TRACE(args[0]);
    const ProgramOutcome run = RunQuery(args);
    ASSERT_TRUE(run.finished) << run;
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, message);
    EXPECT_EQ(run.outBytes, 0u);
    EXPECT_LE(Growth(run, baseline), RecordBound(std::filesystem::file_size(path), 1)) << run;
  }
  // Without them the function is there.
  const ProgramOutcome run = RunQuery({"list", path});
  EXPECT_EQ(run.status, 0) << run;
  EXPECT_EQ(run.out, "main\tFunction\t0X00001010\t16\t\tcrafted.obj\n");
}

// Publics named by back-reference bombs, each repeated, and one real name:
// unbounded, each bomb costs the demangler from a quarter of a gigabyte and
// a third of a second to an abort.
TEST(QueryBounds, PublicsNamedByBackReferenceBombsAreShownRawQuickly) {
  std::vector<std::string> names;
  for (int copy = 0; copy < 16; ++copy) {
    for (int levels = 2; levels <= 5; ++levels) {
      names.push_back(testing::ParameterBackReferenceBomb(levels));
      names.push_back(testing::NameBackReferenceBomb(levels + 1, 20));
    }
  }
  names.push_back("?Alpha@@YAHH@Z");
  TempDir dir;
  const std::uint64_t baseline = BaselinePeak(dir);
  const std::string path = dir.File("bombs.pdb");
  ASSERT_TRUE(WriteCraftedPdb(testing::PublicsNamed(names), path));
  const std::uint64_t bound = RecordBound(std::filesystem::file_size(path), names.size());

  const ProgramOutcome list = RunQuery({"list", path, "--publics"}, 20);
  ASSERT_TRUE(list.finished) << list;
  EXPECT_EQ(list.status, 0) << list;
  auto hex = [](const char* format, std::size_t value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return std::string(text);
  };
  std::string expected = "main\tFunction\t0X00009000\t16\t\tcrafted.obj\n";
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string shown = i + 1 < names.size() ? names[i] : "int __cdecl Alpha(int)";
    expected += shown + "\tPublicSymbol\t" + hex("0X%08zX", 0x1000 + i * 16) + "\t\t\t\n";
  }
  EXPECT_EQ(list.out, expected);
  EXPECT_LE(Growth(list, baseline), bound) << list;

  std::vector<std::string> args{"addr", path, "--publics"};
  for (std::size_t i = 0; i < 8; ++i) args.push_back(hex("%zx", 0x1001 + i * 16));
  const ProgramOutcome addr = RunQuery(args, 20);
  ASSERT_TRUE(addr.finished) << addr;
  EXPECT_EQ(addr.status, 0) << addr;
  EXPECT_EQ(addr.outLines, 8u);
  EXPECT_NE(addr.out.find("\t" + names[0] + "+0x1\t"), std::string::npos) << addr.out.substr(0, 300);
  EXPECT_LE(Growth(addr, baseline), bound) << addr;
}

// Work quadratic in the functions folded onto one address would take
// minutes here; linear work takes about a second.
TEST(QueryBounds, HalfAMillionFoldedFunctionsListInLinearTime) {
  constexpr std::uint32_t kFunctions = 500'000;
  TempDir dir;
  const std::uint64_t baseline = BaselinePeak(dir);
  const std::string path = dir.File("folded.pdb");
  ASSERT_TRUE(WriteCraftedPdb(testing::FoldedFunctions(kFunctions), path));
  for (const char* format : {"tsv", "json"}) {
    SCOPED_TRACE(format);
    const ProgramOutcome run = RunQuery({"list", path, "--format", format}, 30);
    ASSERT_TRUE(run.finished) << run;
    EXPECT_EQ(run.status, 0) << run;
    EXPECT_EQ(run.outLines, kFunctions);
    EXPECT_LE(Growth(run, baseline), RecordBound(std::filesystem::file_size(path), kFunctions)) << run;
    if (std::string(format) == "json") continue;
    // Each takes its own subsection's file, in turn.
    EXPECT_EQ(run.out.substr(0, run.out.find('\n', run.out.find('\n', run.out.find('\n') + 1) + 1) + 1),
              "folded0\tFunction\t0X00001010\t32\ta.cpp\tcrafted.obj\n"
              "folded1\tFunction\t0X00001010\t32\tb.cpp\tcrafted.obj\n"
              "folded2\tFunction\t0X00001010\t32\tc.cpp\tcrafted.obj\n");
  }
  const ProgramOutcome addr = RunQuery({"addr", path, "1010", "102f", "1030"}, 30);
  EXPECT_EQ(addr.out,
            "0X00001010\tfolded0\t0X00001010\t0x0\ta.cpp\tcrafted.obj\n"
            "0X0000102F\tfolded0\t0X00001010\t0x1f\ta.cpp\tcrafted.obj\n"
            "0X00001030\t??\n");
}

}  // namespace
}  // namespace sorvanta
