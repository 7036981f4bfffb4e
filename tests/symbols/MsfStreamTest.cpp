#include "MsfStream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace sorvanta {
namespace {

// A file of six 512-byte blocks, block b filled with byte b; a stream laid
// over blocks 3, 4, 1 (the first two consecutive, the third elsewhere).
class MsfStreamTest : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kBlock = 512;
  MsfStreamTest() : file(6 * kBlock) {
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i / kBlock);
    for (std::uint32_t b : {3u, 4u, 1u}) blocks.push_back(llvm::support::ulittle32_t(b));
  }
  std::vector<std::uint8_t> file;
  std::vector<llvm::support::ulittle32_t> blocks;
};

TEST_F(MsfStreamTest, ReadsAcrossConsecutiveBlocksInPlaceAndCopiesOnlyAcrossAGap) {
  MsfStream stream(file.data(), kBlock, blocks, 3 * kBlock);
  std::vector<std::uint8_t> scratch;

  const std::uint8_t* inPlace = stream.View(kBlock - 2, 4, &scratch);
  ASSERT_NE(inPlace, nullptr);
  EXPECT_EQ(inPlace, file.data() + 3 * kBlock + kBlock - 2);  // blocks 3 and 4 adjoin
  EXPECT_EQ(inPlace[0], 3);
  EXPECT_EQ(inPlace[3], 4);

  const std::uint8_t* copied = stream.View(2 * kBlock - 2, 4, &scratch);
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(copied, scratch.data());
  EXPECT_EQ(copied[0], 4);
  EXPECT_EQ(copied[1], 4);
  EXPECT_EQ(copied[2], 1);
  EXPECT_EQ(copied[3], 1);
}

TEST_F(MsfStreamTest, RefusesReadsPastTheEndAndNeverTrustsALongerLength) {
  MsfStream exact(file.data(), kBlock, blocks, 3 * kBlock - 10);
  std::vector<std::uint8_t> scratch;
  EXPECT_NE(exact.View(3 * kBlock - 14, 4, &scratch), nullptr);
  EXPECT_EQ(exact.View(3 * kBlock - 13, 4, &scratch), nullptr);
  EXPECT_EQ(exact.View(UINT32_MAX, 4, &scratch), nullptr);

  // A length beyond the stream's blocks is cut to what the blocks hold.
  MsfStream lying(file.data(), kBlock, blocks, 100 * kBlock);
  EXPECT_EQ(lying.length(), 3 * kBlock);
  EXPECT_EQ(lying.View(3 * kBlock - 2, 4, &scratch), nullptr);
}

}  // namespace
}  // namespace sorvanta
