#pragma once

#include <cstdint>

namespace sorvanta {

// Symbol tags, numbered as DIA's public SymTagEnum (the type is SymTag here so
// that the enumerator SymTagEnum keeps its DIA name).
enum SymTag : std::uint32_t {
  SymTagNull = 0,
  SymTagExe = 1,
  SymTagCompiland = 2,
  SymTagCompilandDetails = 3,
  SymTagCompilandEnv = 4,
  SymTagFunction = 5,
  SymTagBlock = 6,
  SymTagData = 7,
  SymTagAnnotation = 8,
  SymTagLabel = 9,
  SymTagPublicSymbol = 10,
  SymTagUDT = 11,
  SymTagEnum = 12,
  SymTagFunctionType = 13,
  SymTagPointerType = 14,
  SymTagArrayType = 15,
  SymTagBaseType = 16,
  SymTagTypedef = 17,
  SymTagBaseClass = 18,
  SymTagFriend = 19,
  SymTagFunctionArgType = 20,
  SymTagFuncDebugStart = 21,
  SymTagFuncDebugEnd = 22,
  SymTagUsingNamespace = 23,
  SymTagVTableShape = 24,
  SymTagVTable = 25,
  SymTagCustom = 26,
  SymTagThunk = 27,
  SymTagCustomType = 28,
  SymTagManagedType = 29,
  SymTagDimension = 30,
  SymTagCallSite = 31,
  SymTagInlineSite = 32,
  SymTagBaseInterface = 33,
  SymTagVectorType = 34,
  SymTagMatrixType = 35,
  SymTagHLSLType = 36,
  SymTagMax = 37,
};

// Name comparison flags of findChildren, as DIA's NameSearchOptions.
enum NameSearchOptions : std::uint32_t {
  nsNone = 0x0,
  nsfCaseSensitive = 0x1,
  nsfCaseInsensitive = 0x2,
  nsfFNameExt = 0x4,
  nsfRegularExpression = 0x8,
  nsfUndecoratedName = 0x10,
};

}  // namespace sorvanta
