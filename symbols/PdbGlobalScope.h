#pragma once

#include <cstdint>

#include "IDiaSymbol.h"

namespace sorvanta {

class PdbImage;

// The global scope (the executable) of a loaded PDB file: the symbol whose
// children are the file's functions.
class PdbGlobalScope final : public IDiaSymbol {
 public:
  explicit PdbGlobalScope(PdbImage* image) : image_(image) {}

  // Children of tag SymTagFunction (or SymTagNull, any tag): all functions
  // for a null name, else those whose name matches. Tag SymTagPublicSymbol
  // gives the public symbols the image was loaded with, matched by their
  // demangled names. Flags: nsfCaseInsensitive
  // folds case; nsNone and nsfCaseSensitive compare exactly; nsfUndecoratedName
  // is accepted (function names are stored undecorated). Regular expressions
  // and file-name matching are not offered (E_NOTIMPL).
  HRESULT findChildren(std::uint32_t symTag, const std::wstring* name, std::uint32_t compareFlags,
                       DiaRef<IDiaEnumSymbols>* result) override;
  HRESULT get_name(std::wstring* name) override;
  HRESULT get_symTag(std::uint32_t* symTag) override;
  HRESULT get_virtualAddress(std::uint64_t* virtualAddress) override;
  HRESULT get_length(std::uint64_t* length) override;
  HRESULT get_sourceFileName(std::wstring* fileName) override;
  HRESULT get_objectFileName(std::wstring* fileName) override;

 private:
  HRESULT FindPublics(const std::wstring* name, std::uint32_t compareFlags,
                      DiaRef<IDiaEnumSymbols>* result);

  PdbImage* image_;
};

}  // namespace sorvanta
