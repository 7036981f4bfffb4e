#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "FrameFinder.h"
#include "Symbolize.h"
#include "TextBuffer.h"

namespace sorvanta {

// The frames at one address, as llvm-symbolizer writes them (kLlvm: each
// frame's function, then FILE:LINE:COLUMN, an empty line after the
// address; kGnu: function, then FILE:LINE; ?? for what is not known), or
// as one JSON object of its schema (keys in its order) without a line end.
void AppendFrames(OutputStyle style, std::uint64_t address, std::string_view module,
                  const std::vector<Frame>& frames, TextBuffer* out);

// The answer to a line that is no address: the text and a line end in the
// text styles (as llvm-symbolizer echoes it), a JSON object with an Error.
void AppendNotAnAddress(OutputStyle style, std::string_view text, std::string_view module,
                        TextBuffer* out);

// Text as a JSON string, quoted and escaped as llvm's JSON writer does;
// bytes that start no valid UTF-8 sequence become U+FFFD.
void AppendJsonString(std::string_view text, TextBuffer* out);

}  // namespace sorvanta
