#pragma once

#include <cstdint>

#include "DiaRef.h"
#include "HResult.h"
#include "IDiaSymbol.h"

namespace sorvanta {

// A query session on one loaded PDB file.
class IDiaSession {
 public:
  virtual ~IDiaSession() = default;

  // Sets the address the image is loaded at; virtual addresses are this
  // plus the relative address. Fails when the value would push some
  // function's address past 64 bits.
  virtual HRESULT put_loadAddress(std::uint64_t loadAddress) = 0;
  virtual HRESULT get_globalScope(DiaRef<IDiaSymbol>* scope) = 0;
  // The symbol of the given tag whose range holds virtualAddress; writes a
  // null reference when there is none.
  virtual HRESULT findSymbolByVA(std::uint64_t virtualAddress, std::uint32_t symTag,
                                 DiaRef<IDiaSymbol>* symbol) = 0;
};

}  // namespace sorvanta
