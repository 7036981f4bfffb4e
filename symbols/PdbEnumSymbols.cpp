#include "PdbEnumSymbols.h"

#include <cstdint>
#include <utility>

#include "PdbImage.h"

namespace sorvanta {

PdbEnumSymbols::PdbEnumSymbols(std::shared_ptr<PdbImage> image)
    : image_(std::move(image)), all_(true) {
  count_ = image_ ? image_->functionCount() : 0;
}

PdbEnumSymbols::PdbEnumSymbols(std::shared_ptr<PdbImage> image, std::vector<std::uint32_t> functions)
    : image_(std::move(image)), functions_(std::move(functions)) {
  count_ = functions_.size();
}

HRESULT PdbEnumSymbols::Next(std::uint32_t count, DiaRef<IDiaSymbol>* items, std::uint32_t* fetched) {
  if (count > 0 && !items) return E_POINTER;
  if (count > 1 && !fetched) return E_POINTER;
  std::uint32_t n = 0;
  while (n < count && position_ < count_) {
    const std::uint32_t index = all_ ? static_cast<std::uint32_t>(position_) : functions_[position_];
    items[n++] = PdbImage::FunctionRef(image_, index);
    ++position_;
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT PdbEnumSymbols::get_Count(std::int32_t* count) {
  if (!count) return E_POINTER;
  if (count_ > static_cast<std::size_t>(INT32_MAX)) return E_FAIL;
  *count = static_cast<std::int32_t>(count_);
  return S_OK;
}

}  // namespace sorvanta
