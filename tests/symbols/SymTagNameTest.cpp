#include "SymTagName.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>

namespace sorvanta {
namespace {

// The names of DIA's symbol tags 0 to 36, written out here on their own so
// that a swapped or misspelt row of the program's table shows.
const wchar_t* const kExpected[] = {
    L"NULL",          L"EXE",            L"Compiland",      L"CompilandDetails",
    L"CompilandEnv",  L"Function",       L"Block",          L"Data",
    L"Annotation",    L"Label",          L"PublicSymbol",   L"UDT",
    L"Enum",          L"FunctionType",   L"PointerType",    L"ArrayType",
    L"BaseType",      L"Typedef",        L"BaseClass",      L"Friend",
    L"FunctionArgType", L"FuncDebugStart", L"FuncDebugEnd", L"UsingNameSpace",
    L"VTableShape",   L"VTable",         L"Custom",         L"Thunk",
    L"CustomType",    L"ManagedType",    L"Dimension",      L"CallSite",
    L"InlineSite",    L"BaseInterface",  L"VectorType",     L"MatrixType",
    L"HLSLType",
};
static_assert(std::size(kExpected) == 37);

TEST(SymTagNameTest, NamesEveryTagOfTheTable) {
  for (std::uint32_t tag = 0; tag < std::size(kExpected); ++tag) {
    EXPECT_EQ(std::wstring(SymTagName(tag)), kExpected[tag]) << tag;
  }
}

TEST(SymTagNameTest, EveryOtherValueIsUnknown) {
  EXPECT_EQ(std::wstring(SymTagName(37)), L"Unknown");
  // Values that would be negative as signed numbers are simply large.
  EXPECT_EQ(std::wstring(SymTagName(UINT32_MAX)), L"Unknown");
  EXPECT_EQ(std::wstring(SymTagName(0x80000000u)), L"Unknown");
}

}  // namespace
}  // namespace sorvanta
