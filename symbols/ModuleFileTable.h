#pragma once

#include <cstdint>
#include <vector>

#include "Bytes.h"
#include "StringTable.h"

namespace sorvanta {

// Where a function's code starts, as its procedure record gives it.
struct CodeStart {
  std::uint16_t segment = 0;
  std::uint32_t offset = 0;
};

// The source files of one module: the string-table offsets (and lengths)
// of the files its functions come from, each found once, and which of them
// each function comes from.
//
// Each line subsection describes one contribution (a function, or a
// funclet of one) as blocks of lines, one block per file. A function's file
// comes from the subsection that starts at its first byte: the first block
// with a line there, or the subsection's first block when none has one.
// Functions folded to one address within a module each have their own
// subsection, written in the same order as their records, so the k-th
// function that starts there takes the k-th subsection that does (the last
// one when there are fewer). Only a function that no subsection starts at
// is given the file of the last line at or before its start, within the
// range of that line's subsection.
class ModuleFileTable {
 public:
  static constexpr std::uint32_t kNoFile = UINT32_MAX;

  // The table of a module whose C13 subsections are c13, for its functions
  // (in stream order); functionFiles receives, per function, an index into
  // the table or kNoFile. A file whose name cannot be read from strings is
  // no file. Costs time in proportion to the subsections and functions, and
  // memory to the files named.
  static ModuleFileTable Build(ByteView c13, const StringTable& strings,
                               const std::vector<CodeStart>& functions,
                               std::vector<std::uint32_t>* functionFiles);

  // A file's name: where it is in the string table, and its length.
  struct Name {
    std::uint32_t offset;
    std::uint32_t length;
  };

  std::size_t size() const { return names_.size(); }
  const Name& name(std::uint32_t index) const { return names_[index]; }

 private:
  std::vector<Name> names_;
};

}  // namespace sorvanta
