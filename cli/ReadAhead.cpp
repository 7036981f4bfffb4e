#include "ReadAhead.h"

#include "AddressText.h"

namespace sorvanta {

void ReadAhead::Prepare(std::string_view text) {
  Line& line = lines_[(first_ + count_) % lines_.size()];
  line.parsed = ParseAddress(text, &line.va);
  ++count_;
  const std::size_t distance = kLookahead / static_cast<std::size_t>(steps_);
  for (int step = 0; step < steps_; ++step) {
    const std::size_t back = static_cast<std::size_t>(step) * distance;
    if (back >= count_) break;
    const Line& earlier = lines_[(first_ + count_ - 1 - back) % lines_.size()];
    if (earlier.parsed) step_(earlier.va, step);
  }
}

bool ReadAhead::Take(std::string_view text, std::uint64_t* va) {
  if (count_ == 0) return ParseAddress(text, va);
  const Line& line = lines_[first_];
  first_ = (first_ + 1) % lines_.size();
  --count_;
  *va = line.va;
  return line.parsed;
}

}  // namespace sorvanta
