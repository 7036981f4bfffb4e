#pragma once

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
// the output failed.
bool AnswerLines(Output& out, const std::function<void(std::string_view line, TextBuffer* text)>& answer);

}  // namespace sorvanta
