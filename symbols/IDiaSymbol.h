#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DiaRef.h"
#include "HResult.h"

namespace sorvanta {

class IDiaEnumSymbols;

// One symbol of an open PDB file. Getters write their out value only on
// success; a caller that presets the value keeps the preset otherwise.
// A symbol stays readable for as long as a reference to it is held, also
// after the session that produced it was released.
class IDiaSymbol {
 public:
  virtual ~IDiaSymbol() = default;

  // Children of this symbol with the given tag. name == nullptr asks for
  // all of them; otherwise the comparison follows compareFlags
  // (NameSearchOptions).
  virtual HRESULT findChildren(std::uint32_t symTag, const std::wstring* name,
                               std::uint32_t compareFlags,
                               DiaRef<IDiaEnumSymbols>* result) = 0;

  virtual HRESULT get_name(std::wstring* name) = 0;
  virtual HRESULT get_symTag(std::uint32_t* symTag) = 0;
  virtual HRESULT get_virtualAddress(std::uint64_t* virtualAddress) = 0;
  virtual HRESULT get_length(std::uint64_t* length) = 0;
  virtual HRESULT get_sourceFileName(std::wstring* fileName) = 0;
  virtual HRESULT get_objectFileName(std::wstring* fileName) = 0;
};

// A symbol reference and a symbol list, in enumeration order.
using SymbolRef = DiaRef<IDiaSymbol>;
using SymbolList = std::vector<SymbolRef>;

}  // namespace sorvanta
