#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sorvanta {

// The public symbols of a PDB file that mark functions (S_PUB32 records
// with the function flag), read from the bytes of the publics stream and of
// the symbol-record stream it points into. Built once, immutable after.
//
// Order: by relative address, publics at the same address by their place
// in the record stream; publics whose segment names no section come last.
// Damaged parts of the streams are skipped: the table then holds the
// publics that could be read, never anything read out of bounds.
class PublicSymbolTable {
 public:
  struct Section {
    std::uint32_t rva;   // relative virtual address of the section
    std::uint32_t size;  // its size in memory
  };

  // sections[i] is section i + 1, as the section headers list them.
  void Build(const std::uint8_t* publicsStream, std::size_t publicsSize,
             const std::uint8_t* recordStream, std::size_t recordSize,
             std::vector<Section> sections);

  std::size_t size() const { return entries_.size(); }

  // The name as stored (decorated), and demangled with the Microsoft
  // demangler; a name that does not demangle is given as stored.
  std::string RawName(std::uint32_t index) const;
  std::string Name(std::uint32_t index) const;
  std::uint16_t segment(std::uint32_t index) const { return entries_[index].segment; }
  std::uint32_t offset(std::uint32_t index) const { return entries_[index].offset; }
  std::optional<std::uint32_t> Rva(std::uint32_t index) const;

  // The public with the greatest address at or below rva inside the same
  // section (the first of several at that address); none when rva lies
  // outside every section that holds a public below it.
  std::optional<std::uint32_t> FindAtOrBelow(std::uint32_t rva) const;

  // Publics whose demangled name equals name: folded case when
  // caseInsensitive, else exactly. In table order.
  std::vector<std::uint32_t> FindByName(const std::wstring& name, bool caseInsensitive) const;

  std::uint32_t maxRva() const { return byAddress_.empty() ? 0 : byAddress_.back().rva; }

 private:
  struct Entry {
    std::uint32_t nameOffset;  // into names_
    std::uint16_t nameLength;
    std::uint16_t segment;
    std::uint32_t offset;
  };
  struct Located {
    std::uint32_t rva;
    std::uint64_t end;  // end of its section, exclusive
  };

  std::vector<Entry> entries_;
  std::vector<Located> byAddress_;  // entries_[0 .. byAddress_.size()) have an address
  std::string names_;
  std::vector<Section> sections_;
};

}  // namespace sorvanta
