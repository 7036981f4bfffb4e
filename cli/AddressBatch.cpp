#include "AddressBatch.h"

#include <algorithm>
#include <array>
#include <exception>
#include <system_error>
#include <thread>
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

// Fewer addresses than this a thread are answered on the calling thread
// alone: starting a thread costs more than they take.
constexpr std::size_t kAddressesPerThread = 4096;

}  // namespace

AddressBatch::AddressBatch(std::vector<Answer> answerers, NotAnAddress notAnAddress, std::size_t heldLimit)
    : answerers_(std::move(answerers)),
      notAnAddress_(std::move(notAnAddress)),
      heldLimit_(heldLimit),
      held_(answerers_.size()) {}

void AddressBatch::AnswerRun(std::size_t part, std::size_t begin, std::size_t end, std::size_t limit) {
  TextBuffer& held = held_[part].text;
  held.clear();
  for (std::size_t k = begin; k < end && held.size() < limit; ++k) {
    const std::size_t from = held.size();
    answerers_[part](vas_[k], &held);
    answers_[k] = {part, from, held.size()};
  }
}

void AddressBatch::AnswerAll(const std::vector<std::string_view>& lines, Output& out) {
  // As many lines at a time as the answers so far say will fit.
  for (std::size_t first = 0; first < lines.size();) {
    const std::size_t count = std::min(lines.size() - first, std::max<std::size_t>(1, heldLimit_ / heldPerAnswer_));
    AnswerLines(lines, first, first + count, out);
    first += count;
  }
}

void AddressBatch::AnswerLines(const std::vector<std::string_view>& lines, std::size_t first, std::size_t end,
                               Output& out) {
  sorted_.clear();
  answerOf_.assign(end - first, kNoAddress);
  for (std::size_t i = first; i < end; ++i) {
    std::uint64_t va = 0;
    if (ParseAddress(lines[i], &va)) sorted_.push_back({va, static_cast<std::uint32_t>(i - first)});
  }
  SortByAddress(&sorted_, &scratch_);

  // One answer per distinct address.
  vas_.clear();
  for (const Address& a : sorted_) {
    if (vas_.empty() || vas_.back() != a.va) vas_.push_back(a.va);
    answerOf_[a.line] = static_cast<std::uint32_t>(vas_.size() - 1);
  }
  answers_.assign(vas_.size(), Held{kNotHeld, 0, 0});

  // Each part answers its run of the sorted addresses; the first on this
  // thread, the others each on one of their own.
  const std::size_t parts = std::clamp<std::size_t>(vas_.size() / kAddressesPerThread, 1, answerers_.size());
  std::vector<std::exception_ptr> failed(parts);
  auto answerPart = [&](std::size_t part) {
    try {
      AnswerRun(part, vas_.size() * part / parts, vas_.size() * (part + 1) / parts, heldLimit_ / parts);
    } catch (...) {
      failed[part] = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t part = 1; part < parts; ++part) {
    try {
      threads.emplace_back(answerPart, part);
    } catch (const std::system_error&) {
      answerPart(part);  // no thread to be had: answered here, after the first
    }
  }
  answerPart(0);
  for (std::thread& thread : threads) thread.join();
  for (const std::exception_ptr& failure : failed) {
    if (failure) std::rethrow_exception(failure);
  }
  std::size_t heldBytes = 0;
  for (std::size_t part = 0; part < parts; ++part) heldBytes += held_[part].text.size();
  if (!vas_.empty()) heldPerAnswer_ = std::max(kLeastPerAnswer, heldBytes / vas_.size() + heldBytes / vas_.size() / 4);

  // The answers are read in the lines' order, all over what is held: each
  // is asked for from memory some lines ahead, its place before its text.
  constexpr std::size_t kAhead = 8;
  auto readAhead = [&](std::size_t i) {
    if (i + 2 * kAhead < end) {
      if (const std::uint32_t k = answerOf_[i + 2 * kAhead - first]; k != kNoAddress) __builtin_prefetch(&answers_[k]);
    }
    if (i + kAhead < end) {
      if (const std::uint32_t k = answerOf_[i + kAhead - first]; k != kNoAddress && answers_[k].part != kNotHeld) {
        __builtin_prefetch(held_[answers_[k].part].text.view().data() + answers_[k].begin);
      }
    }
  };
  for (std::size_t i = first; i < end; ++i) {
    readAhead(i);
    const std::uint32_t k = answerOf_[i - first];
    if (k == kNoAddress) {
      notAnAddress_(lines[i], &out.buffer());
    } else if (const Held& a = answers_[k]; a.part == kNotHeld) {
      answerers_[0](vas_[k], &out.buffer());
    } else {
      out.buffer().Append(held_[a.part].text.view().substr(a.begin, a.end - a.begin));
    }
    out.EndRecord();
  }
}

}  // namespace sorvanta
