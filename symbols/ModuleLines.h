#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "Bytes.h"
#include "ModuleStream.h"
#include "SectionTable.h"

namespace sorvanta {

// The line and inline facts of one module, found in its symbols and C13
// subsections (which the image keeps for a load with lines) when the
// first address in the module asks for them. What is built is an index
// into those bytes, a few bytes per subsection, procedure and inlinee:
// bounded by the bytes read.
class ModuleLines {
 public:
  // A source position: the file as its checksum entry, the line, the
  // column (0 when the lines have none).
  struct Position {
    std::uint32_t file = 0;
    std::uint32_t line = 0;
    std::uint16_t column = 0;
  };

  ModuleLines(ByteView symbols, ByteView c13, const SectionTable& sections);

  ByteView symbols() const { return symbols_; }
  const FileChecksums& checksums() const { return checksums_; }

  // The offset of the module's k-th procedure record (in the order the
  // image numbers them).
  std::optional<std::uint32_t> ProcedureOffset(std::uint32_t k) const;

  // The line of the code at rva: the last line at or before it in the line
  // subsection whose range holds it; none when no subsection holds it or
  // no line of that subsection comes before it. k, the procedure that
  // holds rva, only makes the search quicker.
  std::optional<Position> LineAt(std::uint32_t rva, std::uint32_t k = kNoRange) const;
  // The first line of the subsection that starts at rva (a function's
  // first line).
  std::optional<Position> FirstLineAt(std::uint32_t rva) const;

  // Where an inlined function starts: its file and first line, from the
  // inlinee-lines subsections (the first entry for it).
  std::optional<Position> InlineeStart(std::uint32_t inlinee) const;

 private:
  static constexpr std::uint32_t kNoRange = UINT32_MAX;
  // How many subsections start at or before rva (k as for LineAt).
  std::size_t RangesUpTo(std::uint32_t rva, std::uint32_t k) const;

  struct Range {
    std::uint32_t begin;  // RVA
    std::uint32_t end;
    std::uint32_t at;     // the subsection's data, from the start of c13
    std::uint32_t size;
  };
  struct Inlinee {
    std::uint32_t id;
    std::uint32_t file;
    std::uint32_t line;
  };

  ByteView symbols_;
  ByteView c13_;
  FileChecksums checksums_;
  std::vector<std::uint32_t> procedures_;
  std::vector<std::uint32_t> procedureRanges_;  // per procedure: its subsection, or kNoRange
  std::vector<Range> ranges_;  // sorted by begin
  std::vector<std::uint32_t> reach_;  // reach_[i]: the greatest end of ranges_[0..i]
  std::vector<Inlinee> inlinees_;  // sorted by id, the first entry of each
};

}  // namespace sorvanta
