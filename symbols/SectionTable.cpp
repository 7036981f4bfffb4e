#include "SectionTable.h"

#include <utility>

#include "Bytes.h"

namespace sorvanta {

namespace {

// A COFF section header: its name, then the fields read here.
constexpr std::size_t kHeaderBytes = 40;
constexpr std::size_t kVirtualSizeAt = 8;
constexpr std::size_t kVirtualAddressAt = 12;

}  // namespace

HRESULT SectionTable::Parse(const std::vector<std::uint8_t>& headers, SectionTable* out) {
  if (headers.size() % kHeaderBytes != 0) return E_PDB_CORRUPT;
  SectionTable table;
  table.sections_.reserve(headers.size() / kHeaderBytes);
  for (std::size_t at = 0; at < headers.size(); at += kHeaderBytes) {
    table.sections_.push_back({Read32(headers.data() + at + kVirtualAddressAt),
                               Read32(headers.data() + at + kVirtualSizeAt)});
  }
  *out = std::move(table);
  return S_OK;
}

}  // namespace sorvanta
