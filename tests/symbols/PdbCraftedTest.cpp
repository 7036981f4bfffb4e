// Hand-made PDBs, each holding just the records one rule is about.

#include <gtest/gtest.h>

#include "DiaSymbol.h"
#include "PdbImage.h"
#include "SymTag.h"
#include "SymbolFacts.h"
#include "TempDir.h"
#include "TestPdbWriter.h"
#include "Utf8.h"
#include "llvm/DebugInfo/CodeView/CodeView.h"

namespace sorvanta {
namespace {

namespace cv = llvm::codeview;
using testing::ReadAll;
using testing::ReadFacts;
using testing::SymbolFacts;
using testing::TempDir;
using testing::TestModule;
using testing::TestPdb;
using testing::Wide;

class CraftedTest : public ::testing::Test {
 protected:
  // Writes pdb and opens it.
  void Open(const TestPdb& pdb) {
    const std::string path = dir.File("crafted.pdb");
    ASSERT_TRUE(testing::WriteTestPdb(pdb, path));
    ASSERT_TRUE(dia.Open(Wide(path)));
  }
  // Opens the modules in a PDB with one code section at RVA 0x1000.
  void Open(std::vector<TestModule> modules) {
    TestPdb pdb;
    pdb.sectionAddresses = {0x1000};
    pdb.modules = std::move(modules);
    Open(pdb);
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const SymbolFacts& f : ReadAll(dia.FindFunctionsByName(L""))) names.push_back(f.name);
    return names;
  }

  TempDir dir;
  DiaSymbol dia;
};

TestModule Module(const std::string& name) {
  TestModule m;
  m.name = name;
  m.objectFile = name;
  return m;
}

TEST_F(CraftedTest, EveryProcedureKindIsAFunctionAndOtherRecordsAreNot) {
  TestModule m = Module("kinds.obj");
  const std::uint16_t kinds[] = {cv::S_GPROC32,    cv::S_LPROC32,       cv::S_GPROC32_ID,
                                 cv::S_LPROC32_ID, cv::S_LPROC32_DPC,   cv::S_LPROC32_DPC_ID,
                                 cv::S_GMANPROC,   cv::S_LMANPROC};
  std::uint32_t offset = 0;
  for (std::uint16_t kind : kinds) {
    m.symbols.BeginProc(kind, "k" + std::to_string(kind), 1, offset, 0x10);
    m.symbols.EndProc();
    offset += 0x10;
  }
  m.symbols.Add(cv::S_THUNK32, std::vector<std::uint8_t>(40, 0));
  m.symbols.Add(cv::S_PUB32, std::vector<std::uint8_t>(16, 0));
  Open({m});

  const std::vector<SymbolFacts> all = ReadAll(dia.FindFunctionsByName(L""));
  ASSERT_EQ(all.size(), std::size(kinds));
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].name, "k" + std::to_string(kinds[i]));
    EXPECT_EQ(all[i].tag, static_cast<std::uint32_t>(SymTagFunction));
    EXPECT_EQ(all[i].va, 0x1000u + 0x10 * i);
    EXPECT_EQ(all[i].length, 0x10u);
    EXPECT_EQ(all[i].object, "kinds.obj");
    EXPECT_EQ(all[i].source, "");  // the module has no line information
  }
  // A managed procedure is found by name and by address like any other.
  ASSERT_EQ(dia.FindFunctionsByName(L"K" + std::to_wstring(cv::S_LMANPROC)).size(), 1u);
  EXPECT_EQ(ReadFacts(*dia.FindFunctionByVA(0x1075)).name, "k" + std::to_string(cv::S_LMANPROC));
}

TEST_F(CraftedTest, NestedProceduresAndInlineSitesAreNotSeparateFunctions) {
  TestModule m = Module("nested.obj");
  m.symbols.BeginProc(cv::S_GPROC32, "outer", 1, 0, 0x100);
  m.symbols.Add(cv::S_INLINESITE, std::vector<std::uint8_t>(12, 0));
  m.symbols.Add(cv::S_INLINESITE_END, {});
  m.symbols.BeginProc(cv::S_LPROC32, "inner", 1, 0x20, 0x10);
  m.symbols.EndProc();
  m.symbols.EndProc();
  m.symbols.BeginProc(cv::S_GPROC32, "after", 1, 0x100, 0x10);
  m.symbols.EndProc();
  Open({m});
  EXPECT_EQ(Names(), (std::vector<std::string>{"outer", "after"}));
  EXPECT_EQ(ReadFacts(*dia.FindFunctionByVA(0x1025)).name, "outer");
}

