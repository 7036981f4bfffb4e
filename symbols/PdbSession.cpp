#include "PdbSession.h"

#include <utility>

#include "PdbImage.h"
#include "SymTag.h"

namespace sorvanta {

PdbSession::PdbSession(std::shared_ptr<PdbImage> image) : image_(std::move(image)) {}

HRESULT PdbSession::put_loadAddress(std::uint64_t loadAddress) {
  return image_->SetLoadAddress(loadAddress);
}

HRESULT PdbSession::get_globalScope(DiaRef<IDiaSymbol>* scope) {
  if (!scope) return E_POINTER;
  *scope = PdbImage::GlobalScopeRef(image_);
  return S_OK;
}

HRESULT PdbSession::findSymbolByVA(std::uint64_t virtualAddress, std::uint32_t symTag,
                                   DiaRef<IDiaSymbol>* symbol) {
  if (!symbol) return E_POINTER;
  symbol->reset();
  if (symTag == SymTagPublicSymbol) {
    const std::optional<std::uint32_t> nearest = image_->FindPublicAtOrBelow(virtualAddress);
    if (!nearest) return S_FALSE;
    *symbol = PdbImage::PublicRef(image_, *nearest);
    return S_OK;
  }
  if (symTag != SymTagFunction && symTag != SymTagNull) return S_FALSE;
  const std::optional<std::uint32_t> found = image_->FindFunction(virtualAddress);
  if (!found) return S_FALSE;
  *symbol = PdbImage::FunctionRef(image_, *found);
  return S_OK;
}

}  // namespace sorvanta
