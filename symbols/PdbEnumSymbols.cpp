#include "PdbEnumSymbols.h"

#include <cstdint>
#include <utility>

#include "PdbImage.h"

namespace sorvanta {

PdbEnumSymbols::PdbEnumSymbols(std::shared_ptr<PdbImage> image, Kind kind)
    : image_(std::move(image)), kind_(kind), all_(true) {
  if (image_) count_ = kind == Kind::kPublics ? image_->publicCount() : image_->functionCount();
}

PdbEnumSymbols::PdbEnumSymbols(std::shared_ptr<PdbImage> image, Kind kind,
                               std::vector<std::uint32_t> indices)
    : image_(std::move(image)), kind_(kind), indices_(std::move(indices)) {
  count_ = indices_.size();
}

HRESULT PdbEnumSymbols::Next(std::uint32_t count, DiaRef<IDiaSymbol>* items, std::uint32_t* fetched) {
  if (count > 0 && !items) return E_POINTER;
  if (count > 1 && !fetched) return E_POINTER;
  std::uint32_t n = 0;
  while (n < count && position_ < count_) {
    const std::uint32_t index = all_ ? static_cast<std::uint32_t>(position_) : indices_[position_];
    items[n++] = kind_ == Kind::kPublics ? PdbImage::PublicRef(image_, index)
                                         : PdbImage::FunctionRef(image_, index);
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
