#include "PdbPublicSymbol.h"

#include "PdbEnumSymbols.h"
#include "PdbImage.h"
#include "SymTag.h"
#include "Utf8.h"

namespace sorvanta {

HRESULT PdbPublicSymbol::findChildren(std::uint32_t, const std::wstring*, std::uint32_t,
                                      DiaRef<IDiaEnumSymbols>* result) {
  if (!result) return E_POINTER;
  *result = std::make_shared<PdbEnumSymbols>();
  return S_FALSE;
}

HRESULT PdbPublicSymbol::get_name(std::wstring* name) {
  if (!name) return E_POINTER;
  const PdbImage& image = PdbImage::FromHandle(image_);
  std::string scratch;
  *name = Utf8ToWide(image.PublicName(image.PublicIndex(*this), &scratch));
  return S_OK;
}

HRESULT PdbPublicSymbol::get_symTag(std::uint32_t* symTag) {
  if (!symTag) return E_POINTER;
  *symTag = SymTagPublicSymbol;
  return S_OK;
}

HRESULT PdbPublicSymbol::get_virtualAddress(std::uint64_t* virtualAddress) {
  if (!virtualAddress) return E_POINTER;
  const PdbImage& image = PdbImage::FromHandle(image_);
  const std::optional<std::uint64_t> va = image.PublicAddress(image.PublicIndex(*this));
  if (!va) return E_FAIL;
  *virtualAddress = *va;
  return S_OK;
}

// The publics stream records where a public starts, not how long it is.
HRESULT PdbPublicSymbol::get_length(std::uint64_t*) { return S_FALSE; }
HRESULT PdbPublicSymbol::get_sourceFileName(std::wstring*) { return S_FALSE; }
HRESULT PdbPublicSymbol::get_objectFileName(std::wstring*) { return S_FALSE; }

}  // namespace sorvanta
