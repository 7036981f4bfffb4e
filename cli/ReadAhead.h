#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace sorvanta {

// Addresses read from input lines some lines before they are answered, so
// that each passes through the steps of a read-ahead on the way: step s
// is taken s * kStepDistance lines after the line was prepared. Answers
// that each wait for several cache misses then wait for them together,
// many lines at a time, rather than one after another. Lines must be
// prepared and answered in the same order, at most kLookahead apart.
class ReadAhead {
 public:
  static constexpr std::size_t kLookahead = 28;
  using Step = std::function<void(std::uint64_t va, int step)>;

  ReadAhead(int steps, Step step) : steps_(steps), step_(std::move(step)) {}

  void Prepare(std::string_view text);
  // The address of the oldest line prepared and not yet taken (text is
  // that line), or text read now when none is waiting; false when the
  // line is no address.
  bool Take(std::string_view text, std::uint64_t* va);

 private:
  struct Line {
    std::uint64_t va;
    bool parsed;
  };
  int steps_;
  Step step_;
  std::array<Line, kLookahead + 1> lines_{};
  std::size_t first_ = 0;
  std::size_t count_ = 0;
};

}  // namespace sorvanta
