// Checks every function of the fixture PDBs against llvm-pdbutil, an
// independent reader: same functions in the same order, with the same name,
// address, length, source file and object file; every one found again by a
// case-changed name and by its first and last byte.

#include <gtest/gtest.h>

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

namespace sorvanta {
namespace {

using testing::ReadAll;
using testing::ReadFacts;
using testing::SymbolFacts;
using testing::Wide;

const std::string kFixtures = SORVANTA_FIXTURES_DIR;

std::string Run(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return out;
  char buffer[4096];
  while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe.get())) out.append(buffer, n);
  return out;
}

struct LineBlock {
  std::string file;
  unsigned segment;
  std::uint32_t start, end;
  std::vector<std::uint32_t> offsets;
};

// What llvm-pdbutil says about the functions of a PDB.
std::vector<SymbolFacts> ExpectedFunctions(const std::string& pdb) {
  const std::string dump =
      Run("llvm-pdbutil dump -section-headers -modules -symbols -l '" + pdb + "' 2>&1");
  std::istringstream in(dump);
  std::string line, part;
  std::vector<std::uint32_t> sections;
  std::vector<std::string> modules;
  std::map<int, std::vector<LineBlock>> lines;
  struct Proc {
    int module;
    std::string name;
    unsigned segment;
    std::uint32_t offset, size;
  };
  std::vector<Proc> procs;

  const std::regex heading(R"(^\s*(Section Headers|Modules|Lines|Symbols)\s*$)");
  const std::regex vaLine(R"(^\s*([0-9A-F]+) virtual address)");
  const std::regex modLine(R"(^\s*Mod (\d+) \| `(.*)`:\s*$)");
  const std::regex fileLine(R"(^(\S.*) \((MD5|SHA1|SHA256|None).*\)\s*$)");
  const std::regex blockLine(R"(^\s*([0-9A-F]{4}):([0-9A-F]{8})-([0-9A-F]{8}), line/addr entries)");
  const std::regex entry(R"((\d+) ([0-9A-F]{8}) !)");
  const std::regex procLine(R"(^\s*(\d+) \| S_(G|L)PROC32(_ID|_DPC|_DPC_ID)? \[size = \d+\] `(.*)`\s*$)");
  const std::regex procAddr(R"(end = (\d+), addr = (\d+):(\d+), code size = (\d+))");
  const std::regex anyRecord(R"(^\s*(\d+) \| S_)");

  int module = -1;
  std::string file;
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
      file.clear();
      scopeEnd = 0;
      continue;
    }
    if (part == "Section Headers" && std::regex_search(line, m, vaLine)) {
      sections.push_back(static_cast<std::uint32_t>(std::stoul(m[1], nullptr, 16)));
    } else if (part == "Lines") {
      if (std::regex_match(line, m, fileLine)) {
        file = m[1];
      } else if (std::regex_search(line, m, blockLine)) {
        lines[module].push_back({file, static_cast<unsigned>(std::stoul(m[1], nullptr, 16)),
                                 static_cast<std::uint32_t>(std::stoul(m[2], nullptr, 16)),
                                 static_cast<std::uint32_t>(std::stoul(m[3], nullptr, 16)),
                                 {}});
      } else if (!lines[module].empty()) {
        for (std::sregex_iterator it(line.begin(), line.end(), entry), end; it != end; ++it) {
          lines[module].back().offsets.push_back(static_cast<std::uint32_t>(std::stoul((*it)[2], nullptr, 16)));
        }
      }
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

  std::vector<SymbolFacts> expected;
  for (const Proc& p : procs) {
    SymbolFacts f;
    f.name = p.name;
    f.tag = SymTagFunction;
    f.hasVA = p.segment >= 1 && p.segment <= sections.size();
    f.va = f.hasVA ? sections[p.segment - 1] + p.offset : 0;
    f.length = p.size;
    f.object = modules.at(static_cast<std::size_t>(p.module));
    // The file whose line entry is the last one at or before the first byte.
    const LineBlock* firstCovering = nullptr;
    const LineBlock* best = nullptr;
    std::uint32_t bestOffset = 0;
    for (const LineBlock& b : lines[p.module]) {
      if (b.segment != p.segment || p.offset < b.start || p.offset >= b.end) continue;
      if (!firstCovering) firstCovering = &b;
      for (std::uint32_t o : b.offsets) {
        if (o <= p.offset && (!best || o > bestOffset)) {
          best = &b;
          bestOffset = o;
        }
      }
    }
    if (!best) best = firstCovering;
    if (best) f.source = best->file;
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
