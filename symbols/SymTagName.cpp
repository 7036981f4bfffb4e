#include "SymTagName.h"

#include <iterator>

namespace sorvanta {

namespace {

constexpr const wchar_t* kTagNames[] = {
    L"NULL",           L"EXE",
    L"Compiland",      L"CompilandDetails",
    L"CompilandEnv",   L"Function",
    L"Block",          L"Data",
    L"Annotation",     L"Label",
    L"PublicSymbol",   L"UDT",
    L"Enum",           L"FunctionType",
    L"PointerType",    L"ArrayType",
    L"BaseType",       L"Typedef",
    L"BaseClass",      L"Friend",
    L"FunctionArgType", L"FuncDebugStart",
    L"FuncDebugEnd",   L"UsingNameSpace",
    L"VTableShape",    L"VTable",
    L"Custom",         L"Thunk",
    L"CustomType",     L"ManagedType",
    L"Dimension",      L"CallSite",
    L"InlineSite",     L"BaseInterface",
    L"VectorType",     L"MatrixType",
    L"HLSLType",
};
static_assert(std::size(kTagNames) == 37, "one name per tag 0..36");

}  // namespace

const wchar_t* SymTagName(std::uint32_t symTag) {
  // Unsigned comparison: values that would be negative as signed numbers
  // are simply large here and fall through to "Unknown".
  if (symTag < std::size(kTagNames)) return kTagNames[symTag];
  return L"Unknown";
}

}  // namespace sorvanta
