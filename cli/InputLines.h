#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "QueryOutput.h"

namespace sorvanta {

// Reads standard input line by line (a trailing carriage return is not
// part of a line) and calls answer(lines, out) for the lines of each read,
// which appends the answer of each of them, in order. Everything answered
// is written out before the program waits for more input unless standard
// input is a regular file, so a caller that writes one line and waits (a
// coprocess) gets its answer at once, while a large batch still goes out
// in large writes. False when standard input could not be read (the
// reason goes to standard error) or the output failed.
using BatchAnswer = std::function<void(const std::vector<std::string_view>& lines, Output& out)>;
bool AnswerLineBatches(Output& out, const BatchAnswer& answer);

}  // namespace sorvanta
