#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "AddressText.h"
#include "Utf8.h"

namespace sorvanta {
namespace {

struct Case {
  std::wstring text;
  std::uint64_t value;
};

void ExpectReads(const Case& c) {
  EXPECT_EQ(ReadAddress(c.text), c.value) << "text: \"" << std::string(c.text.begin(), c.text.end())
                                          << "\"";
}

TEST(AddressText, ReadsHexWithOptionalSpacePrefixAndSignIgnoringTheRest) {
  for (const Case& c : std::initializer_list<Case>{
           {L"401000", 0x401000},
           {L"0x401000", 0x401000},
           {L"0X401000", 0x401000},
           {L"  1A2b", 0x1A2B},
           {L"\t\n1a2B", 0x1A2B},
           {L"10000000h", 0x10000000},
           {L"401000 zz", 0x401000},
           {L"+ff", 0xFF},
           {L"-1", 0xFFFFFFFFFFFFFFFFull},
           {L"-0x10", 0xFFFFFFFFFFFFFFF0ull},
           {L"FFFFFFFFFFFFFFFF", 0xFFFFFFFFFFFFFFFFull},
       }) {
    ExpectReads(c);
  }
}

TEST(AddressText, TextWithoutALeadingNumberReadsAsZero) {
  for (const Case& c : std::initializer_list<Case>{
           {L"", 0}, {L"0", 0}, {L"0x0", 0}, {L"g12", 0}, {L"   ", 0}, {L"- 1", 0}, {L"h10", 0},
       }) {
    ExpectReads(c);
  }
}

TEST(AddressText, ANumberTooLargeFor64BitsReadsAsZeroButLeadingZerosDoNotCount) {
  for (const Case& c : std::initializer_list<Case>{
           {L"10000000000000000", 0},  // 17 significant digits: 2^64
           {L"FFFFFFFFFFFFFFFFF", 0},
           {L"0x123456789ABCDEF01", 0},
           {L"-10000000000000000", 0},
           {L"00000000000000000401000", 0x401000},
           {L"0x0000000000000000FFFFFFFFFFFFFFFF", 0xFFFFFFFFFFFFFFFFull},
       }) {
    ExpectReads(c);
  }
}

TEST(AddressText, ReadingStopsAtAnEmbeddedNul) {
  // The conversion sees the text up to its first NUL, so must the length
  // check: the digits after it neither count nor are read.
  ExpectReads({std::wstring(L"12\0" L"FFFFFFFFFFFFFFFFFFFF", 23), 0x12});
}

TEST(AddressText, UnicodeLinesReadAsTheirWideText) {
  for (const std::string text :
       {"", "0", "0x", "0X", "x1", "1", "0x1", "ABCdef", "0xabcdef0123456789", "ffffffffffffffff",
        "1ffffffffffffffff", "0000000000000000000000001234", "0x0000000000000000000000001234", "12g",
        "-1", "+1", " 1", "1 ", "0x-1", "1h", "0xx1", "\xef\xbc\x91"}) {
    EXPECT_EQ(ReadAddress(text.data(), text.size()), ReadAddress(Utf8ToWide(text))) << text;
  }
}

TEST(AddressText, AddressesShowEightDigitsAtLeastAndOffsetsAsTheyAre) {
  std::string out;
  AppendAddress(0x1000, &out);
  AppendAddress(0x1000000000, &out);
  AppendAddress(UINT64_MAX, &out);
  AppendHex(0x1a, &out);
  AppendHex(0, &out);
  EXPECT_EQ(out, "0X000010000X10000000000XFFFFFFFFFFFFFFFF0x1a0x0");
  EXPECT_EQ(FormatAddress(0x1000), L"0X00001000");
}

}  // namespace
}  // namespace sorvanta
