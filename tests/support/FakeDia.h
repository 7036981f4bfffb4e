#pragma once

// Hand-made symbol-component objects for tests that must control exactly
// what the component answers: symbols that supply some properties or none,
// enumerators that fail part-way, sessions and sources that refuse.

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "IDiaDataSource.h"
#include "IDiaEnumSymbols.h"
#include "IDiaSession.h"
#include "IDiaSymbol.h"
#include "SymTag.h"

namespace sorvanta::testing {

// A symbol whose properties are whatever the test sets; an unset property
// fails its getter and leaves the caller's preset alone. Counts reads so
// tests can tell which symbols were touched.
class FakeSymbol : public IDiaSymbol {
 public:
  std::optional<std::wstring> name;
  std::optional<std::uint32_t> symTag;
  std::optional<std::uint64_t> virtualAddress;
  std::optional<std::uint64_t> length;
  std::optional<std::wstring> sourceFileName;
  std::optional<std::wstring> objectFileName;
  DiaRef<IDiaEnumSymbols> children;  // handed out by findChildren
  int reads = 0;
  bool outOfMemory = false;  // every property getter throws std::bad_alloc

  static std::shared_ptr<FakeSymbol> Function(std::wstring name, std::uint64_t va,
                                              std::uint64_t length) {
    auto s = std::make_shared<FakeSymbol>();
    s->name = std::move(name);
    s->symTag = SymTagFunction;
    s->virtualAddress = va;
    s->length = length;
    s->sourceFileName = L"src.cpp";
    s->objectFileName = L"obj.obj";
    return s;
  }

  HRESULT findChildren(std::uint32_t tag, const std::wstring* name, std::uint32_t flags,
                       DiaRef<IDiaEnumSymbols>* result) override {
    lastChildTag = tag;
    lastChildName = name ? std::optional<std::wstring>(*name) : std::nullopt;
    lastChildFlags = flags;
    ++findChildrenCalls;
    *result = children;
    return children ? S_OK : E_FAIL;
  }
  HRESULT get_name(std::wstring* out) override { return Give(name, out); }
  HRESULT get_symTag(std::uint32_t* out) override { return Give(symTag, out); }
  HRESULT get_virtualAddress(std::uint64_t* out) override { return Give(virtualAddress, out); }
  HRESULT get_length(std::uint64_t* out) override { return Give(length, out); }
  HRESULT get_sourceFileName(std::wstring* out) override { return Give(sourceFileName, out); }
  HRESULT get_objectFileName(std::wstring* out) override { return Give(objectFileName, out); }

  std::optional<std::wstring> lastChildName;
  std::uint32_t lastChildTag = 0;
  std::uint32_t lastChildFlags = 0;
  int findChildrenCalls = 0;

 private:
  template <class T>
  HRESULT Give(const std::optional<T>& value, T* out) {
    ++reads;
    if (outOfMemory) throw std::bad_alloc();
    if (!value) return E_FAIL;
    *out = *value;
    return S_OK;
  }
};

// Hands out the given symbols one at a time. After failAfter symbols
// (if set), Next fails; with zeroFetchedAfter, it succeeds but fetches 0.
class FakeEnumSymbols : public IDiaEnumSymbols {
 public:
  explicit FakeEnumSymbols(std::vector<SymbolRef> items) : items(std::move(items)) {}

  std::vector<SymbolRef> items;
  std::optional<std::size_t> failAfter;
  std::optional<std::size_t> zeroFetchedAfter;
  std::size_t position = 0;
  int nextCalls = 0;

  // What get_Count reports; the real count unless a test lies with it.
  std::optional<std::int32_t> reportedCount;

  HRESULT get_Count(std::int32_t* count) override {
    *count = reportedCount ? *reportedCount : static_cast<std::int32_t>(items.size());
    return S_OK;
  }

  HRESULT Next(std::uint32_t count, DiaRef<IDiaSymbol>* out, std::uint32_t* fetched) override {
    ++nextCalls;
    if (failAfter && position >= *failAfter) return E_FAIL;
    if (zeroFetchedAfter && position >= *zeroFetchedAfter) {
      *fetched = 0;
      return S_OK;
    }
    std::uint32_t n = 0;
    while (n < count && position < items.size()) out[n++] = items[position++];
    *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
};

class FakeSession : public IDiaSession {
 public:
  DiaRef<IDiaSymbol> globalScope;
  DiaRef<IDiaSymbol> symbolAtVA;
  HRESULT loadAddressResult = S_OK;
  std::optional<std::uint64_t> loadAddress;
  std::optional<std::uint64_t> lastVA;
  std::uint32_t lastTag = 0;

  HRESULT put_loadAddress(std::uint64_t value) override {
    loadAddress = value;
    return loadAddressResult;
  }
  HRESULT get_globalScope(DiaRef<IDiaSymbol>* scope) override {
    *scope = globalScope;
    return globalScope ? S_OK : E_FAIL;
  }
  HRESULT findSymbolByVA(std::uint64_t va, std::uint32_t tag, DiaRef<IDiaSymbol>* symbol) override {
    lastVA = va;
    lastTag = tag;
    *symbol = symbolAtVA;
    return symbolAtVA ? S_OK : S_FALSE;
  }
};

class FakeDataSource : public IDiaDataSource {
 public:
  DiaRef<IDiaSession> session;
  HRESULT loadResult = S_OK;
  HRESULT openResult = S_OK;
  std::wstring loadedPath;

  HRESULT loadDataFromPdb(const std::wstring& path) override {
    loadedPath = path;
    return loadResult;
  }
  HRESULT openSession(DiaRef<IDiaSession>* out) override {
    if (Failed(openResult)) return openResult;
    *out = session;
    return openResult;
  }
};

}  // namespace sorvanta::testing
