#include "InlineSites.h"

#include <algorithm>

namespace sorvanta {

namespace {

constexpr std::uint16_t kInlineSite = 0x114D;
constexpr std::uint16_t kInlineSite2 = 0x115D;

// Binary annotation opcodes.
enum Op : std::uint32_t {
  kInvalid = 0,
  kCodeOffset = 1,
  kChangeCodeOffsetBase = 2,
  kChangeCodeOffset = 3,
  kChangeCodeLength = 4,
  kChangeFile = 5,
  kChangeLineOffset = 6,
  kChangeLineEndDelta = 7,
  kChangeRangeKind = 8,
  kChangeColumnStart = 9,
  kChangeColumnEndDelta = 10,
  kChangeCodeOffsetAndLineOffset = 11,
  kChangeCodeLengthAndCodeOffset = 12,
  kChangeColumnEnd = 13,
};

// One compressed unsigned number: one, two or four bytes as its first
// byte's high bits say. False at the end or on a byte no encoding starts
// with.
bool ReadCompressed(const std::uint8_t*& at, const std::uint8_t* end, std::uint32_t* value) {
  if (at == end) return false;
  const std::uint8_t b = *at++;
  if ((b & 0x80) == 0) {
    *value = b;
    return true;
  }
  if ((b & 0xC0) == 0x80) {
    if (at == end) return false;
    *value = (std::uint32_t{b & 0x3Fu} << 8) | *at++;
    return true;
  }
  if ((b & 0xE0) == 0xC0) {
    if (end - at < 3) return false;
    *value = (std::uint32_t{b & 0x1Fu} << 24) | (std::uint32_t{at[0]} << 16) | (std::uint32_t{at[1]} << 8) | at[2];
    at += 3;
    return true;
  }
  return false;
}

std::int32_t Signed(std::uint32_t encoded) {
  const auto magnitude = static_cast<std::int32_t>(encoded >> 1);
  return (encoded & 1) ? -magnitude : magnitude;
}

bool Holds(const std::vector<InlineRange>& ranges, std::uint32_t codeOffset, const InlineRange** in) {
  for (const InlineRange& r : ranges) {
    if (r.begin <= codeOffset && codeOffset < r.end) {
      *in = &r;
      return true;
    }
  }
  return false;
}

}  // namespace

void DecodeInlineRanges(ByteView annotations, std::uint32_t codeEnd, std::vector<InlineRange>* ranges) {
  ranges->clear();
  const std::uint8_t* at = annotations.data;
  const std::uint8_t* const end = annotations.data + annotations.size;
  std::uint32_t codeOffset = 0;
  std::int32_t lineOffset = 0;
  std::uint32_t file = kInlineeFile;
  bool open = false;  // the last range has no end yet
  auto closeAt = [&](std::uint32_t where) {
    if (open) ranges->back().end = std::max(ranges->back().begin, where);
    open = false;
  };
  auto start = [&] {
    closeAt(codeOffset);
    ranges->push_back({codeOffset, codeOffset, lineOffset, file});
    open = true;
  };
  std::uint32_t op = 0;
  while (ReadCompressed(at, end, &op) && op != kInvalid) {
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    if (!ReadCompressed(at, end, &a)) break;
    switch (op) {
      case kCodeOffset:
        codeOffset = a;
        start();
        break;
      case kChangeCodeOffsetBase:
      case kChangeCodeOffset:
        codeOffset += a;
        start();
        break;
      case kChangeCodeLength:
        // The length ends the last range and moves the code offset past
        // it, as compilers and debuggers read it.
        if (open) closeAt(ranges->back().begin + a);
        codeOffset += a;
        break;
      case kChangeFile:
        file = a;
        break;
      case kChangeLineOffset:
        lineOffset += Signed(a);
        break;
      case kChangeCodeOffsetAndLineOffset:
        lineOffset += Signed(a >> 4);
        codeOffset += a & 0xF;
        start();
        break;
      case kChangeCodeLengthAndCodeOffset:
        if (!ReadCompressed(at, end, &b)) return closeAt(codeEnd);
        codeOffset += b;
        start();
        closeAt(codeOffset + a);
        codeOffset += a;
        break;
      case kChangeLineEndDelta:
      case kChangeRangeKind:
      case kChangeColumnStart:
      case kChangeColumnEndDelta:
      case kChangeColumnEnd:
        break;
      default:
        return closeAt(codeEnd);  // an opcode no compiler writes: the rest cannot be read
    }
  }
  closeAt(codeEnd);
}

void InlineFramesAt(ByteView symbols, std::uint32_t procOffset, std::uint32_t codeSize,
                    std::uint32_t codeOffset, std::vector<InlineFrame>* frames) {
  frames->clear();
  if (procOffset > symbols.size || symbols.size - procOffset < 12) return;
  // The procedure's scope runs to its end record.
  std::size_t end = Read32(symbols.data + procOffset + 8);
  if (end <= procOffset || end > symbols.size) return;
  std::size_t at = procOffset + 2 + Read16(symbols.data + procOffset);
  // Kept from call to call: a symbolizer asks this for every address.
  thread_local std::vector<InlineRange> ranges;
  while (at + 4 <= end) {
    const std::uint16_t length = Read16(symbols.data + at);
    const std::uint16_t kind = Read16(symbols.data + at + 2);
    if (length < 2 || length > end - at - 2) return;
    const std::size_t next = at + 2 + length;
    const std::size_t fixed = kind == kInlineSite2 ? 16 : 12;  // parent, end, inlinee[, invocations]
    if ((kind == kInlineSite || kind == kInlineSite2) && length - 2u >= fixed) {
      const std::uint8_t* body = symbols.data + at + 4;
      const std::size_t siteEnd = Read32(body + 4);
      DecodeInlineRanges(ByteView{body + fixed, length - 2u - fixed}, codeSize, &ranges);
      const InlineRange* in = nullptr;
      if (Holds(ranges, codeOffset, &in)) {
        frames->insert(frames->begin(), {Read32(body + 8), in->lineOffset, in->file, ranges.front().begin});
        // Look further inside this site only.
        if (siteEnd > at && siteEnd <= end) end = siteEnd;
        at = next;
        continue;
      }
      // Not here: skip the site with everything nested in it.
      if (siteEnd > at && siteEnd < end) {
        at = siteEnd;
        continue;
      }
    }
    at = next;
  }
}

}  // namespace sorvanta
