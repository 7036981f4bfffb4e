#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Layout.h"

namespace sorvanta {
namespace {

// Lengths in child order, a stretch child's marked with '~'.
std::string Distribute(const std::vector<double>& sizes, std::int32_t extent) {
  std::string out;
  for (const SizeEntry& entry : DistributeSizes(sizes, extent)) {
    out += (out.empty() ? "" : " ") + std::string(entry.fixed ? "" : "~") +
           std::to_string(entry.length);
  }
  return out;
}

TEST(DistributeSizes, LengthsAreTruncatedIntegersOfTheWholeExtent) {
  EXPECT_EQ(Distribute({30, 0, 0.5}, 300), "30 ~120 150");
  EXPECT_EQ(Distribute({0, 0, 0}, 10), "~3 ~3 ~4");        // remainder to the last
  EXPECT_EQ(Distribute({0, 10, -3}, 25), "~7 10 ~8");      // <= 0 stretches
  EXPECT_EQ(Distribute({1.0, 1.5, 2.9}, 77), "77 1 2");    // 1.0 is the whole box
  EXPECT_EQ(Distribute({0.5}, 301), "150");                // the odd pixel is nobody's
  EXPECT_EQ(Distribute({0.5, 0}, 301), "150 ~151");        // ...unless a stretch takes it
  EXPECT_EQ(Distribute({0.5, 0.5, 0.5}, 100), "50 50 50");  // never a fraction of the rest
  EXPECT_EQ(Distribute({}, 100), "");
}

TEST(DistributeSizes, NothingIsClampedAndTruncationIsTowardZero) {
  EXPECT_EQ(Distribute({80, 60, 0}, 100), "80 60 ~-40");
  EXPECT_EQ(Distribute({0, 0}, -7), "~-3 ~-4");
  EXPECT_EQ(Distribute({0.5, 0, 0}, -11), "-5 ~-3 ~-3");
  // Sizes beyond 32 bits give INT32_MIN as on x86, and the sums wrap.
  EXPECT_EQ(Distribute({1e10, 0}, 100), "-2147483648 ~-2147483548");
}

}  // namespace
}  // namespace sorvanta
