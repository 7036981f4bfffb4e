#include "DiaSymbol.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "FakeDia.h"
#include "SymTag.h"

namespace sorvanta {
namespace {

using testing::FakeDataSource;
using testing::FakeEnumSymbols;
using testing::FakeSession;
using testing::FakeSymbol;

// A data-source factory handing out the given source, or failing.
DiaSymbol::DataSourceFactory Giving(std::shared_ptr<FakeDataSource> source, int* calls = nullptr) {
  return [source, calls](DiaRef<IDiaDataSource>* out) -> HRESULT {
    if (calls) ++*calls;
    if (!source) return E_OUTOFMEMORY;
    *out = source;
    return S_OK;
  };
}

struct Fixture {
  std::shared_ptr<FakeSymbol> scope = std::make_shared<FakeSymbol>();
  std::shared_ptr<FakeSession> session = std::make_shared<FakeSession>();
  std::shared_ptr<FakeDataSource> source = std::make_shared<FakeDataSource>();
  std::vector<SymbolRef> functions;

  Fixture() {
    for (int i = 0; i < 5; ++i) {
      functions.push_back(FakeSymbol::Function(L"f" + std::to_wstring(i), 0x1000 + i * 0x10, 0x10));
    }
    scope->children = std::make_shared<FakeEnumSymbols>(functions);
    session->globalScope = scope;
    source->session = session;
  }
  FakeEnumSymbols& enumerator() { return static_cast<FakeEnumSymbols&>(*scope->children); }
};

TEST(DiaSymbolTest, QueriesWithoutAnOpenFileAreEmpty) {
  DiaSymbol dia(Giving(nullptr));
  EXPECT_EQ(dia.session, nullptr);
  EXPECT_TRUE(dia.FindFunctionsByName(L"").empty());
  EXPECT_TRUE(dia.FindFunctionsByName(L"main").empty());
  EXPECT_EQ(dia.FindFunctionByVA(0x401000), nullptr);
}

TEST(DiaSymbolTest, OpenFailsAtEachStepAndLeavesNoSession) {
  Fixture f;
  {
    DiaSymbol dia(Giving(nullptr));  // the component cannot be created
    EXPECT_FALSE(dia.Open(L"a.pdb"));
    EXPECT_EQ(dia.session, nullptr);
  }
  {
    f.source->loadResult = E_PDB_FORMAT;
    DiaSymbol dia(Giving(f.source));
    EXPECT_FALSE(dia.Open(L"a.pdb"));
    EXPECT_EQ(dia.session, nullptr);
  }
  {
    f.source->loadResult = S_OK;
    f.source->openResult = E_FAIL;
    DiaSymbol dia(Giving(f.source));
    EXPECT_FALSE(dia.Open(L"a.pdb"));
    EXPECT_EQ(dia.session, nullptr);
  }
}

TEST(DiaSymbolTest, OpenPassesThePathAsTypedAndHoldsTheSession) {
  Fixture f;
  DiaSymbol dia(Giving(f.source));
  EXPECT_TRUE(dia.Open(L"  /tmp/\"x y\".pdb "));
  EXPECT_EQ(f.source->loadedPath, L"  /tmp/\"x y\".pdb ");
  EXPECT_EQ(dia.session, f.session);
}

TEST(DiaSymbolTest, OpenDropsTheHeldSessionBeforeTryingTheNextFile) {
  Fixture f;
  std::weak_ptr<FakeSession> first = f.session;
  bool firstGoneWhenCreating = false;
  int calls = 0;
  auto second = std::make_shared<FakeDataSource>();
  second->loadResult = E_PDB_NOT_FOUND;
  DiaSymbol dia([&](DiaRef<IDiaDataSource>* out) -> HRESULT {
    if (calls++ == 0) {
      *out = f.source;
    } else {
      firstGoneWhenCreating = first.expired();
      *out = second;
    }
    return S_OK;
  });
  ASSERT_TRUE(dia.Open(L"one.pdb"));
  f.session.reset();
  f.source->session.reset();
  EXPECT_FALSE(dia.Open(L"two.pdb"));
  EXPECT_TRUE(firstGoneWhenCreating);
  // After the failed second open nothing is open any more.
  EXPECT_EQ(dia.session, nullptr);
  EXPECT_TRUE(dia.FindFunctionsByName(L"").empty());
  EXPECT_EQ(dia.FindFunctionByVA(0x1000), nullptr);
}

TEST(DiaSymbolTest, EmptyNameAsksForEveryFunctionWithoutAName) {
  Fixture f;
  DiaSymbol dia(Giving(f.source));
  ASSERT_TRUE(dia.Open(L"a.pdb"));
  const SymbolList all = dia.FindFunctionsByName(L"");
  EXPECT_FALSE(f.scope->lastChildName.has_value());
  EXPECT_EQ(f.scope->lastChildTag, 5u);  // functions
  EXPECT_EQ(f.scope->lastChildFlags, 18u);  // case-insensitive, undecorated
  ASSERT_EQ(all.size(), f.functions.size());
  for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], f.functions[i]);
}

