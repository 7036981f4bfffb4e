#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace llvm::pdb {
class PDBStringTable;
}

namespace sorvanta {

// The line information of one module, reduced to what a symbol needs: the
// source file of a function. Built from the module's C13 line subsections
// and file checksums; file names come from the PDB's string table.
//
// Each line subsection describes one contribution (a function, or a funclet
// of one) as a list of file blocks. A function's file comes from the
// subsection that starts at its first byte: the first block with a line
// entry there, or the subsection's first block when none has one. Functions
// folded to one address within a module each have their own subsection,
// written in the same order as their records, so the k-th function that
// starts there takes the k-th subsection that does. Only a function that no
// subsection starts at is given the file of the last line entry at or
// before its start.
class ModuleLineTable {
 public:
  // A file index that names no file.
  static constexpr std::uint32_t kNoFile = UINT32_MAX;

  // c13 holds the module's C13 debug subsections. strings may be null (no
  // string table), in which case no file can be named.
  static ModuleLineTable Build(const std::vector<std::uint8_t>& c13,
                               const llvm::pdb::PDBStringTable* strings);

  // The file of the function that starts at segment:offset and is the
  // ordinal-th (from 0, in stream order) of the module's functions starting
  // there; nullptr when no file can be named. A function past the last
  // subsection that starts there takes the last one.
  const std::wstring* FunctionFile(std::uint16_t segment, std::uint32_t offset,
                                   std::size_t ordinal) const;

  // FunctionFile as an index for file(), or kNoFile.
  std::uint32_t FunctionFileIndex(std::uint16_t segment, std::uint32_t offset,
                                  std::size_t ordinal) const;
  std::size_t fileCount() const { return files_.size(); }
  const std::wstring& file(std::uint32_t index) const { return files_[index]; }

  // How many line subsections start at segment:offset.
  std::size_t SubsectionsAt(std::uint16_t segment, std::uint32_t offset) const;

  // The file of the last line entry at or before segment:offset within its
  // subsection's range (a later entry wins a tie), or nullptr.
  const std::wstring* FileAt(std::uint16_t segment, std::uint32_t offset) const;

  bool empty() const { return entries_.empty() && starts_.empty(); }

 private:
  struct Entry {
    std::uint16_t segment;
    std::uint32_t offset;  // first byte this entry speaks for
    std::uint32_t end;     // one past the last byte of its line contribution
    std::uint32_t file;    // index into files_
  };

  // One per line subsection: where it starts and the file of that start.
  struct Start {
    std::uint16_t segment;
    std::uint32_t offset;
    std::uint32_t file;  // index into files_
  };

  std::uint32_t FileIndexAt(std::uint16_t segment, std::uint32_t offset) const;
  std::pair<std::vector<Start>::const_iterator, std::vector<Start>::const_iterator> StartsAt(
      std::uint16_t segment, std::uint32_t offset) const;

  std::vector<Entry> entries_;  // sorted by (segment, offset)
  std::vector<Start> starts_;   // sorted by (segment, offset), stream order within
  std::vector<std::wstring> files_;
};

}  // namespace sorvanta
