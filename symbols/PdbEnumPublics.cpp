#include "PdbEnumPublics.h"

#include <utility>

#include "PdbImage.h"

namespace sorvanta {

PdbEnumPublics::PdbEnumPublics(std::shared_ptr<PdbImage> image)
    : image_(std::move(image)), all_(true) {
  count_ = image_ ? image_->publicCount() : 0;
}

PdbEnumPublics::PdbEnumPublics(std::shared_ptr<PdbImage> image, std::vector<std::uint32_t> publics)
    : image_(std::move(image)), publics_(std::move(publics)) {
  count_ = publics_.size();
}

HRESULT PdbEnumPublics::Next(std::uint32_t count, DiaRef<IDiaSymbol>* items, std::uint32_t* fetched) {
  if (count > 0 && !items) return E_POINTER;
  if (count > 1 && !fetched) return E_POINTER;
  std::uint32_t n = 0;
  while (n < count && position_ < count_) {
    const std::uint32_t index = all_ ? static_cast<std::uint32_t>(position_) : publics_[position_];
    items[n++] = PdbImage::PublicRef(image_, index);
    ++position_;
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT PdbEnumPublics::get_Count(std::int32_t* count) {
  if (!count) return E_POINTER;
  if (count_ > static_cast<std::size_t>(INT32_MAX)) return E_FAIL;
  *count = static_cast<std::int32_t>(count_);
  return S_OK;
}

}  // namespace sorvanta