TEST(DiaSymbolTest, NonEmptyNameIsPassedAsTypedUpToItsFirstNul) {
  Fixture f;
  DiaSymbol dia(Giving(f.source));
  ASSERT_TRUE(dia.Open(L"a.pdb"));
  dia.FindFunctionsByName(L"  Foo::Bar ");
  ASSERT_TRUE(f.scope->lastChildName.has_value());
  EXPECT_EQ(*f.scope->lastChildName, L"  Foo::Bar ");
  EXPECT_EQ(f.scope->lastChildTag, 5u);
  EXPECT_EQ(f.scope->lastChildFlags, static_cast<std::uint32_t>(nsfCaseInsensitive | nsfUndecoratedName));

  dia.FindFunctionsByName(std::wstring(L"Foo\0Bar", 7));
  EXPECT_EQ(f.scope->lastChildName, std::optional<std::wstring>(L"Foo"));
  // Typed text that begins with U+0000 is no empty name: it is searched as
  // the empty string it copies to.
  dia.FindFunctionsByName(std::wstring(L"\0Bar", 4));
  EXPECT_EQ(f.scope->lastChildName, std::optional<std::wstring>(L""));
}

TEST(DiaSymbolTest, ASymbolTheEnumeratorClaimsButDoesNotGiveIsSkipped) {
  Fixture f;
  f.enumerator().items.insert(f.enumerator().items.begin() + 2, nullptr);
  DiaSymbol dia(Giving(f.source));
  ASSERT_TRUE(dia.Open(L"a.pdb"));
  EXPECT_EQ(dia.FindFunctionsByName(L""), SymbolList(f.functions.begin(), f.functions.end()));
}

TEST(DiaSymbolTest, EnumerationStopsAtTheFirstFailingOrEmptyFetch) {
  {
    Fixture f;
    f.enumerator().failAfter = 3;
    DiaSymbol dia(Giving(f.source));
    ASSERT_TRUE(dia.Open(L"a.pdb"));
    const SymbolList got = dia.FindFunctionsByName(L"");
    ASSERT_EQ(got.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(got[i], f.functions[i]);
  }
  {
    Fixture f;
    f.enumerator().zeroFetchedAfter = 0;  // succeeds but fetches nothing
    DiaSymbol dia(Giving(f.source));
    ASSERT_TRUE(dia.Open(L"a.pdb"));
    EXPECT_TRUE(dia.FindFunctionsByName(L"").empty());
    EXPECT_EQ(f.enumerator().nextCalls, 1);
  }
}

TEST(DiaSymbolTest, TheReportedCountNeverDecidesWhatTheListHolds) {
  for (std::int32_t lie : {-1, 0, 2, 1000000}) {
    Fixture f;
    f.enumerator().reportedCount = lie;
    DiaSymbol dia(Giving(f.source));
    ASSERT_TRUE(dia.Open(L"a.pdb"));
    EXPECT_EQ(dia.FindFunctionsByName(L"").size(), f.functions.size()) << lie;
  }
}

TEST(DiaSymbolTest, MissingScopeOrEnumeratorGivesAnEmptyList) {
  Fixture f;
  DiaSymbol dia(Giving(f.source));
  ASSERT_TRUE(dia.Open(L"a.pdb"));
  f.scope->children.reset();
  EXPECT_TRUE(dia.FindFunctionsByName(L"f1").empty());
  f.session->globalScope.reset();
  EXPECT_TRUE(dia.FindFunctionsByName(L"").empty());
}

TEST(DiaSymbolTest, TheListHoldsItsOwnReferences) {
  Fixture f;
  DiaSymbol dia(Giving(f.source));
  ASSERT_TRUE(dia.Open(L"a.pdb"));
  std::weak_ptr<IDiaSymbol> watched = f.functions[2];
  SymbolList list = dia.FindFunctionsByName(L"");
  f.functions.clear();
  f.enumerator().items.clear();
  EXPECT_FALSE(watched.expired());
  list.clear();
  EXPECT_TRUE(watched.expired());
}

TEST(DiaSymbolTest, AddressLookupAsksForAFunctionAtThatAddress) {
  Fixture f;
  DiaSymbol dia(Giving(f.source));
  ASSERT_TRUE(dia.Open(L"a.pdb"));
  EXPECT_EQ(dia.FindFunctionByVA(0x401234), nullptr);
  EXPECT_EQ(f.session->lastVA, 0x401234u);
  EXPECT_EQ(f.session->lastTag, static_cast<std::uint32_t>(SymTagFunction));
  f.session->symbolAtVA = f.functions[1];
  EXPECT_EQ(dia.FindFunctionByVA(0x1010), f.functions[1]);
}

TEST(DiaSymbolTest, InstanceIsCreatedOnceWithNothingOpen) {
  DiaSymbol& a = DiaSymbol::Instance();
  DiaSymbol& b = DiaSymbol::Instance();
  EXPECT_EQ(&a, &b);
}

// Exit handlers run in reverse order of registration: one registered before
// the instance existed runs after the instance was destroyed, and asking
// for the instance there is a use after death.
void AskForInstanceAfterItsDeath() {
  try {
    DiaSymbol::Instance();
  } catch (const std::logic_error& e) {
    std::fputs(e.what(), stderr);
    std::_Exit(3);
  }
  std::_Exit(4);
}

TEST(DiaSymbolDeathTest, AskingForTheInstanceAfterExitDestroyedItThrows) {
  // A fresh process, so that no instance exists before the handler is set.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::atexit(AskForInstanceAfterItsDeath);
        DiaSymbol::Instance();
        std::exit(0);
      },
      ::testing::ExitedWithCode(3), "Dead Reference Detected");
}

}  // namespace
}  // namespace sorvanta