TEST_F(CraftedTest, FunctionsWithoutASectionAreListedButHaveNoAddress) {
  TestPdb pdb;
  pdb.sectionAddresses = {0x1000, 0x5000};
  TestModule m = Module("discarded.obj");
  m.symbols.BeginProc(cv::S_GPROC32, "discarded", 0, 0, 0x40);  // segment 0
  m.symbols.EndProc();
  m.symbols.BeginProc(cv::S_GPROC32, "nowhere", 7, 0x10, 0x40);  // no section 7
  m.symbols.EndProc();
  m.symbols.BeginProc(cv::S_GPROC32, "kept", 2, 0x10, 0x40);
  m.symbols.EndProc();
  pdb.modules.push_back(m);
  Open(pdb);

  const std::vector<SymbolFacts> all = ReadAll(dia.FindFunctionsByName(L""));
  ASSERT_EQ(all.size(), 3u);
  EXPECT_FALSE(all[0].hasVA);
  EXPECT_EQ(all[0].va, 0u);  // the reader's preset stays
  EXPECT_FALSE(all[1].hasVA);
  EXPECT_TRUE(all[2].hasVA);
  EXPECT_EQ(all[2].va, 0x5010u);
  // Addresses that such a function would cover if its section were 0 or 1.
  EXPECT_EQ(dia.FindFunctionByVA(0x0), nullptr);
  EXPECT_EQ(dia.FindFunctionByVA(0x20), nullptr);
  EXPECT_EQ(ReadFacts(*dia.FindFunctionByVA(0x5010)).name, "kept");
}

TEST_F(CraftedTest, FoldedFunctionsSharingAnAddressResolveToTheFirstListed) {
  TestModule a = Module("a.obj");
  a.symbols.BeginProc(cv::S_GPROC32, "before", 1, 0x00, 0x20);
  a.symbols.EndProc();
  a.symbols.BeginProc(cv::S_GPROC32, "first", 1, 0x40, 0x20);
  a.symbols.EndProc();
  TestModule b = Module("b.obj");
  b.symbols.BeginProc(cv::S_GPROC32, "second", 1, 0x40, 0x20);
  b.symbols.EndProc();
  b.symbols.BeginProc(cv::S_GPROC32, "empty", 1, 0x80, 0);
  b.symbols.EndProc();
  Open({b, a});  // "second" is enumerated before "first"
  EXPECT_EQ(ReadFacts(*dia.FindFunctionByVA(0x1040)).name, "second");
  EXPECT_EQ(ReadFacts(*dia.FindFunctionByVA(0x105F)).name, "second");
  EXPECT_EQ(dia.FindFunctionByVA(0x1060), nullptr);  // one past the end
  EXPECT_EQ(dia.FindFunctionByVA(0x1080), nullptr);  // a zero-length function holds nothing
  EXPECT_EQ(ReadFacts(*dia.FindFunctionByVA(0x1000)).name, "before");
}

TEST_F(CraftedTest, AnAddressFindsTheFunctionThatHoldsItWithTheGreatestStart) {
  TestModule m = Module("nesting.obj");
  m.symbols.BeginProc(cv::S_GPROC32, "big", 1, 0x000, 0x100);
  m.symbols.EndProc();
  m.symbols.BeginProc(cv::S_GPROC32, "empty", 1, 0x050, 0);
  m.symbols.EndProc();
  m.symbols.BeginProc(cv::S_GPROC32, "small", 1, 0x080, 0x10);
  m.symbols.EndProc();
  // Two at one start: the first listed that holds the address wins.
  m.symbols.BeginProc(cv::S_GPROC32, "shortFirst", 1, 0x200, 0x10);
  m.symbols.EndProc();
  m.symbols.BeginProc(cv::S_GPROC32, "longSecond", 1, 0x200, 0x40);
  m.symbols.EndProc();
  m.symbols.BeginProc(cv::S_GPROC32, "alsoLong", 1, 0x200, 0x40);
  m.symbols.EndProc();
  Open({m});
  auto at = [&](std::uint64_t va) {
    const SymbolRef s = dia.FindFunctionByVA(va);
    return s ? ReadFacts(*s).name : std::string("(none)");
  };
  EXPECT_EQ(at(0x1000), "big");
  EXPECT_EQ(at(0x1050), "big");  // the zero-length function holds nothing
  EXPECT_EQ(at(0x1060), "big");
  EXPECT_EQ(at(0x1080), "small");
  EXPECT_EQ(at(0x108F), "small");
  EXPECT_EQ(at(0x1090), "big");
  EXPECT_EQ(at(0x10A0), "big");
  EXPECT_EQ(at(0x10FF), "big");
  EXPECT_EQ(at(0x1100), "(none)");
  EXPECT_EQ(at(0x1205), "shortFirst");
  EXPECT_EQ(at(0x1210), "longSecond");
  EXPECT_EQ(at(0x123F), "longSecond");
  EXPECT_EQ(at(0x1240), "(none)");
}

