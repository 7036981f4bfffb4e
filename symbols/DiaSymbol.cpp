#include "DiaSymbol.h"

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <utility>

#include "IDiaEnumSymbols.h"
#include "SymTag.h"

namespace sorvanta {

namespace {

std::unique_ptr<DiaSymbol> instance;
bool instanceDestroyed = false;

void DestroyInstance() {
  instance.reset();
  instanceDestroyed = true;
}

}  // namespace

DiaSymbol& DiaSymbol::Instance() {
  if (instance) return *instance;
  if (instanceDestroyed) {
    instanceDestroyed = false;
    throw std::logic_error("Dead Reference Detected");
  }
  instance = std::make_unique<DiaSymbol>();
  std::atexit(DestroyInstance);
  return *instance;
}

DiaSymbol::DiaSymbol(DataSourceFactory createDataSource)
    : createDataSource(std::move(createDataSource)) {}

DiaSymbol::~DiaSymbol() = default;

bool DiaSymbol::Open(const std::wstring& path) {
  // Drop the held session first, so that any failure below leaves none.
  DiaRef<IDiaSession> old = std::move(session);  // session is null from here
  old.reset();

  DiaRef<IDiaDataSource> source;
  if (!createDataSource || Failed(createDataSource(&source)) || !source) return false;
  if (Failed(source->loadDataFromPdb(path))) return false;
  const bool opened = Succeeded(source->openSession(&session));
  if (!opened) session.reset();
  return opened && session != nullptr;
}

SymbolList DiaSymbol::FindFunctionsByName(const std::wstring& name) {
  // The query string is a copy of the name up to its first NUL, made before
  // anything else; running out of memory here throws std::bad_alloc.
  const std::wstring query(name.c_str());

  SymbolList found;
  if (!session) return found;

  DiaRef<IDiaSymbol> scope;
  session->get_globalScope(&scope);
  if (!scope) return found;

  // Empty means no name filter only when nothing was typed: a name that
  // begins with U+0000 is searched as the empty string it copies to.
  DiaRef<IDiaEnumSymbols> children;
  scope->findChildren(SymTagFunction, name.empty() ? nullptr : &query,
                      nsfCaseInsensitive | nsfUndecoratedName, &children);
  if (!children) return found;

  // The count only sizes the list up front, so that a million references
  // are not copied through every doubling of the vector; the enumeration
  // itself decides what the list holds.
  std::int32_t expected = 0;
  if (Succeeded(children->get_Count(&expected)) && expected > 0) {
    found.reserve(static_cast<std::size_t>(expected));
  }

  DiaRef<IDiaSymbol> item;
  std::uint32_t fetched = 1;
  while (Succeeded(children->Next(1, &item, &fetched)) && fetched == 1) {
    // An enumerator that claims a symbol but hands out none is skipped
    // rather than putting a null reference into the list.
    if (item) found.push_back(std::move(item));
    item.reset();
  }
  return found;
}

SymbolRef DiaSymbol::FindFunctionByVA(std::uint64_t va) {
  SymbolRef symbol;
  if (!session) return symbol;
  session->findSymbolByVA(va, SymTagFunction, &symbol);
  return symbol;
}

}  // namespace sorvanta
