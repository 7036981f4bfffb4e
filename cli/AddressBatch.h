#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "QueryOutput.h"
#include "TextBuffer.h"

namespace sorvanta {

// Answers the lines read together from the input in the order of their
// addresses, then writes the answers in the order of the lines. Random
// addresses, answered as they come, each wait for several cache misses
// deep in tables far larger than the cache; answered in address order,
// they walk those tables forwards, a page at a time, and an address that
// repeats in the batch is answered once. With several answerers, each
// answers one run of the sorted addresses on a thread of its own.
//
// The answers wait in memory until they are written, so the lines are
// taken as many at a time as the answers before them say will take about
// heldLimit bytes. Should the answers hold more, the addresses left are
// answered as their lines come, so answers that grow huge (long names,
// deep inline chains) never hold much more than that beside one answer
// per thread.
class AddressBatch {
 public:
  // Appends the answer to an address, or to a line that is no address.
  using Answer = std::function<void(std::uint64_t va, TextBuffer* out)>;
  using NotAnAddress = std::function<void(std::string_view text, TextBuffer* out)>;

  static constexpr std::size_t kHeldLimit = std::size_t{64} << 20;
  // Answers gain from a batch until it covers about every symbol, so a
  // small image's batches hold less: 64 bytes a symbol, within 4 and
  // kHeldLimit bytes.
  static std::size_t HeldLimitFor(std::size_t symbols) {
    return std::clamp(symbols * 64, std::size_t{4} << 20, kHeldLimit);
  }

  // answerers: one for each thread to answer on. The first runs on the
  // calling thread, and alone answers what the batch does not hold; the
  // others run at the same time as it, each on its own thread, after
  // beforeThreads has run once (to build what they share). notAnAddress
  // runs on the calling thread.
  AddressBatch(std::vector<Answer> answerers, NotAnAddress notAnAddress, std::size_t heldLimit = kHeldLimit,
               std::function<void()> beforeThreads = {});

  // Answers every line, in order, into out (calling out.EndRecord() after
  // each). An exception thrown by an answerer (such as std::bad_alloc) is
  // thrown again here once every thread has stopped.
  void AnswerAll(const std::vector<std::string_view>& lines, Output& out);

 private:
  struct Address {
    std::uint64_t va;
    std::uint32_t line;
  };
  struct Held {  // an answer in held_[part]
    std::size_t part;
    std::size_t begin;
    std::size_t end;
  };
  static constexpr std::uint32_t kNoAddress = UINT32_MAX;
  static constexpr std::size_t kNotHeld = SIZE_MAX;

  // The least bytes an answer is expected to take, and the first guess.
  static constexpr std::size_t kLeastPerAnswer = 16;
  static constexpr std::size_t kFirstPerAnswer = 128;

  // Answers lines [first, end).
  void AnswerLines(const std::vector<std::string_view>& lines, std::size_t first, std::size_t end, Output& out);
  // Answers vas_[begin, end) with answerers_[part] into held_[part].
  void AnswerRun(std::size_t part, std::size_t begin, std::size_t end, std::size_t limit);

  std::vector<Answer> answerers_;
  NotAnAddress notAnAddress_;
  std::size_t heldLimit_;
  std::function<void()> beforeThreads_;  // emptied once run
  std::vector<Address> sorted_;
  std::vector<Address> scratch_;
  std::size_t heldPerAnswer_ = kFirstPerAnswer;  // as the last lines' answers took, and a quarter more
  std::vector<std::uint32_t> answerOf_;  // per line: its address's place in answers_, or kNoAddress
  std::vector<std::uint64_t> vas_;       // per answer
  std::vector<Held> answers_;
  // Per answerer; a cache line each, as threads write them all the time.
  struct alignas(64) HeldText {
    TextBuffer text;
  };
  std::vector<HeldText> held_;
  std::vector<HeldText> gathered_;  // per answerer: answers put in the lines' order
};

}  // namespace sorvanta
