#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "IDiaEnumSymbols.h"

namespace sorvanta {

class PdbImage;

// Enumerates public symbols of a loaded image: all of them in table order,
// or a given list of public indices.
class PdbEnumPublics final : public IDiaEnumSymbols {
 public:
  explicit PdbEnumPublics(std::shared_ptr<PdbImage> image);
  PdbEnumPublics(std::shared_ptr<PdbImage> image, std::vector<std::uint32_t> publics);

  HRESULT Next(std::uint32_t count, DiaRef<IDiaSymbol>* items, std::uint32_t* fetched) override;
  HRESULT get_Count(std::int32_t* count) override;

 private:
  std::shared_ptr<PdbImage> image_;
  std::vector<std::uint32_t> publics_;
  bool all_ = false;
  std::size_t position_ = 0;
  std::size_t count_ = 0;
};

}  // namespace sorvanta
