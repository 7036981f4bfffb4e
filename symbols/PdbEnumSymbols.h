#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "IDiaEnumSymbols.h"

namespace sorvanta {

class PdbImage;

// Enumerates functions of a loaded image: either all of them in enumeration
// order, or a given list of function indices.
class PdbEnumSymbols final : public IDiaEnumSymbols {
 public:
  // Every function of the image.
  explicit PdbEnumSymbols(std::shared_ptr<PdbImage> image);
  // The listed functions, in list order.
  PdbEnumSymbols(std::shared_ptr<PdbImage> image, std::vector<std::uint32_t> functions);
  // Nothing.
  PdbEnumSymbols() = default;

  HRESULT Next(std::uint32_t count, DiaRef<IDiaSymbol>* items, std::uint32_t* fetched) override;
  HRESULT get_Count(std::int32_t* count) override;

 private:
  std::shared_ptr<PdbImage> image_;
  std::vector<std::uint32_t> functions_;
  bool all_ = false;
  std::size_t position_ = 0;
  std::size_t count_ = 0;
};

}  // namespace sorvanta
