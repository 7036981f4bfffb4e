#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

#include "QueryOutput.h"

namespace sorvanta {

// Reads standard input line by line (a trailing carriage return is not
// part of a line) and calls answer(line, text) for each, which appends its
// answer to text. Everything answered is written out before the program
// waits for more input unless standard input is a regular file, so a
// caller that writes one line and waits (a coprocess) gets its answer at
// once, while a large batch still goes out in large writes. False when
// standard input could not be read (the reason goes to standard error) or
// the output failed. When prepare is given, it is called for each line in
// order, up to lookahead lines before answer is called for it (never
// across a wait for input), so an answerer can read ahead.
using LineAnswer = std::function<void(std::string_view line, TextBuffer* text)>;
using LinePrepare = std::function<void(std::string_view line)>;
bool AnswerLines(Output& out, const LineAnswer& answer, const LinePrepare& prepare = {}, std::size_t lookahead = 0);

}  // namespace sorvanta
