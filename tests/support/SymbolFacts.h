#pragma once

// Reads every property of symbols the way the result list does (preset
// values, result codes not trusted), so tests can compare whole symbols.

#include <cstdint>
#include <ostream>
#include <string>

#include "DiaSymbol.h"
#include "IDiaSymbol.h"
#include "Utf8.h"

namespace sorvanta::testing {

struct SymbolFacts {
  std::string name;  // UTF-8, for readable failure messages
  std::uint32_t tag = 0;
  std::uint64_t va = 0;
  bool hasVA = false;
  std::uint64_t length = 0;
  std::string source;
  std::string object;

  bool operator==(const SymbolFacts& o) const {
    return name == o.name && tag == o.tag && va == o.va && hasVA == o.hasVA &&
           length == o.length && source == o.source && object == o.object;
  }
};

inline std::ostream& operator<<(std::ostream& os, const SymbolFacts& f) {
  return os << "{" << f.name << " tag=" << f.tag << " va=0x" << std::hex << f.va << std::dec
            << (f.hasVA ? "" : "(none)") << " len=" << f.length << " src=" << f.source
            << " obj=" << f.object << "}";
}

inline SymbolFacts ReadFacts(IDiaSymbol& symbol) {
  SymbolFacts facts;
  std::wstring name, source, object;
  symbol.get_name(&name);
  symbol.get_symTag(&facts.tag);
  facts.hasVA = Succeeded(symbol.get_virtualAddress(&facts.va));
  symbol.get_length(&facts.length);
  symbol.get_sourceFileName(&source);
  symbol.get_objectFileName(&object);
  facts.name = WideToUtf8(name);
  facts.source = WideToUtf8(source);
  facts.object = WideToUtf8(object);
  return facts;
}

inline std::vector<SymbolFacts> ReadAll(const SymbolList& list) {
  std::vector<SymbolFacts> all;
  for (const SymbolRef& s : list) all.push_back(ReadFacts(*s));
  return all;
}

inline std::wstring Wide(const std::string& utf8) { return Utf8ToWide(utf8); }

}  // namespace sorvanta::testing
