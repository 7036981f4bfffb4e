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
// repeats in the batch is answered once.
//
// The answers wait in one buffer until the batch is written. Once it
// holds heldLimit bytes, the addresses left are answered as their lines
// come, so a batch whose answers are huge (long names, deep inline
// chains) never holds much more than that beside one answer.
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

  AddressBatch(Answer answer, NotAnAddress notAnAddress, std::size_t heldLimit = kHeldLimit)
      : answer_(std::move(answer)), notAnAddress_(std::move(notAnAddress)), heldLimit_(heldLimit) {}

  // Answers every line, in order, into out (calling out.EndRecord() after each).
  void AnswerAll(const std::vector<std::string_view>& lines, Output& out);

 private:
  struct Address {
    std::uint64_t va;
    std::uint32_t line;
  };
  struct Held {  // an answer in held_
    std::size_t begin;
    std::size_t end;
  };
  static constexpr std::uint32_t kNoAddress = UINT32_MAX;
  static constexpr std::size_t kNotHeld = SIZE_MAX;

  Answer answer_;
  NotAnAddress notAnAddress_;
  std::size_t heldLimit_;
  std::vector<Address> sorted_;
  std::vector<Address> scratch_;
  std::vector<std::uint32_t> answerOf_;  // per line: its address's place in answers_, or kNoAddress
  std::vector<std::uint64_t> vas_;       // per answer
  std::vector<Held> answers_;
  TextBuffer held_;
};

}  // namespace sorvanta
