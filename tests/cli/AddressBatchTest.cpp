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

// Runs a batch over lines with answerers (threads of them) that write
// "<va>;", padded with dots to pad bytes, (or "!<text>;" for a line that
// is no address) and record the addresses each was asked for, in order.
struct BatchRun {
  std::string text;
  std::vector<std::vector<std::uint64_t>> asked;
  int prepared = 0;                // calls of beforeThreads
  bool othersAfterPrepare = true;  // every answerer but the first was called after it
};

BatchRun RunBatch(const std::vector<std::string_view>& lines, std::size_t heldLimit = AddressBatch::kHeldLimit,
                  std::size_t pad = 0, std::size_t threads = 1) {
  BatchRun run;
  run.asked.resize(threads);
  std::FILE* file = std::tmpfile();
  {
    Output out(file);
    std::vector<AddressBatch::Answer> answerers;
    for (std::vector<std::uint64_t>& asked : run.asked) {
      const bool first = answerers.empty();
      answerers.push_back([&asked, &run, first, pad](std::uint64_t va, TextBuffer* text) {
        if (!first && run.prepared == 0) run.othersAfterPrepare = false;
        asked.push_back(va);
        std::string answer = std::to_string(va);
        if (answer.size() + 1 < pad) answer.append(pad - answer.size() - 1, '.');
        text->Append(answer + ";");
      });
    }
    AddressBatch batch(
        std::move(answerers),
        [&](std::string_view line, TextBuffer* text) { text->Append("!" + std::string(line) + ";"); }, heldLimit,
        [&run] { ++run.prepared; });
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
  EXPECT_EQ(run.asked[0], (std::vector<std::uint64_t>{16, 32, 48}));
  EXPECT_EQ(run.prepared, 0);  // one answerer: nothing shared to build
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
  EXPECT_EQ(run.asked[0], vas);
}

// The lines are taken as many at a time as earlier answers say will fit
// the held limit; answers past it are made as their lines come, so the
// output is the same and memory stays bounded.
TEST(AddressBatch, PastTheHeldLimitAnswersTheRestInLineOrder) {
  const std::vector<std::string_view> lines = {"5", "3", "1", "4", "9", "8", "7", "6"};
  const BatchRun run = RunBatch(lines, 512, 200);
  std::string expected;
  for (const std::string_view va : lines) expected += std::string(va) + std::string(198, '.') + ";";
  EXPECT_EQ(run.text, expected);
  // With no answer yet, 512 bytes are guessed to hold four: of 5, 3, 1
  // and 4, the answers of 1, 3 and 4 fill the 512 bytes, and 5 is asked
  // for as its line comes. Answers of 200 bytes then make room for two
  // lines at a time: 9 and 8, then 7 and 6.
  EXPECT_EQ(run.asked[0], (std::vector<std::uint64_t>{1, 3, 4, 5, 8, 9, 6, 7}));
}

// With two answerers, each answers one run of the sorted addresses, on
// its own thread; the lines still come out in order.
TEST(AddressBatch, TwoAnswerersShareTheSortedAddresses) {
  std::vector<std::string> texts;
  std::string expected;
  for (std::uint64_t i = 0; i < 20000; ++i) {
    const std::uint64_t va = (i * 7919) % 20000;  // every address once, out of order
    texts.push_back(std::to_string(va) + "h");
    expected += std::to_string(std::stoull(std::to_string(va), nullptr, 16)) + ";";
  }
  const BatchRun run = RunBatch(std::vector<std::string_view>(texts.begin(), texts.end()), AddressBatch::kHeldLimit,
                                0, 2);
  EXPECT_EQ(run.text, expected);
  ASSERT_FALSE(run.asked[0].empty());
  ASSERT_FALSE(run.asked[1].empty());
  EXPECT_TRUE(std::is_sorted(run.asked[0].begin(), run.asked[0].end()));
  EXPECT_TRUE(std::is_sorted(run.asked[1].begin(), run.asked[1].end()));
  EXPECT_LT(run.asked[0].back(), run.asked[1].front());
  EXPECT_EQ(run.asked[0].size() + run.asked[1].size(), texts.size());
  EXPECT_EQ(run.prepared, 1);
  EXPECT_TRUE(run.othersAfterPrepare);
}

}  // namespace
}  // namespace sorvanta
