// Checks every function of the fixture PDBs against llvm-pdbutil, an
// independent reader: same functions in the same order, with the same name,
// address, length, source file and object file; every one found again by a
// case-changed name and by its first and last byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "DiaSymbol.h"
#include "SymTag.h"
#include "SymbolFacts.h"
#include "TestProcess.h"

namespace sorvanta {
namespace {

using testing::ReadAll;
using testing::ReadFacts;
using testing::SymbolFacts;
using testing::Wide;

const std::string kFixtures = SORVANTA_FIXTURES_DIR;

// One C13 line subsection of a module, as llvm-pdbutil writes it out.
struct LineSubsection {
  unsigned segment = 0;
  std::uint32_t offset = 0, size = 0;
  struct Block {
    std::string file;
    std::vector<std::uint32_t> offsets;  // from the subsection's start
  };
  std::vector<Block> blocks;
};

std::string Unquote(std::string s) {
  if (s.size() < 2 || s.front() != '\'' || s.back() != '\'') return s;
  s = s.substr(1, s.size() - 2);
  for (std::size_t at = s.find("''"); at != std::string::npos; at = s.find("''", at + 1)) s.erase(at, 1);
  return s;
}

// Every module's line subsections, in stream order, from llvm-pdbutil's
// YAML dump of the lines, which keeps the subsections apart.
std::map<int, std::vector<LineSubsection>> LineSubsections(const std::string& pdb) {
  const std::string dump = testing::Shell("llvm-pdbutil pdb2yaml -modules -subsections=lines '" + pdb + "' 2>&1");
  std::istringstream in(dump);
  const std::regex moduleLine(R"(^\s*- Module:\s+(.*)$)");
  const std::regex linesLine(R"(^\s*- !Lines\s*$)");
  const std::regex field(R"(^\s*(CodeSize|RelocOffset|RelocSegment):\s+(\d+)\s*$)");
  const std::regex fileLine(R"(^\s*- FileName:\s+(.*?)\s*$)");
  const std::regex offsetLine(R"(^\s*- Offset:\s+(\d+)\s*$)");
  std::map<int, std::vector<LineSubsection>> all;
  int module = -1;
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, moduleLine)) {
      ++module;
    } else if (std::regex_match(line, m, linesLine)) {
      all[module].emplace_back();
    } else if (std::regex_match(line, m, field) && !all[module].empty()) {
      const auto value = static_cast<std::uint32_t>(std::stoul(m[2]));
      if (m[1] == "CodeSize") all[module].back().size = value;
      if (m[1] == "RelocOffset") all[module].back().offset = value;
      if (m[1] == "RelocSegment") all[module].back().segment = value;
    } else if (std::regex_match(line, m, fileLine) && !all[module].empty()) {
      all[module].back().blocks.push_back({Unquote(m[1]), {}});
    } else if (std::regex_match(line, m, offsetLine) && !all[module].empty() &&
               !all[module].back().blocks.empty()) {
      all[module].back().blocks.back().offsets.push_back(static_cast<std::uint32_t>(std::stoul(m[1])));
    }
  }
  return all;
}

// The source file of the k-th function of a module that starts at
// segment:offset: from the k-th subsection starting there (the last one if
// there are fewer), its first block with a line at its start, else its
// first block. With no subsection starting there, the last line at or
// before the start inside a subsection that covers it.
std::string SourceFile(const std::vector<LineSubsection>& subsections, unsigned segment,
                       std::uint32_t offset, std::size_t k) {
  std::vector<const LineSubsection*> starting;
  for (const LineSubsection& s : subsections) {
    if (s.segment == segment && s.offset == offset) starting.push_back(&s);
  }
  if (!starting.empty()) {
    const LineSubsection& own = *starting[std::min(k, starting.size() - 1)];
    for (const auto& block : own.blocks) {
      for (std::uint32_t o : block.offsets) {
        if (o == 0) return block.file;
      }
    }
    return own.blocks.empty() ? "" : own.blocks.front().file;
  }
  std::string file;
  std::uint64_t bestAt = 0;
  bool found = false;
  for (const LineSubsection& s : subsections) {
    if (s.segment != segment || offset < s.offset || offset - s.offset >= s.size) continue;
    // A subsection's start belongs to its first block, unless a line says
    // otherwise.
    if (!s.blocks.empty() && (!found || s.offset >= bestAt)) {
      file = s.blocks.front().file;
      bestAt = s.offset;
      found = true;
    }
    for (const auto& block : s.blocks) {
      for (std::uint32_t o : block.offsets) {
        const std::uint64_t at = std::uint64_t{s.offset} + o;
        if (at <= offset && (!found || at >= bestAt)) {
          file = block.file;
          bestAt = at;
          found = true;
        }
      }
    }
  }
  return file;
}

