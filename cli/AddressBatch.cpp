#include "AddressBatch.h"

#include <algorithm>
#include <array>
#include <utility>

#include "AddressText.h"

namespace sorvanta {

namespace {

// Sorts by address, least significant digit first, over only the bits in
// which the addresses differ: a few linear passes where a comparison sort
// takes twenty. Equal addresses need no order among themselves.
template <class Item>
void SortByAddress(std::vector<Item>* items, std::vector<Item>* scratch) {
  if (items->size() < 2) return;
  std::uint64_t low = UINT64_MAX;
  std::uint64_t high = 0;
  for (const Item& item : *items) {
    low = std::min(low, item.va);
    high = std::max(high, item.va);
  }
  constexpr unsigned kDigitBits = 11;
  constexpr std::size_t kDigits = std::size_t{1} << kDigitBits;
  std::array<std::size_t, kDigits> starts;
  scratch->resize(items->size());
  for (unsigned shift = 0; shift < 64 && ((high - low) >> shift) != 0; shift += kDigitBits) {
    auto digit = [&](const Item& item) { return static_cast<std::size_t>(((item.va - low) >> shift) & (kDigits - 1)); };
    starts.fill(0);
    for (const Item& item : *items) ++starts[digit(item)];
    std::size_t at = 0;
    for (std::size_t& start : starts) at += std::exchange(start, at);
    for (const Item& item : *items) (*scratch)[starts[digit(item)]++] = item;
    items->swap(*scratch);
  }
}

}  // namespace

void AddressBatch::AnswerAll(const std::vector<std::string_view>& lines, Output& out) {
  sorted_.clear();
  answerOf_.assign(lines.size(), kNoAddress);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::uint64_t va = 0;
    if (ParseAddress(lines[i], &va)) sorted_.push_back({va, static_cast<std::uint32_t>(i)});
  }
  SortByAddress(&sorted_, &scratch_);

  // One answer per distinct address.
  vas_.clear();
  for (const Address& a : sorted_) {
    if (vas_.empty() || vas_.back() != a.va) vas_.push_back(a.va);
    answerOf_[a.line] = static_cast<std::uint32_t>(vas_.size() - 1);
  }
  held_.clear();
  answers_.assign(vas_.size(), Held{kNotHeld, kNotHeld});
  for (std::size_t k = 0; k < vas_.size() && held_.size() < heldLimit_; ++k) {
    answers_[k].begin = held_.size();
    answer_(vas_[k], &held_);
    answers_[k].end = held_.size();
  }

  const std::string_view held = held_.view();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::uint32_t k = answerOf_[i];
    if (k == kNoAddress) {
      notAnAddress_(lines[i], &out.buffer());
    } else if (answers_[k].begin == kNotHeld) {
      answer_(vas_[k], &out.buffer());
    } else {
      out.buffer().Append(held.substr(answers_[k].begin, answers_[k].end - answers_[k].begin));
    }
    out.EndRecord();
  }
}

}  // namespace sorvanta