TEST_F(CraftedTest, AFunctionsSourceFileComesFromItsOwnLineSubsection) {
  TestModule m = Module("lines.obj");
  // An assembly routine whose first instruction is attributed both to its
  // own file and to an included one.
  m.symbols.BeginProc(cv::S_GPROC32, "asmRoutine", 1, 0x00, 0x20);
  m.symbols.EndProc();
  m.lines.push_back({1, 0x00, 0x20, {{"routine.asm", {0x0, 0x8}}, {"macros.inc", {0x0, 0x4}}}});
  // Two funclets folded to one address, each with its own subsection.
  m.symbols.BeginProc(cv::S_LPROC32, "funcletA", 1, 0x40, 0x10);
  m.symbols.EndProc();
  m.symbols.BeginProc(cv::S_LPROC32, "funcletB", 1, 0x40, 0x10);
  m.symbols.EndProc();
  m.lines.push_back({1, 0x40, 0x10, {{"a.cpp", {0x0}}}});
  m.lines.push_back({1, 0x40, 0x10, {{"b.cpp", {0x0}}}});
  // A subsection whose first line comes after its start: the start is
  // still its first block's.
  m.symbols.BeginProc(cv::S_GPROC32, "lateFirstLine", 1, 0x60, 0x10);
  m.symbols.EndProc();
  m.lines.push_back({1, 0x60, 0x10, {{"late.cpp", {0x4}}, {"other.h", {0x8}}}});
  // No subsection starts at this one: the last line at or before it
  // decides, within the subsection that covers it.
  m.symbols.BeginProc(cv::S_GPROC32, "inside", 1, 0x88, 0x4);
  m.symbols.EndProc();
  m.symbols.BeginProc(cv::S_GPROC32, "uncovered", 1, 0x100, 0x4);
  m.symbols.EndProc();
  m.lines.push_back({1, 0x80, 0x10, {{"outer.cpp", {0x0}}, {"inner.h", {0x6}}}});
  Open({m});

  std::vector<std::string> sources;
  for (const SymbolFacts& f : ReadAll(dia.FindFunctionsByName(L""))) sources.push_back(f.source);
  EXPECT_EQ(sources, (std::vector<std::string>{"routine.asm", "a.cpp", "b.cpp", "late.cpp",
                                               "inner.h", ""}));
}

TEST_F(CraftedTest, NamesWithInvalidUtf8KeepEverythingAroundTheBadBytes) {
  TestModule m = Module("\xE6\xA8\xA1\xE5\x9D\x97.obj");  // 模块.obj
  m.symbols.BeginProc(cv::S_GPROC32, std::string("bad\xFF" "name\xC3"), 1, 0, 0x10);
  m.symbols.EndProc();
  m.symbols.BeginProc(cv::S_GPROC32, "\xE5\x87\xBD\xE6\x95\xB0", 1, 0x10, 0x10);  // 函数
  m.symbols.EndProc();
  Open({m});

  const SymbolList all = dia.FindFunctionsByName(L"");
  ASSERT_EQ(all.size(), 2u);
  std::wstring name;
  all[0]->get_name(&name);
  EXPECT_EQ(name, std::wstring(L"bad") + wchar_t(0xFFFD) + L"name" + wchar_t(0xFFFD));
  all[1]->get_name(&name);
  EXPECT_EQ(name, L"\u51FD\u6570");
  std::wstring object;
  all[1]->get_objectFileName(&object);
  EXPECT_EQ(object, L"\u6A21\u5757.obj");
  EXPECT_EQ(dia.FindFunctionsByName(L"\u51FD\u6570").size(), 1u);
  EXPECT_EQ(dia.FindFunctionsByName(std::wstring(L"BAD") + wchar_t(0xFFFD) + L"NAME" + wchar_t(0xFFFD)).size(), 1u);
}

