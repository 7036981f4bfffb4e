#pragma once

#include <cstdint>
#include <string>

#include "AddressText.h"
#include "IDiaSymbol.h"

namespace sorvanta {

// The texts of columns 1..6 of one symbol's row.
struct RowTexts {
  std::wstring name;
  std::wstring tag;
  std::wstring address;
  std::wstring length;
  std::wstring sourceFile;
  std::wstring objectFile;
};

// Reads the six shown properties of `symbol`. Each is read into a value
// preset to empty or 0 and the result codes are not looked at, so a property
// the symbol does not supply shows as "", "NULL", "0X00000000" or "0".
// A null symbol reads as one that supplies nothing.
RowTexts ReadRowTexts(IDiaSymbol* symbol);

// "%lld": the length as a signed 64-bit number.
std::wstring FormatLength(std::uint64_t length);

}  // namespace sorvanta
