#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "IDiaEnumSymbols.h"

namespace sorvanta {

class PdbImage;

// Enumerates functions, or public symbols, of a loaded image: either all
// of them in the image's order, or a given list of indices.
class PdbEnumSymbols final : public IDiaEnumSymbols {
 public:
  enum class Kind { kFunctions, kPublics };

  // Every symbol of that kind in the image.
  PdbEnumSymbols(std::shared_ptr<PdbImage> image, Kind kind);
  // The listed symbols, in list order.
  PdbEnumSymbols(std::shared_ptr<PdbImage> image, Kind kind, std::vector<std::uint32_t> indices);
  // Nothing.
  PdbEnumSymbols() = default;

  HRESULT Next(std::uint32_t count, DiaRef<IDiaSymbol>* items, std::uint32_t* fetched) override;
  HRESULT get_Count(std::int32_t* count) override;

 private:
  std::shared_ptr<PdbImage> image_;
  Kind kind_ = Kind::kFunctions;
  std::vector<std::uint32_t> indices_;
  bool all_ = false;
  std::size_t position_ = 0;
  std::size_t count_ = 0;
};

}  // namespace sorvanta