// What llvm-pdbutil says about the functions of a PDB.
std::vector<SymbolFacts> ExpectedFunctions(const std::string& pdb) {
  const std::string dump =
      testing::Shell("llvm-pdbutil dump -section-headers -modules -symbols '" + pdb + "' 2>&1");
  std::istringstream in(dump);
  std::string line, part;
  std::vector<std::uint32_t> sections;
  std::vector<std::string> modules;
  struct Proc {
    int module;
    std::string name;
    unsigned segment;
    std::uint32_t offset, size;
  };
  std::vector<Proc> procs;

  const std::regex heading(R"(^\s*(Section Headers|Modules|Symbols)\s*$)");
  const std::regex vaLine(R"(^\s*([0-9A-F]+) virtual address)");
  const std::regex modLine(R"(^\s*Mod (\d+) \| `(.*)`:\s*$)");
  const std::regex procLine(R"(^\s*(\d+) \| S_(G|L)PROC32(_ID|_DPC|_DPC_ID)? \[size = \d+\] `(.*)`\s*$)");
  const std::regex procAddr(R"(end = (\d+), addr = (\d+):(\d+), code size = (\d+))");
  const std::regex anyRecord(R"(^\s*(\d+) \| S_)");

  int module = -1;
  std::uint32_t scopeEnd = 0;  // procedures before this offset are nested
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, heading)) {
      part = m[1];
      module = -1;
      continue;
    }
    if (std::regex_match(line, m, modLine)) {
      module = std::stoi(m[1]);
      if (part == "Modules") modules.push_back(m[2]);
      scopeEnd = 0;
      continue;
    }
    if (part == "Section Headers" && std::regex_search(line, m, vaLine)) {
      sections.push_back(static_cast<std::uint32_t>(std::stoul(m[1], nullptr, 16)));
    } else if (part == "Symbols") {
      if (std::regex_match(line, m, procLine)) {
        const std::uint32_t at = static_cast<std::uint32_t>(std::stoul(m[1]));
        const std::string name = m[4];
        std::string detail;
        std::getline(in, detail);
        std::smatch a;
        if (!std::regex_search(detail, a, procAddr)) continue;
        if (at < scopeEnd) continue;  // nested inside another procedure
        scopeEnd = static_cast<std::uint32_t>(std::stoul(a[1]));
        procs.push_back({module, name, static_cast<unsigned>(std::stoul(a[2])),
                         static_cast<std::uint32_t>(std::stoul(a[3])),
                         static_cast<std::uint32_t>(std::stoul(a[4]))});
      }
    }
  }

  std::map<int, std::vector<LineSubsection>> lines = LineSubsections(pdb);
  std::vector<SymbolFacts> expected;
  for (const Proc& p : procs) {
    SymbolFacts f;
    f.name = p.name;
    f.tag = SymTagFunction;
    f.hasVA = p.segment >= 1 && p.segment <= sections.size();
    f.va = f.hasVA ? sections[p.segment - 1] + p.offset : 0;
    f.length = p.size;
    f.object = modules.at(static_cast<std::size_t>(p.module));
    // Folded functions of one module are told apart by their order.
    std::size_t k = 0;
    for (const Proc* q = procs.data(); q != &p; ++q) {
      k += q->module == p.module && q->segment == p.segment && q->offset == p.offset;
    }
    f.source = SourceFile(lines[p.module], p.segment, p.offset, k);
    expected.push_back(f);
  }
  return expected;
}

std::wstring SwapAsciiCase(const std::wstring& s) {
  std::wstring out = s;
  for (wchar_t& c : out) {
    if (c >= L'a' && c <= L'z') c = c - L'a' + L'A';
    else if (c >= L'A' && c <= L'Z') c = c - L'A' + L'a';
  }
  return out;
}

