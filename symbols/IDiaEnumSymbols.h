#pragma once

#include <cstdint>

#include "DiaRef.h"
#include "HResult.h"
#include "IDiaSymbol.h"

namespace sorvanta {

// A forward-only enumeration of symbols.
class IDiaEnumSymbols {
 public:
  virtual ~IDiaEnumSymbols() = default;

  // Writes up to count symbols into items[0..count) and their number into
  // *fetched. S_OK when count symbols were fetched, S_FALSE when fewer
  // (the end was reached).
  virtual HRESULT Next(std::uint32_t count, DiaRef<IDiaSymbol>* items,
                       std::uint32_t* fetched) = 0;

  // The number of symbols in the whole enumeration.
  virtual HRESULT get_Count(std::int32_t* count) = 0;
};

}  // namespace sorvanta
