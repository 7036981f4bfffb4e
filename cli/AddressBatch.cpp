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
// The answers of this many lines a thread are written out together.
constexpr std::size_t kLinesPerWrite = std::size_t{1} << 16;

// Runs work(part) for each of parts: the first on this thread, the others
// each on a thread of its own (or here, when none can be had). Throws
// again the first exception a part threw, once every part has stopped.
template <class Work>
void OnThreads(std::size_t parts, const Work& work) {
  std::vector<std::exception_ptr> failed(parts);
  auto run = [&](std::size_t part) {
    try {
      work(part);
    } catch (...) {
      failed[part] = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(parts);  // so that no thread is running when this throws
  for (std::size_t part = 1; part < parts; ++part) {
    try {
      threads.emplace_back(run, part);
    } catch (const std::system_error&) {
      run(part);
    }
  }
  run(0);
  for (std::thread& thread : threads) thread.join();
  for (const std::exception_ptr& failure : failed) {
    if (failure) std::rethrow_exception(failure);
  }
}

}  // namespace

AddressBatch::AddressBatch(std::vector<Answer> answerers, NotAnAddress notAnAddress, std::size_t heldLimit,
                           std::function<void()> beforeThreads)
    : answerers_(std::move(answerers)),
      notAnAddress_(std::move(notAnAddress)),
      heldLimit_(heldLimit),
      beforeThreads_(std::move(beforeThreads)),
      held_(answerers_.size()),
      gathered_(answerers_.size()) {}

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

  // Each part answers its run of the sorted addresses on a thread.
  const std::size_t parts = std::clamp<std::size_t>(vas_.size() / kAddressesPerThread, 1, answerers_.size());
  if (parts > 1 && beforeThreads_) {
    beforeThreads_();
    beforeThreads_ = nullptr;
  }
  OnThreads(parts, [&](std::size_t part) {
    AnswerRun(part, vas_.size() * part / parts, vas_.size() * (part + 1) / parts, heldLimit_ / parts);
  });
  std::size_t heldBytes = 0;
  bool allHeld = sorted_.size() == end - first;  // every line an address
  for (std::size_t part = 0; part < parts; ++part) heldBytes += held_[part].text.size();
  for (const Held& a : answers_) allHeld = allHeld && a.part != kNotHeld;
  if (!vas_.empty()) heldPerAnswer_ = std::max(kLeastPerAnswer, heldBytes / vas_.size() + heldBytes / vas_.size() / 4);

  auto heldText = [&](std::size_t i) {
    const Held& a = answers_[answerOf_[i - first]];
    return held_[a.part].text.view().substr(a.begin, a.end - a.begin);
  };
  if (allHeld && parts > 1) {
    // Gathering the answers in the lines' order reads all over what is
    // held; the threads each gather a share of the lines, a piece at a
    // time, and the pieces are written in order.
    for (std::size_t from = first; from < end && !out.failed();) {
      const std::size_t to = std::min(end, from + parts * kLinesPerWrite);
      OnThreads(parts, [&](std::size_t part) {
        TextBuffer& text = gathered_[part].text;
        text.clear();
        for (std::size_t i = from + (to - from) * part / parts; i < from + (to - from) * (part + 1) / parts; ++i) {
          text.Append(heldText(i));
        }
      });
      for (std::size_t part = 0; part < parts; ++part) out.Write(gathered_[part].text.view());
      from = to;
    }
    return;
  }
  for (std::size_t i = first; i < end; ++i) {
    const std::uint32_t k = answerOf_[i - first];
    if (k == kNoAddress) {
      notAnAddress_(lines[i], &out.buffer());
    } else if (answers_[k].part == kNotHeld) {
      answerers_[0](vas_[k], &out.buffer());
    } else {
      out.buffer().Append(heldText(i));
    }
    out.EndRecord();
  }
}

}  // namespace sorvanta
