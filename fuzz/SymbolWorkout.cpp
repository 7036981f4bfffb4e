#include "SymbolWorkout.h"

#include <algorithm>

#include "DiaSymbol.h"
#include "IDiaEnumSymbols.h"
#include "IDiaSymbol.h"
#include "PdbDataSource.h"
#include "SymTag.h"
#include "Utf8.h"

namespace sorvanta {

namespace {

constexpr std::size_t kSymbolsRead = 300;

void ReadEverything(IDiaSymbol& symbol) {
  std::wstring text;
  std::uint32_t tag = 0;
  std::uint64_t value = 0;
  symbol.get_name(&text);
  symbol.get_symTag(&tag);
  symbol.get_virtualAddress(&value);
  symbol.get_length(&value);
  symbol.get_sourceFileName(&text);
  symbol.get_objectFileName(&text);
}

// The file read again with its public symbols (what sorvanta-query
// --publics does): list them, search one by name, find the nearest ones.
void WorkOutPublics(const std::string& path, std::uint64_t seed) {
  PdbDataSource source(LoadOptions{true});
  DiaRef<IDiaSession> session;
  if (Failed(source.loadDataFromPdb(Utf8ToWide(path))) || Failed(source.openSession(&session))) return;
  DiaRef<IDiaSymbol> scope;
  session->get_globalScope(&scope);
  DiaRef<IDiaEnumSymbols> publics;
  if (scope) scope->findChildren(SymTagPublicSymbol, nullptr, nsNone, &publics);
  SymbolList listed;
  SymbolRef item;
  std::uint32_t fetched = 0;
  while (publics && listed.size() < kSymbolsRead && Succeeded(publics->Next(1, &item, &fetched)) &&
         fetched == 1) {
    ReadEverything(*item);
    listed.push_back(std::move(item));
  }
  if (!listed.empty()) {
    std::wstring name;
    listed[seed % listed.size()]->get_name(&name);
    DiaRef<IDiaEnumSymbols> found;
    scope->findChildren(SymTagPublicSymbol, &name, nsfCaseInsensitive, &found);
  }
  const std::uint64_t addresses[] = {0, 0x1000, seed, seed >> 16, ~std::uint64_t{0}};
  for (const std::uint64_t va : addresses) {
    SymbolRef nearest;
    session->findSymbolByVA(va, SymTagPublicSymbol, &nearest);
    if (nearest) ReadEverything(*nearest);
  }
  session->put_loadAddress(~0ull - (seed & 0xFFFF));
  for (const SymbolRef& s : listed) ReadEverything(*s);
}

}  // namespace

std::size_t WorkOutSymbolFile(const std::string& path, std::uint64_t seed) {
  DiaSymbol dia;
  if (!dia.Open(Utf8ToWide(path))) return 0;

  const SymbolList all = dia.FindFunctionsByName(L"");
  const std::size_t count = std::min(all.size(), kSymbolsRead);
  for (std::size_t i = 0; i < count; ++i) ReadEverything(*all[i]);

  // A name that exists (when any does), case changed, and one that does not.
  if (!all.empty()) {
    std::wstring name;
    all[seed % all.size()]->get_name(&name);
    for (wchar_t& c : name) c = static_cast<wchar_t>(FoldCase(static_cast<char32_t>(c)));
    dia.FindFunctionsByName(name);
  }
  dia.FindFunctionsByName(L"\u00DCBER::STRA\u1E9EE");

  // Addresses around the listed functions and a few from the seed.
  std::uint64_t addresses[] = {0, 0x1000, seed, seed >> 16, ~0ull, 0x401000};
  for (std::uint64_t va : addresses) {
    if (SymbolRef s = dia.FindFunctionByVA(va)) ReadEverything(*s);
  }
  for (std::size_t i = 0; i < count; i += 17) {
    std::uint64_t va = 0;
    if (Succeeded(all[i]->get_virtualAddress(&va))) {
      if (SymbolRef s = dia.FindFunctionByVA(va)) ReadEverything(*s);
    }
  }

  dia.session->put_loadAddress(seed | 0x400000);
  dia.session->put_loadAddress(~0ull - (seed & 0xFFFF));
  for (std::size_t i = 0; i < count; ++i) ReadEverything(*all[i]);

  // Dropping the session (a failed open does) must leave the symbols readable.
  dia.Open(L"");
  for (std::size_t i = 0; i < count; ++i) ReadEverything(*all[i]);

  WorkOutPublics(path, seed);
  return all.size();
}

}  // namespace sorvanta
