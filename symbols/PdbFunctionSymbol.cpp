#include "PdbFunctionSymbol.h"

#include "PdbEnumSymbols.h"
#include "PdbImage.h"
#include "SymTag.h"
#include "Utf8.h"

namespace sorvanta {

HRESULT PdbFunctionSymbol::findChildren(std::uint32_t, const std::wstring*, std::uint32_t,
                                        DiaRef<IDiaEnumSymbols>* result) {
  // Locals, blocks and inline sites are not offered: a function has no
  // children.
  if (!result) return E_POINTER;
  *result = std::make_shared<PdbEnumSymbols>();
  return S_FALSE;
}

HRESULT PdbFunctionSymbol::get_name(std::wstring* name) {
  if (!name) return E_POINTER;
  PdbImage& image = PdbImage::FromHandle(image_);
  const std::uint32_t index = image.FunctionIndex(*this);
  *name = Utf8ToWide(image.FunctionName(index));
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_symTag(std::uint32_t* symTag) {
  if (!symTag) return E_POINTER;
  *symTag = SymTagFunction;
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_virtualAddress(std::uint64_t* virtualAddress) {
  if (!virtualAddress) return E_POINTER;
  PdbImage& image = PdbImage::FromHandle(image_);
  const std::uint32_t index = image.FunctionIndex(*this);
  const std::optional<std::uint64_t> va = image.FunctionAddress(index);
  if (!va) return E_FAIL;  // discarded code has no address
  *virtualAddress = *va;
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_length(std::uint64_t* length) {
  if (!length) return E_POINTER;
  PdbImage& image = PdbImage::FromHandle(image_);
  const std::uint32_t index = image.FunctionIndex(*this);
  *length = image.FunctionLength(index);
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_sourceFileName(std::wstring* fileName) {
  if (!fileName) return E_POINTER;
  PdbImage& image = PdbImage::FromHandle(image_);
  const std::uint32_t index = image.FunctionIndex(*this);
  const std::string_view file = image.SourceFile(index);
  if (file.empty()) return S_FALSE;
  *fileName = Utf8ToWide(file);
  return S_OK;
}

HRESULT PdbFunctionSymbol::get_objectFileName(std::wstring* fileName) {
  if (!fileName) return E_POINTER;
  PdbImage& image = PdbImage::FromHandle(image_);
  const std::uint32_t index = image.FunctionIndex(*this);
  const std::string_view object = image.ObjectFile(index);
  if (object.empty()) return S_FALSE;
  *fileName = Utf8ToWide(object);
  return S_OK;
}

}  // namespace sorvanta
