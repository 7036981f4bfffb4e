// Replays every input that ever broke the reader under the fuzzer, through
// the fuzzer's own workout. Under the sanitizer build this catches the
// original fault again; under the plain build it still must not crash.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "SymbolWorkout.h"

namespace sorvanta {
namespace {

std::vector<std::string> Inputs(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.is_regular_file()) files.push_back(entry.path().string());
  }
  return files;
}

TEST(FuzzRegressionTest, EveryFormerCrashInputIsReadSafely) {
  const std::vector<std::string> inputs = Inputs(SORVANTA_FIXTURES_DIR "/fuzz-regressions");
  ASSERT_FALSE(inputs.empty());
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input);
    WorkOutSymbolFile(input, 0x1234);
    WorkOutSymbolFile(input, ~0ull);
  }
}

TEST(FuzzRegressionTest, TheWorkoutListsTheFixturesFunctions) {
  EXPECT_EQ(WorkOutSymbolFile(SORVANTA_FIXTURES_DIR "/sample-x64.pdb", 7), 17u);
  EXPECT_EQ(WorkOutSymbolFile(SORVANTA_FIXTURES_DIR "/sample-x64.exe", 7), 0u);
}

}  // namespace
}  // namespace sorvanta
