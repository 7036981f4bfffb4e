#pragma once

#include <memory>

#include "IDiaSession.h"

namespace sorvanta {

class PdbImage;

// A session on a loaded image. The load address belongs to the image, so
// symbols read later, through any reference, see the address set last.
class PdbSession final : public IDiaSession {
 public:
  explicit PdbSession(std::shared_ptr<PdbImage> image);

  HRESULT put_loadAddress(std::uint64_t loadAddress) override;
  HRESULT get_globalScope(DiaRef<IDiaSymbol>* scope) override;
  // Finds functions (symTag SymTagFunction, or SymTagNull for any tag).
  // SymTagPublicSymbol finds the nearest public at or below the address
  // within its section, as a debugger's nearest-symbol command does.
  HRESULT findSymbolByVA(std::uint64_t virtualAddress, std::uint32_t symTag,
                         DiaRef<IDiaSymbol>* symbol) override;

 private:
  std::shared_ptr<PdbImage> image_;
};

}  // namespace sorvanta
