#include "MsfFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "SmallMsf.h"
#include "TempDir.h"

namespace sorvanta {
namespace {

using testing::SmallStream;
using testing::TempDir;
using testing::WriteSmallMsf;

constexpr std::uint32_t kBlock = 512;

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed + i / kBlock);
  return bytes;
}

TEST(MsfFileTest, ReadsAnyRangeOfAStreamWhateverItsBlocksOrder) {
  TempDir dir;
  const std::string path = dir.File("streams.msf");
  // Stream 1 lies over blocks 7, 8, 3, 4, 5, 10: three runs of consecutive
  // blocks out of order; stream 2 fills the gaps.
  SmallStream scattered{Pattern(6 * kBlock - 100, 1), 0, {7, 8, 3, 4, 5, 10}};
  SmallStream filler{Pattern(3 * kBlock, 2), 0, {6, 9, 11}};
  ASSERT_TRUE(WriteSmallMsf(path, kBlock, {SmallStream{}, scattered, filler}));

  MsfFile file;
  ASSERT_EQ(file.Open(path), S_OK);
  ASSERT_EQ(file.streamCount(), 3u);
  EXPECT_EQ(file.StreamSize(1), scattered.bytes.size());
  EXPECT_EQ(file.StreamSize(3), 0u);  // no such stream
  std::vector<std::uint8_t> out(2 * kBlock);
  EXPECT_EQ(file.Read(1, 0, 1, out.data()), E_INVALIDARG);  // not claimed yet
  ASSERT_EQ(file.Claim({2, 1, 3, 1}), S_OK);

  for (const auto& [offset, size] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
           {0, 6 * kBlock - 100}, {kBlock - 1, 2}, {kBlock + 10, 3 * kBlock}, {5 * kBlock - 1, 1},
           {2 * kBlock, kBlock}, {100, 0}}) {
    std::vector<std::uint8_t> out(size + 1, 0xEE);
    ASSERT_EQ(file.Read(1, offset, size, out.data()), S_OK) << offset << "+" << size;
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + size, scattered.bytes.begin() + offset))
        << offset << "+" << size;
    EXPECT_EQ(out[size], 0xEE);  // nothing written past the range
  }
  ASSERT_EQ(file.Read(2, kBlock / 2, kBlock, out.data()), S_OK);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + kBlock, filler.bytes.begin() + kBlock / 2));

  // Ranges past the stream's end are refused, whatever the arithmetic.
  const std::uint64_t end = scattered.bytes.size();
  EXPECT_EQ(file.Read(1, end - 1, 2, out.data()), E_INVALIDARG);
  EXPECT_EQ(file.Read(1, end + 1, 0, out.data()), E_INVALIDARG);
  EXPECT_EQ(file.Read(1, 1, UINT64_MAX, out.data()), E_INVALIDARG);
  EXPECT_EQ(file.Read(1, UINT64_MAX, 2, out.data()), E_INVALIDARG);
  EXPECT_EQ(file.Read(3, 0, 0, out.data()), E_INVALIDARG);

  // A file cut short after it was opened says so, not "damaged".
  std::filesystem::resize_file(path, 9 * kBlock);
  EXPECT_EQ(file.Read(1, 5 * kBlock, kBlock - 100, out.data()), E_FILE_CHANGED);  // block 10
}

