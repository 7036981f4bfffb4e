#include "PdbFunctionSymbol.h"

#include "PdbEnumSymbols.h"
#include "PdbImage.h"
#include "SymTag.h"
#include "Utf8.h"

namespace sorvanta {

HRESULT PdbFunctionSymbol::findChildren(std::uint32_t, const std::wstring*, std::uint32_t,
                                        DiaRef<IDiaEnumSymbols>* result) {
  // Locals, blocks and inline sites are not modelled: a function has no
  // children to offer.
  if (!result) return E_POINTER;
  *result = std::make_shared<PdbEnumSymbols>();
  return S_FALSE;
}

HRESULT PdbFunctionSymbol::get_name(std::wstring* name) {
  if (!name) return E_POINTER;
  *name = Utf8ToWide(name_, nameLength_);
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_symTag(std::uint32_t* symTag) {
  if (!symTag) return E_POINTER;
  *symTag = SymTagFunction;
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_virtualAddress(std::uint64_t* virtualAddress) {
  if (!virtualAddress) return E_POINTER;
  const std::optional<std::uint32_t> rva = image_->Rva(*this);
  if (!rva) return E_FAIL;  // discarded code has no address
  *virtualAddress = image_->loadAddress() + *rva;
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_length(std::uint64_t* length) {
  if (!length) return E_POINTER;
  *length = codeSize_;
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_sourceFileName(std::wstring* fileName) {
  if (!fileName) return E_POINTER;
  const std::wstring* file = image_->SourceFile(*this);
  if (!file) return S_FALSE;
  *fileName = *file;
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_objectFileName(std::wstring* fileName) {
  if (!fileName) return E_POINTER;
  const std::string* object = image_->ObjectFile(*this);
  if (!object) return S_FALSE;
  *fileName = Utf8ToWide(*object);
  return S_OK;
}

}  // namespace sorvanta
