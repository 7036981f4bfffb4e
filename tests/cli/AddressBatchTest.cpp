#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "AddressBatch.h"
#include "AddressText.h"

namespace sorvanta {
namespace {

// Runs a batch over lines with an answerer that writes "<va>;" (or
// "!<text>;" for a line that is no address) and records the order of
// the addresses it was asked for.
struct BatchRun {
  std::string text;
  std::vector<std::uint64_t> asked;
};

BatchRun RunBatch(const std::vector<std::string_view>& lines, std::size_t heldLimit = AddressBatch::kHeldLimit) {
  BatchRun run;
  std::FILE* file = std::tmpfile();
  {
    Output out(file);
    AddressBatch batch(
        [&](std::uint64_t va, TextBuffer* text) {
          run.asked.push_back(va);
          text->Append(std::to_string(va) + ";");
        },
        [&](std::string_view line, TextBuffer* text) { text->Append("!" + std::string(line) + ";"); }, heldLimit);
    batch.AnswerAll(lines, out);
    out.Flush();
  }
  std::rewind(file);
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) run.text.append(buffer, got);
  std::fclose(file);
  return run;
}

// Answers come out in the lines' order whatever order they were made in;
// each distinct address is answered once, in address order.
TEST(AddressBatch, AnswersInLineOrderEachAddressOnceInAddressOrder) {
  const BatchRun run = RunBatch({"30", "foo", "10", "0x30", "", "20", "10h"});
  EXPECT_EQ(run.text, "48;!foo;16;48;!;32;16;");
  EXPECT_EQ(run.asked, (std::vector<std::uint64_t>{16, 32, 48}));
}

// Addresses over the whole 64-bit range, some repeated, are still asked
// for once each in address order.
TEST(AddressBatch, SortsAddressesOfAnyWidth) {
  std::mt19937_64 random(7);
  std::vector<std::uint64_t> vas = {0, UINT64_MAX, 0x140001000, 0x140001000};
  for (int i = 0; i < 2000; ++i) vas.push_back(random() >> (random() % 64));
  std::vector<std::string> texts;
  std::string expected;
  for (const std::uint64_t va : vas) {
    char hex[24];
    std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(va));
    texts.push_back(hex);
    expected += std::to_string(va) + ";";
  }
  const BatchRun run = RunBatch(std::vector<std::string_view>(texts.begin(), texts.end()));
  EXPECT_EQ(run.text, expected);
  std::sort(vas.begin(), vas.end());
  vas.erase(std::unique(vas.begin(), vas.end()), vas.end());
  EXPECT_EQ(run.asked, vas);
}

// Past the held limit, the addresses not yet answered are answered as
// their lines come, so the output is the same and memory stays bounded.
TEST(AddressBatch, PastTheHeldLimitAnswersTheRestInLineOrder) {
  const BatchRun run = RunBatch({"5", "3", "1", "4", "2", "3"}, 2);
  EXPECT_EQ(run.text, "5;3;1;4;2;3;");
  // "1;" fills the two bytes held; 5, 3 and 4 are then asked in line
  // order, 3 once more for its second line.
  EXPECT_EQ(run.asked, (std::vector<std::uint64_t>{1, 5, 3, 4, 2, 3}));
}

}  // namespace
}  // namespace sorvanta