// A block named twice lets the streams claim more bytes than the file has
// (a 1 MB file can declare gigabytes that way): the container is refused
// when such a stream is claimed. Streams nobody claims are never read, and
// their damage costs nothing.
TEST(MsfFileTest, RefusesBlocksNamedTwiceOrOutsideTheFile) {
  TempDir dir;
  const std::string path = dir.File("damaged.msf");
  auto opens = [&](std::vector<SmallStream> streams) {
    EXPECT_TRUE(WriteSmallMsf(path, kBlock, std::move(streams)));
    MsfFile file;
    const HRESULT opened = file.Open(path);
    if (Failed(opened)) return opened;
    if (file.Claim({1}) != S_OK) return E_UNEXPECTED;  // alone, stream 1 is sound
    return file.Claim({1, 2});
  };
  const auto bytes = Pattern(3 * kBlock, 3);
  EXPECT_EQ(opens({SmallStream{}, SmallStream{bytes, 0, {3, 4, 5}}, SmallStream{bytes, 0, {6, 7, 8}}}), S_OK);
  EXPECT_EQ(opens({SmallStream{}, SmallStream{bytes, 0, {3, 4, 5}}, SmallStream{bytes, 0, {6, 7, 6}}}),
            E_PDB_CORRUPT);  // within a stream
  EXPECT_EQ(opens({SmallStream{}, SmallStream{bytes, 0, {3, 4, 5}}, SmallStream{bytes, 0, {6, 5, 7}}}),
            E_PDB_CORRUPT);  // shared by two streams
  {
    std::vector<std::uint8_t> oneBlock(kBlock, 1);
    SmallStream a{oneBlock, 0, {8}};
    SmallStream b{oneBlock, 0, {9}};
    // Written with the directory at block 10; then stream b is pointed at
    // it, sharing a block with the directory.
    ASSERT_TRUE(WriteSmallMsf(path, kBlock, {SmallStream{}, a, b}));
    std::vector<std::uint8_t> directoryBlock(kBlock);
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    const std::uint32_t ten = 10;
    std::fseek(f, 10 * kBlock + 4 + 3 * 4 + 4, SEEK_SET);  // count, 3 sizes, a's block: b's
    std::fwrite(&ten, 4, 1, f);
    std::fclose(f);
    MsfFile file;
    ASSERT_EQ(file.Open(path), S_OK);
    EXPECT_EQ(file.Claim({1}), S_OK);
    EXPECT_EQ(file.Claim({2}), E_PDB_CORRUPT);
  }

  // A block past the declared count, or a count past the file's end. The
  // directory follows the last stream block (9), at block 10.
  ASSERT_TRUE(WriteSmallMsf(path, kBlock, {SmallStream{}, SmallStream{bytes, 0, {3, 4, 5}},
                                           SmallStream{bytes, 0, {6, 7, 9}}}));
  auto patch = [&](std::uint64_t at, std::uint32_t value) {
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, static_cast<long>(at), SEEK_SET);
    std::fwrite(&value, 4, 1, f);
    std::fclose(f);
  };
  patch(10 * kBlock + 4 + 3 * 4 + 3 * 4 + 2 * 4, 500);  // stream 2's last block
  {
    MsfFile file;
    ASSERT_EQ(file.Open(path), S_OK);
    EXPECT_EQ(file.Claim({1}), S_OK);
    EXPECT_EQ(file.Claim({2}), E_PDB_CORRUPT);
  }
  patch(offsetof(llvm::msf::SuperBlock, NumBlocks), 1000);
  MsfFile file;
  EXPECT_EQ(file.Open(path), E_PDB_CORRUPT);
}

// A refused claim keeps nothing of the streams it named: streams claimed
// before still read, and a sound stream it named can be claimed later.
TEST(MsfFileTest, ARefusedClaimLeavesTheFileAsItWas) {
  TempDir dir;
  const std::string path = dir.File("shared.msf");
  const auto one = Pattern(3 * kBlock, 4);
  const auto two = Pattern(3 * kBlock, 5);
  ASSERT_TRUE(WriteSmallMsf(path, kBlock, {SmallStream{}, SmallStream{one, 0, {3, 4, 5}},
                                           SmallStream{two, 0, {6, 7, 8}},
                                           SmallStream{Pattern(2 * kBlock, 6), 0, {9, 10}}}));
  // Stream 3's first block becomes stream 1's second. The directory is at
  // block 11: the count, four sizes, then the six blocks of streams 1 and 2.
  FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  const std::uint32_t four = 4;
  std::fseek(f, 11 * kBlock + 4 + 4 * 4 + 6 * 4, SEEK_SET);
  std::fwrite(&four, 4, 1, f);
  std::fclose(f);

  MsfFile file;
  ASSERT_EQ(file.Open(path), S_OK);
  ASSERT_EQ(file.Claim({1}), S_OK);
  EXPECT_EQ(file.Claim({3, 2}), E_PDB_CORRUPT);
  EXPECT_FALSE(file.claimed(2));
  EXPECT_FALSE(file.claimed(3));
  std::vector<std::uint8_t> out(3 * kBlock);
  EXPECT_EQ(file.Read(2, 0, 1, out.data()), E_INVALIDARG);
  ASSERT_EQ(file.Read(1, 0, out.size(), out.data()), S_OK);
  EXPECT_EQ(out, one);
  ASSERT_EQ(file.Claim({2}), S_OK);
  ASSERT_EQ(file.Read(2, 0, out.size(), out.data()), S_OK);
  EXPECT_EQ(out, two);
  EXPECT_EQ(file.Claim({3}), E_PDB_CORRUPT);
}

}  // namespace
}  // namespace sorvanta
