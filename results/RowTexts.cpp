#include "RowTexts.h"

#include <utility>

#include "SymTagName.h"
#include "WideFormat.h"

namespace sorvanta {

std::wstring FormatLength(std::uint64_t length) {
  return detail::FormatWide(L"%lld", static_cast<long long>(length));
}

RowTexts ReadRowTexts(IDiaSymbol* symbol) {
  std::wstring name;
  std::uint32_t tag = 0;
  std::uint64_t address = 0;
  std::uint64_t length = 0;
  std::wstring sourceFile;
  std::wstring objectFile;
  // Result codes are ignored on purpose: a getter that fails leaves its
  // preset, which is exactly what the row should show for it.
  if (symbol) {
    symbol->get_name(&name);
    symbol->get_symTag(&tag);
    symbol->get_virtualAddress(&address);
    symbol->get_length(&length);
    symbol->get_sourceFileName(&sourceFile);
    symbol->get_objectFileName(&objectFile);
  }
  return {std::move(name),         SymTagName(tag),       FormatAddress(address),
          FormatLength(length),    std::move(sourceFile), std::move(objectFile)};
}

}  // namespace sorvanta
