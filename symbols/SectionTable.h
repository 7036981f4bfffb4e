#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "HResult.h"

namespace sorvanta {

// The image's sections, from the section headers that the PDB keeps in a
// stream of its own: where each lies in memory. Segment numbers in symbol
// records count sections from 1.
class SectionTable {
 public:
  struct Section {
    std::uint32_t rva = 0;   // relative virtual address
    std::uint32_t size = 0;  // size in memory
  };

  // E_PDB_CORRUPT when the bytes are not whole section headers.
  static HRESULT Parse(const std::vector<std::uint8_t>& headers, SectionTable* out);

  std::size_t size() const { return sections_.size(); }
  // The section a segment number names; none for 0 and numbers past the
  // last section.
  const Section* Find(std::uint16_t segment) const {
    return segment == 0 || segment > sections_.size() ? nullptr : &sections_[segment - 1];
  }
  // segment:offset as an RVA; none when the segment names no section or
  // the sum passes 32 bits.
  std::optional<std::uint32_t> Rva(std::uint16_t segment, std::uint32_t offset) const {
    const Section* section = Find(segment);
    if (!section) return std::nullopt;
    const std::uint64_t rva = std::uint64_t{section->rva} + offset;
    if (rva > UINT32_MAX) return std::nullopt;
    return static_cast<std::uint32_t>(rva);
  }

 private:
  std::vector<Section> sections_;
};

}  // namespace sorvanta
