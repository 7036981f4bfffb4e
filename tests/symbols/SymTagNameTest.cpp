#include "SymTagName.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace sorvanta {
namespace {

TEST(SymTagNameTest, NamesEveryTagOfTheTableAndOnlyThose) {
  EXPECT_EQ(std::wstring(SymTagName(0)), L"NULL");
  EXPECT_EQ(std::wstring(SymTagName(5)), L"Function");
  EXPECT_EQ(std::wstring(SymTagName(23)), L"UsingNameSpace");  // capital S
  EXPECT_EQ(std::wstring(SymTagName(36)), L"HLSLType");
  EXPECT_EQ(std::wstring(SymTagName(37)), L"Unknown");
  // Values that would be negative as signed numbers are simply large.
  EXPECT_EQ(std::wstring(SymTagName(UINT32_MAX)), L"Unknown");
  EXPECT_EQ(std::wstring(SymTagName(0x80000000u)), L"Unknown");
}

TEST(SymTagNameTest, EveryTagUpToTheLastHasItsOwnName) {
  for (std::uint32_t tag = 0; tag <= 36; ++tag) {
    EXPECT_NE(std::wstring(SymTagName(tag)), L"Unknown") << tag;
    for (std::uint32_t other = 0; other < tag; ++other) {
      EXPECT_NE(std::wstring(SymTagName(tag)), std::wstring(SymTagName(other))) << tag;
    }
  }
}

}  // namespace
}  // namespace sorvanta