class FixtureTest : public ::testing::TestWithParam<const char*> {
 protected:
  std::string Path() const { return kFixtures + "/" + GetParam(); }
};

TEST_P(FixtureTest, ListsEveryFunctionAsLlvmPdbutilDoes) {
  const std::vector<SymbolFacts> expected = ExpectedFunctions(Path());
  ASSERT_GE(expected.size(), 17u) << "llvm-pdbutil listed too little; is it installed?";

  DiaSymbol dia;
  ASSERT_TRUE(dia.Open(Wide(Path())));
  const std::vector<SymbolFacts> actual = ReadAll(dia.FindFunctionsByName(L""));
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_EQ(actual[i], expected[i]) << "function " << i;
}

TEST_P(FixtureTest, FindsEveryFunctionByCaseChangedNameAndByItsFirstAndLastByte) {
  DiaSymbol dia;
  ASSERT_TRUE(dia.Open(Wide(Path())));
  const SymbolList all = dia.FindFunctionsByName(L"");
  for (const SymbolRef& symbol : all) {
    const SymbolFacts facts = ReadFacts(*symbol);
    const std::wstring name = Wide(facts.name);

    const SymbolList byName = dia.FindFunctionsByName(SwapAsciiCase(name));
    bool found = false;
    for (const SymbolRef& s : byName) found = found || s == symbol;
    EXPECT_TRUE(found) << facts;

    ASSERT_TRUE(facts.hasVA) << facts;
    ASSERT_GT(facts.length, 0u) << facts;
    EXPECT_EQ(dia.FindFunctionByVA(facts.va), symbol) << facts;
    EXPECT_EQ(dia.FindFunctionByVA(facts.va + facts.length - 1), symbol) << facts;
  }
}

INSTANTIATE_TEST_SUITE_P(BothMachines, FixtureTest,
                         ::testing::Values("sample-x86.pdb", "sample-x64.pdb"));
INSTANTIATE_TEST_SUITE_P(LargerPages, FixtureTest,
                         ::testing::Values("sample-x64-page8k.pdb", "sample-x64-page16k.pdb",
                                           "sample-x64-page32k.pdb"));

std::vector<SymbolFacts> ListAll(const std::string& path) {
  DiaSymbol dia;
  EXPECT_TRUE(dia.Open(Wide(path))) << path;
  return ReadAll(dia.FindFunctionsByName(L""));
}

// The same objects linked with larger PDB pages list the same functions.
TEST(PageSizeTest, LargerPagesListExactlyTheFunctionsOfFourKiBPages) {
  const std::vector<SymbolFacts> expected = ListAll(kFixtures + "/sample-x64.pdb");
  ASSERT_EQ(expected.size(), 17u);
  for (const char* name : {"sample-x64-page8k.pdb", "sample-x64-page16k.pdb", "sample-x64-page32k.pdb"}) {
    EXPECT_EQ(ListAll(kFixtures + "/" + name), expected) << name;
  }
}

