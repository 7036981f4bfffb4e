#include "Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace sorvanta {
namespace {

TEST(Utf8Test, DecodesValidTextOfEveryLength) {
  EXPECT_EQ(Utf8ToWide(std::string("abc")), L"abc");
  EXPECT_EQ(Utf8ToWide(std::string("\xC3\x9C" "ber")), L"\u00DCber");
  EXPECT_EQ(Utf8ToWide(std::string("\xE7\xAC\xA6")), L"\u7B26");
  EXPECT_EQ(Utf8ToWide(std::string("\xF0\x9F\x98\x80")), std::wstring(1, wchar_t(0x1F600)));
}

TEST(Utf8Test, InvalidBytesBecomeReplacementsAndTheRestIsKept) {
  const wchar_t r = 0xFFFD;
  EXPECT_EQ(Utf8ToWide(std::string("a\xFF" "b")), std::wstring(L"a") + r + L"b");
  // A lead byte without its continuation, at the end and in the middle.
  EXPECT_EQ(Utf8ToWide(std::string("ab\xE7\xAC")), std::wstring(L"ab") + r + r);
  EXPECT_EQ(Utf8ToWide(std::string("\xC3" "x")), std::wstring(1, r) + L"x");
  // Overlong encodings and encoded surrogates are not valid either.
  EXPECT_EQ(Utf8ToWide(std::string("\xC0\xAF")), std::wstring(2, r));
  EXPECT_EQ(Utf8ToWide(std::string("\xED\xA0\x80" "z")), std::wstring(3, r) + L"z");
  EXPECT_EQ(Utf8ToWide(std::string("\xF4\x90\x80\x80")), std::wstring(4, r));
}

TEST(Utf8Test, EncodesWideTextAndReplacesWhatCannotBeEncoded) {
  EXPECT_EQ(WideToUtf8(L"\u00DCber \u7B26"), "\xC3\x9C" "ber \xE7\xAC\xA6");
  EXPECT_EQ(WideToUtf8(std::wstring(1, wchar_t(0x1F600))), "\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(std::wstring(1, wchar_t(0x110000))), "\xEF\xBF\xBD");
}

TEST(Utf8Test, CaseInsensitiveComparisonFoldsNonAsciiLettersOneToOne) {
  const std::string name = "\xC3\x9C" "ber::stra\xC3\x9F" "e";  // Über::straße
  auto matches = [&](const std::wstring& query) {
    const std::string typed = WideToUtf8(query);
    return FoldedHashUtf8(name.data(), name.size()) == FoldedHashUtf8(typed.data(), typed.size()) &&
           FoldedEqualsUtf8(name.data(), name.size(), FoldUtf8(typed));
  };
  EXPECT_TRUE(matches(L"\u00DCber::stra\u00DFe"));
  EXPECT_TRUE(matches(L"\u00FCBER::STRA\u1E9EE"));  // capital sharp s folds to ß
  EXPECT_TRUE(matches(L"\u00FCber::STRA\u00DFE"));
  EXPECT_FALSE(matches(L"\u00FCber::strasse"));  // ß and ss stay different
  EXPECT_FALSE(matches(L"uber::stra\u00DFe"));
  EXPECT_FALSE(matches(L"\u00DCber::stra\u00DF"));
  EXPECT_FALSE(matches(L"\u00DCber::stra\u00DFee"));
}

TEST(Utf8Test, ExactComparisonDecodesTheName) {
  const std::string name = "\xC3\x9C" "ber";
  EXPECT_TRUE(ExactEqualsUtf8(name.data(), name.size(), U"\u00DCber"));
  EXPECT_FALSE(ExactEqualsUtf8(name.data(), name.size(), U"\u00FCber"));
  EXPECT_FALSE(ExactEqualsUtf8(name.data(), name.size(), U"\u00DCbe"));
}

TEST(Utf8Test, InvalidBytesReadAsReplacementsAndValidTextAsItself) {
  std::string out;
  AppendValidUtf8("ok\xFF\xC3\xBC\xE2\x82", &out);
  EXPECT_EQ(out, "ok\xEF\xBF\xBD\xC3\xBC\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_FALSE(IsValidUtf8("ok\xFF"));
  EXPECT_FALSE(IsValidUtf8("\xC3"));
  EXPECT_TRUE(IsValidUtf8("\xEF\xBF\xBD plain \xF0\x9F\x98\x80"));
  EXPECT_EQ(DecodeUtf8("a\xFF"), U"a\uFFFD");
}

}  // namespace
}  // namespace sorvanta
