#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace llvm::pdb {
class PDBStringTable;
}

namespace sorvanta {

// The line information of one module, reduced to what a symbol needs: which
// source file holds the code at a segment:offset. Built from the module's
// C13 line subsections and file checksums; file names come from the PDB's
// string table.
class ModuleLineTable {
 public:
  // c13 holds the module's C13 debug subsections. strings may be null (no
  // string table), in which case no file can be named.
  static ModuleLineTable Build(const std::vector<std::uint8_t>& c13,
                               const llvm::pdb::PDBStringTable* strings);

  // The file of the line block that covers segment:offset, or nullptr.
  const std::wstring* FileAt(std::uint16_t segment, std::uint32_t offset) const;

  bool empty() const { return entries_.empty(); }

 private:
  struct Entry {
    std::uint16_t segment;
    std::uint32_t offset;  // first byte this entry speaks for
    std::uint32_t end;     // one past the last byte of its line contribution
    std::uint32_t file;    // index into files_
  };

  std::vector<Entry> entries_;  // sorted by (segment, offset)
  std::vector<std::wstring> files_;
};

}  // namespace sorvanta