// Facts about the fixture sources that do not depend on another reader.
TEST(FixtureFactsTest, KnownFunctionsHaveTheirKnownProperties) {
  DiaSymbol dia;
  ASSERT_TRUE(dia.Open(Wide(kFixtures + "/sample-x64.pdb")));

  const SymbolList area = dia.FindFunctionsByName(L"geo::shape::AREA");
  ASSERT_EQ(area.size(), 1u);
  const SymbolFacts a = ReadFacts(*area[0]);
  EXPECT_EQ(a.name, "geo::Shape::Area");
  EXPECT_EQ(a.source, "C:\\src\\shapes.h");  // defined in the header
  EXPECT_EQ(a.object, "C:\\src\\main.obj");

  const SymbolList fromLibrary = dia.FindFunctionsByName(L"LibraryHelper");
  ASSERT_EQ(fromLibrary.size(), 1u);
  EXPECT_EQ(ReadFacts(*fromLibrary[0]).object, "libpart.obj");  // the member, not the .lib

  EXPECT_EQ(dia.FindFunctionsByName(L"overloaded").size(), 3u);
  EXPECT_EQ(dia.FindFunctionsByName(L"util::casename").size(), 2u);
  // Several matches come in the order of the whole list.
  const SymbolList all = dia.FindFunctionsByName(L"");
  auto lower = [](std::wstring s) {
    for (wchar_t& c : s) c = (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c;
    return s;
  };
  for (const std::wstring name : {L"overloaded", L"util::casename"}) {
    SymbolList inOrder;
    for (const SymbolRef& s : all) {
      std::wstring n;
      s->get_name(&n);
      if (lower(n) == name) inOrder.push_back(s);
    }
    EXPECT_EQ(dia.FindFunctionsByName(name), inOrder);
  }
  EXPECT_EQ(dia.FindFunctionsByName(L"Twice").size(), 1u);  // file-static
  EXPECT_EQ(dia.FindFunctionsByName(L"c_entry_helper").size(), 1u);  // extern "C"
  EXPECT_TRUE(dia.FindFunctionsByName(L"util").empty());  // whole names only
  EXPECT_TRUE(dia.FindFunctionsByName(L" Twice").empty());  // not trimmed

  const SymbolList strasse = dia.FindFunctionsByName(L"\u00FCBER::STRA\u1E9EE");
  ASSERT_EQ(strasse.size(), 1u);
  EXPECT_EQ(ReadFacts(*strasse[0]).name, "\xC3\x9C" "ber::stra\xC3\x9F" "e");
  EXPECT_TRUE(dia.FindFunctionsByName(L"\u00DCber::strasse").empty());
}

TEST(FixtureFactsTest, LoadAddressShiftsEveryAddressAndTheLookups) {
  DiaSymbol dia;
  ASSERT_TRUE(dia.Open(Wide(kFixtures + "/sample-x86.pdb")));
  const SymbolRef entry = dia.FindFunctionsByName(L"entry").at(0);
  const SymbolFacts before = ReadFacts(*entry);
  EXPECT_EQ(before.va, 0x1000u);

  ASSERT_TRUE(Succeeded(dia.session->put_loadAddress(0x400000)));
  EXPECT_EQ(ReadFacts(*entry).va, 0x401000u);
  EXPECT_EQ(dia.FindFunctionByVA(0x401000), entry);
  EXPECT_EQ(dia.FindFunctionByVA(0x1000), nullptr);
  EXPECT_EQ(dia.FindFunctionByVA(0x400FFF), nullptr);

  // A load address that would push a function past 64 bits is refused and
  // changes nothing.
  EXPECT_TRUE(Failed(dia.session->put_loadAddress(UINT64_MAX - 0x10)));
  EXPECT_EQ(ReadFacts(*entry).va, 0x401000u);
}

TEST(FixtureFactsTest, SymbolsStayReadableAfterTheirFileWasClosedAndAnotherOpened) {
  DiaSymbol dia;
  ASSERT_TRUE(dia.Open(Wide(kFixtures + "/sample-x64.pdb")));
  const SymbolList first = dia.FindFunctionsByName(L"");
  const std::vector<SymbolFacts> before = ReadAll(first);

  ASSERT_TRUE(dia.Open(Wide(kFixtures + "/sample-x86.pdb")));
  EXPECT_EQ(ReadAll(first), before);
  EXPECT_FALSE(dia.Open(Wide(kFixtures + "/no-such.pdb")));
  EXPECT_EQ(ReadAll(first), before);
}

TEST(FixtureFactsTest, AddressesOutsideEveryFunctionFindNothing) {
  DiaSymbol dia;
  ASSERT_TRUE(dia.Open(Wide(kFixtures + "/sample-x64.pdb")));
  EXPECT_EQ(dia.FindFunctionByVA(0), nullptr);
  EXPECT_EQ(dia.FindFunctionByVA(0xFFF), nullptr);
  EXPECT_EQ(dia.FindFunctionByVA(0x2000), nullptr);  // data section
  EXPECT_EQ(dia.FindFunctionByVA(UINT64_MAX), nullptr);
  EXPECT_EQ(dia.FindFunctionByVA(0x100001000ull), nullptr);  // beyond 32-bit RVAs
}

}  // namespace
}  // namespace sorvanta
