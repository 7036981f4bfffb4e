#include "PdbGlobalScope.h"

#include "PdbEnumSymbols.h"
#include "PdbImage.h"
#include "SymTag.h"
#include "Utf8.h"

namespace sorvanta {

HRESULT PdbGlobalScope::findChildren(std::uint32_t symTag, const std::wstring* name,
                                     std::uint32_t compareFlags, DiaRef<IDiaEnumSymbols>* result) {
  if (!result) return E_POINTER;
  result->reset();
  if (compareFlags & (nsfRegularExpression | nsfFNameExt)) return E_NOTIMPL;
  if (symTag == SymTagPublicSymbol) return FindPublics(name, compareFlags, result);
  if (symTag != SymTagFunction && symTag != SymTagNull) {
    // Functions and publics are the only children this reader knows.
    *result = std::make_shared<PdbEnumSymbols>();
    return S_FALSE;
  }
  // The scope lives inside its image: share the image's ownership so the
  // enumerator keeps it alive.
  std::shared_ptr<PdbImage> image = image_->self();
  if (!name) {
    *result = std::make_shared<PdbEnumSymbols>(std::move(image), PdbEnumSymbols::Kind::kFunctions);
  } else {
    const bool caseInsensitive = (compareFlags & nsfCaseInsensitive) != 0;
    std::vector<std::uint32_t> found = image->FindFunctions(WideToUtf8(*name), caseInsensitive);
    *result = std::make_shared<PdbEnumSymbols>(std::move(image), PdbEnumSymbols::Kind::kFunctions,
                                               std::move(found));
  }
  return S_OK;
}

HRESULT PdbGlobalScope::FindPublics(const std::wstring* name, std::uint32_t compareFlags,
                                    DiaRef<IDiaEnumSymbols>* result) {
  std::shared_ptr<PdbImage> image = image_->self();
  if (!name) {
    *result = std::make_shared<PdbEnumSymbols>(std::move(image), PdbEnumSymbols::Kind::kPublics);
  } else {
    const bool caseInsensitive = (compareFlags & nsfCaseInsensitive) != 0;
    std::vector<std::uint32_t> found = image->FindPublics(WideToUtf8(*name), caseInsensitive);
    *result = std::make_shared<PdbEnumSymbols>(std::move(image), PdbEnumSymbols::Kind::kPublics,
                                               std::move(found));
  }
  return S_OK;
}

HRESULT PdbGlobalScope::get_name(std::wstring* name) {
  if (!name) return E_POINTER;
  *name = Utf8ToWide(image_->fileStem());
  return S_OK;
}

HRESULT PdbGlobalScope::get_symTag(std::uint32_t* symTag) {
  if (!symTag) return E_POINTER;
  *symTag = SymTagExe;
  return S_OK;
}

// The executable as a whole has no address, length or files of its own.
HRESULT PdbGlobalScope::get_virtualAddress(std::uint64_t*) { return S_FALSE; }
HRESULT PdbGlobalScope::get_length(std::uint64_t*) { return S_FALSE; }
HRESULT PdbGlobalScope::get_sourceFileName(std::wstring*) { return S_FALSE; }
HRESULT PdbGlobalScope::get_objectFileName(std::wstring*) { return S_FALSE; }

}  // namespace sorvanta
