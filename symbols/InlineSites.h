#pragma once

#include <cstdint>
#include <vector>

#include "Bytes.h"

namespace sorvanta {

// One range of code that an inline site covers, with the source line (as
// an offset from the inlinee's first line) and file of that code.
struct InlineRange {
  std::uint32_t begin = 0;  // code offsets from the start of the procedure
  std::uint32_t end = 0;
  std::int32_t lineOffset = 0;
  std::uint32_t file = 0;  // a file-checksum entry; kInlineeFile for the inlinee's own
};
constexpr std::uint32_t kInlineeFile = UINT32_MAX;

// Decodes an inline site's binary annotations into the ranges of code it
// covers. A range ends where its length says, or else where the next one
// starts; a range without either ends at the procedure's end (codeEnd).
// Damaged annotations end the list where they stop making sense.
void DecodeInlineRanges(ByteView annotations, std::uint32_t codeEnd, std::vector<InlineRange>* ranges);

// An inline site that holds an address, with the line and file of the
// address in it.
struct InlineFrame {
  std::uint32_t inlinee = 0;  // an id (LF_FUNC_ID or LF_MFUNC_ID) of the IPI stream
  std::int32_t lineOffset = 0;
  std::uint32_t file = kInlineeFile;
  std::uint32_t firstCode = 0;  // where the site's code starts
};

// The chain of inline sites in the procedure at procOffset of a module's
// symbols that hold codeOffset (an offset from the procedure's start),
// innermost first. codeSize is the procedure's length. Sites nested in
// blocks count; a site that does not hold the address is skipped whole.
void InlineFramesAt(ByteView symbols, std::uint32_t procOffset, std::uint32_t codeSize,
                    std::uint32_t codeOffset, std::vector<InlineFrame>* frames);

}  // namespace sorvanta