TEST_F(CraftedTest, DamagedScopeEndsNeverStopTheWalkOrLoseLaterFunctions) {
  TestModule m = Module("ends.obj");
  const std::uint32_t backwards = m.symbols.BeginProc(cv::S_GPROC32, "backwards", 1, 0, 0x10);
  m.symbols.EndProc();
  m.symbols.SetEnd(backwards, 0);  // points before the record
  const std::uint32_t past = m.symbols.BeginProc(cv::S_GPROC32, "pastTheEnd", 1, 0x10, 0x10);
  m.symbols.EndProc();
  m.symbols.SetEnd(past, 0xFFFFFFF0u);
  const std::uint32_t inside = m.symbols.BeginProc(cv::S_GPROC32, "intoItself", 1, 0x20, 0x10);
  m.symbols.EndProc();
  m.symbols.SetEnd(inside, inside + 6);  // inside its own record
  m.symbols.BeginProc(cv::S_GPROC32, "last", 1, 0x30, 0x10);
  m.symbols.EndProc();
  Open({m});
  EXPECT_EQ(Names(), (std::vector<std::string>{"backwards", "pastTheEnd", "intoItself", "last"}));
}

TEST_F(CraftedTest, ARecordRunningPastTheStreamEndsTheModuleButNotTheFile) {
  TestModule broken = Module("broken.obj");
  broken.symbols.BeginProc(cv::S_GPROC32, "good", 1, 0, 0x10);
  broken.symbols.EndProc();
  broken.symbols.AddRaw({0xF0, 0xFF, 0x10, 0x11, 0, 0, 0, 0});  // claims 65520 bytes
  TestModule fine = Module("fine.obj");
  fine.symbols.BeginProc(cv::S_GPROC32, "alsoGood", 1, 0x10, 0x10);
  fine.symbols.EndProc();
  Open({broken, fine});
  EXPECT_EQ(Names(), (std::vector<std::string>{"good", "alsoGood"}));
}

TEST_F(CraftedTest, APdbWithoutModuleInformationOpensWithNoFunctions) {
  TestPdb typesOnly;
  typesOnly.withDbi = false;
  Open(typesOnly);
  EXPECT_TRUE(dia.FindFunctionsByName(L"").empty());
  EXPECT_EQ(dia.FindFunctionByVA(0x1000), nullptr);
  EXPECT_TRUE(Succeeded(dia.session->put_loadAddress(0x400000)));

  TestPdb noModules;
  noModules.sectionAddresses = {0x1000};
  Open(noModules);
  EXPECT_TRUE(dia.FindFunctionsByName(L"").empty());
}

TEST_F(CraftedTest, TheLinkersOwnModuleNamesNoObjectFile) {
  TestModule m = Module("* Linker *");
  m.symbols.BeginProc(cv::S_GPROC32, "linkerMade", 1, 0, 0x10);
  m.symbols.EndProc();
  Open({m});
  const SymbolList all = dia.FindFunctionsByName(L"");
  ASSERT_EQ(all.size(), 1u);
  std::wstring object = L"preset";
  all[0]->get_objectFileName(&object);
  EXPECT_EQ(object, L"preset");
}

TEST_F(CraftedTest, LoadAddressesThatWouldOverflowAreRefused) {
  TestModule m = Module("high.obj");
  m.symbols.BeginProc(cv::S_GPROC32, "high", 1, 0x7000, 0x10);
  m.symbols.EndProc();
  Open({m});
  EXPECT_TRUE(Succeeded(dia.session->put_loadAddress(UINT64_MAX - 0x8000)));
  EXPECT_EQ(ReadFacts(*dia.FindFunctionsByName(L"high").at(0)).va, UINT64_MAX);
  EXPECT_EQ(ReadFacts(*dia.FindFunctionByVA(UINT64_MAX)).name, "high");
  EXPECT_TRUE(Failed(dia.session->put_loadAddress(UINT64_MAX - 0x7FFF)));
}

}  // namespace
}  // namespace sorvanta
