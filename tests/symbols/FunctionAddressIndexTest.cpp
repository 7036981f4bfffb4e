#include "FunctionAddressIndex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace sorvanta {
namespace {

using Entry = FunctionAddressIndex::Entry;

// The rule, by looking at every function.
std::optional<std::uint32_t> Holding(const std::vector<Entry>& all, std::uint32_t rva) {
  std::optional<std::uint32_t> best;
  std::uint32_t bestStart = 0;
  for (const Entry& e : all) {  // enumeration order: the first of a start stays
    if (rva < e.start || rva - e.start >= e.length) continue;
    if (!best || e.start > bestStart) {
      best = e.function;
      bestStart = e.start;
    }
  }
  return best;
}

// Random nested, overlapping, folded and zero-length functions, in a
// random enumeration order, against the rule.
TEST(FunctionAddressIndexTest, AgreesWithEveryFunctionLookedAtOneByOne) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    const std::uint32_t span = 16u << (round % 8);
    std::vector<Entry> all;
    const int count = 1 + static_cast<int>(random() % 60);
    for (int i = 0; i < count; ++i) {
      const std::uint32_t start = 0x1000 + static_cast<std::uint32_t>(random() % span);
      const std::uint32_t length = random() % 4 == 0 ? 0 : static_cast<std::uint32_t>(random() % span);
      all.push_back({start, length, static_cast<std::uint32_t>(i)});
      if (random() % 5 == 0) all.push_back({start, length / 2, static_cast<std::uint32_t>(++i)});
    }
    FunctionAddressIndex index;
    index.Build(all);
    for (std::uint32_t rva = 0xFF0; rva < 0x1000 + 2 * span; ++rva) {
      ASSERT_EQ(index.Find(rva), Holding(all, rva)) << "round " << round << " rva " << rva;
    }
  }
}

TEST(FunctionAddressIndexTest, TheEdgesOfTheAddressSpace) {
  FunctionAddressIndex index;
  index.Build({{0, 1, 0}, {0xFFFFFFF0u, 0x100, 1}, {0xFFFFFFFFu, 0, 2}});
  EXPECT_EQ(index.Find(0), 0u);
  EXPECT_EQ(index.Find(1), std::nullopt);
  EXPECT_EQ(index.Find(0xFFFFFFFFu), 1u);  // runs past the top
  EXPECT_EQ(index.size(), 3u);
  EXPECT_EQ(index.maxStart(), 0xFFFFFFFFu);  // zero-length ones count here
  index.Build({});
  EXPECT_EQ(index.Find(0), std::nullopt);
}

}  // namespace
}  // namespace sorvanta
