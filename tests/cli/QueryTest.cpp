// sorvanta-query run as a program on the fixture PDBs: its lines against the
// window's own rows, searches and lookups (the same symbol component calls
// through DiaSymbol), every match mode, addresses in every form, JSON, and
// each exit status with its message.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "AddressText.h"
#include "DiaSymbol.h"
#include "NameMatch.h"
#include "QueryOutput.h"
#include "QueryProcess.h"
#include "QueryProgram.h"
#include "RowTexts.h"
#include "SmallMsf.h"
#include "TempDir.h"
#include "TestProcess.h"
#include "TestPdbWriter.h"
#include "Utf8.h"
#include "llvm/DebugInfo/CodeView/CodeView.h"

namespace sorvanta {
namespace {

using testing::QueryProcess;
using testing::QueryRun;
using testing::TempDir;

const std::string kQuery = SORVANTA_QUERY_EXECUTABLE;
const std::string kFixtures = SORVANTA_FIXTURES_DIR;
const std::vector<std::string> kPdbs{kFixtures + "/sample-x64.pdb", kFixtures + "/sample-x86.pdb"};

QueryRun Query(const std::vector<std::string>& args, const std::string& input = "") {
  return testing::RunProgram(kQuery, args, input);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::string U8(const std::wstring& w) { return WideToUtf8(w); }

std::string Hex(std::uint64_t v) {
  std::ostringstream s;
  s << std::hex << v;
  return s.str();
}

// The line the window's row for symbol would make: its RowTexts, with no
// address for a function that has none.
std::string WindowLine(IDiaSymbol& symbol) {
  const RowTexts row = ReadRowTexts(&symbol);
  std::uint64_t va = 0;
  const bool hasAddress = Succeeded(symbol.get_virtualAddress(&va));
  return U8(row.name) + "\t" + U8(row.tag) + "\t" + (hasAddress ? U8(row.address) : "") + "\t" +
         U8(row.length) + "\t" + U8(row.sourceFile) + "\t" + U8(row.objectFile);
}

std::vector<std::string> WindowLines(const SymbolList& list) {
  std::vector<std::string> lines;
  for (const SymbolRef& s : list) lines.push_back(WindowLine(*s));
  return lines;
}

class QueryFixture : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window.Open(Utf8ToWide(GetParam())));
    all = window.FindFunctionsByName(L"");
    ASSERT_GT(all.size(), 5u);
  }
  DiaSymbol window;
  SymbolList all;
};

TEST_P(QueryFixture, ListEqualsTheWindowsRowsWithAndWithoutBase) {
  QueryRun run = Query({"list", GetParam()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out), WindowLines(all));

  ASSERT_TRUE(Succeeded(window.session->put_loadAddress(0x140000000)));
  run = Query({"list", GetParam(), "--base", "0x140000000"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out), WindowLines(all));
}

TEST_P(QueryFixture, ExactNameGivesTheWindowsSearchForEveryName) {
  std::set<std::wstring> names;
  for (const SymbolRef& s : all) {
    std::wstring name;
    s->get_name(&name);
    names.insert(name);
  }
  for (const std::wstring& name : names) {
    // Upper-cased: the search ignores case, also beyond ASCII.
    std::wstring typed;
    for (const wchar_t c : name) typed.push_back(static_cast<wchar_t>(std::towupper(c)));
    const QueryRun run = Query({"list", GetParam(), "--name", U8(typed)});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Lines(run.out), WindowLines(window.FindFunctionsByName(typed))) << U8(typed);
  }
}

// Names of the listed lines, in order.
std::vector<std::string> ListedNames(const std::vector<std::string>& args) {
  const QueryRun run = Query(args);
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<std::string> names;
  for (const std::string& line : Lines(run.out)) names.push_back(Fields(line)[0]);
  return names;
}

TEST(QueryList, EachMatchModeOverTheSameNames) {
  const std::string pdb = kPdbs[0];
  using V = std::vector<std::string>;
  EXPECT_EQ(ListedNames({"list", pdb, "--name", "UTIL::CASENAME"}), (V{"util::CaseName", "util::casename"}));
  EXPECT_EQ(ListedNames({"list", pdb, "--name", "CaseName"}), V{});  // exact means the whole name
  EXPECT_EQ(ListedNames({"list", pdb, "--name", "CASEname", "--match", "substring"}),
            (V{"util::CaseName", "util::casename"}));
  EXPECT_EQ(ListedNames({"list", pdb, "--name", "übER::", "--match", "substring"}), V{"Über::straße"});
  EXPECT_EQ(ListedNames({"list", pdb, "--name", "util::*NAME", "--match", "glob"}),
            (V{"util::CaseName", "util::casename"}));
  EXPECT_EQ(ListedNames({"list", pdb, "--name", "?ntry", "--match", "glob"}), V{"entry"});
  EXPECT_EQ(ListedNames({"list", pdb, "--name", "ntry", "--match", "glob"}), V{});  // whole name
  EXPECT_EQ(ListedNames({"list", pdb, "--name", "GRÖ?E", "--match", "glob"}), V{"Größe"});
  EXPECT_EQ(ListedNames({"list", pdb, "--name", "^geo::shape::(area|square)$", "--match", "regex"}),
            (V{"geo::Shape::Area", "geo::Shape::Square"}));
  EXPECT_EQ(ListedNames({"list", pdb, "--name", "ry$", "--match", "regex"}), V{"entry"});
  EXPECT_EQ(ListedNames({"list", pdb, "--name", "^ÜBER", "--match", "regex"}), V{"Über::straße"});

  // Every mode keeps the enumeration order; an empty substring is everything.
  const V everything = ListedNames({"list", pdb});
  EXPECT_EQ(ListedNames({"list", pdb, "--name", "", "--match", "substring"}), everything);
  EXPECT_EQ(ListedNames({"list", pdb, "--name", "*", "--match", "glob"}), everything);
  EXPECT_EQ(ListedNames({"list", pdb, "--name", ""}), everything);
}

TEST(QueryGlob, StarsAndQuestionMarks) {
  auto g = [](const char32_t* glob, const char32_t* text) { return GlobMatches(glob, text); };
  EXPECT_TRUE(g(U"", U""));
  EXPECT_FALSE(g(U"", U"a"));
  EXPECT_TRUE(g(U"*", U""));
  EXPECT_TRUE(g(U"a*b*c", U"aXbYbZc"));
  EXPECT_FALSE(g(U"a*b*c", U"aXbYbZ"));
  EXPECT_TRUE(g(U"*ab", U"aab"));  // the star must give back what it took
  EXPECT_TRUE(g(U"a?c", U"abc"));
  EXPECT_FALSE(g(U"a?c", U"ac"));
  EXPECT_TRUE(g(U"[x]", U"[x]"));  // brackets are literal
}

// Answers of `addr` for addresses, one line each.
std::vector<std::string> Answers(const std::vector<std::string>& args) {
  const QueryRun run = Query(args);
  EXPECT_EQ(run.status, 0) << run.err;
  return Lines(run.out);
}

// What addr must print for va: the window's lookup, as address, name,
// start, offset, source, object; ?? when the window finds nothing.
std::string ExpectedAnswer(DiaSymbol& window, std::uint64_t va) {
  const std::string shown = U8(FormatAddress(va));
  SymbolRef f = window.FindFunctionByVA(va);
  if (!f) return shown + "\t??";
  const RowTexts row = ReadRowTexts(f.get());
  std::uint64_t start = 0;
  f->get_virtualAddress(&start);
  return shown + "\t" + U8(row.name) + "\t" + U8(row.address) + "\t0x" + Hex(va - start) + "\t" +
         U8(row.sourceFile) + "\t" + U8(row.objectFile);
}

TEST_P(QueryFixture, AddrAtFirstAndLastByteAndPastTheEndWithAndWithoutBase) {
  for (const std::uint64_t base : {std::uint64_t{0}, std::uint64_t{0x7FF600000000}}) {
    if (base != 0) {
      ASSERT_TRUE(Succeeded(window.session->put_loadAddress(base)));
    }
    std::vector<std::string> args{"addr", GetParam(), "--base", Hex(base)};
    std::vector<std::string> expected;
    int checked = 0;
    for (const SymbolRef& f : all) {
      std::uint64_t va = 0, length = 0;
      if (Failed(f->get_virtualAddress(&va)) || Failed(f->get_length(&length)) || length == 0) continue;
      for (const std::uint64_t at : {va, va + length - 1, va + length}) {
        args.push_back("0x" + Hex(at));
        expected.push_back(ExpectedAnswer(window, at));
      }
      // The function itself holds its first and last byte.
      std::wstring name;
      f->get_name(&name);
      const std::vector<std::string> last = Fields(expected[expected.size() - 2]);
      ASSERT_EQ(last.size(), 6u);
      EXPECT_EQ(last[3], "0x" + Hex(length - 1));
      ++checked;
    }
    EXPECT_GT(checked, 5);
    EXPECT_EQ(Answers(args), expected);
  }
}

TEST(QueryAddr, AddressesAreReadStrictly) {
  const std::string pdb = kPdbs[0];
  DiaSymbol window;
  ASSERT_TRUE(window.Open(Utf8ToWide(pdb)));
  const std::vector<std::pair<std::string, std::uint64_t>> addresses{
      {"1005", 0x1005}, {"0x1005", 0x1005}, {"0X1005", 0x1005}, {"1005h", 0x1005}, {" 1005\t", 0x1005},
      {"0000000000000000001005", 0x1005}, {"ffffffffffffffff", UINT64_MAX}, {"0", 0}};
  std::vector<std::string> args{"addr", pdb, "--"};
  std::vector<std::string> expected;
  for (const auto& [typed, va] : addresses) {
    args.push_back(typed);
    expected.push_back(ExpectedAnswer(window, va));
  }
  EXPECT_EQ(Answers(args), expected);
  EXPECT_EQ(Fields(expected[0])[1], "entry");

  // Anything else is answered as no address, said on standard error, and
  // makes the status 1; the other lines are answered all the same.
  const std::string input = "foo\n1005\n12g\n-1\n10000000000000000\n\n1005 trailing\n0x\n";
  const QueryRun run = Query({"addr", pdb}, input);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{
                                "foo\t?? (not an address)", ExpectedAnswer(window, 0x1005),
                                "12g\t?? (not an address)", "-1\t?? (not an address)",
                                "10000000000000000\t?? (not an address)", "\t?? (not an address)",
                                "1005 trailing\t?? (not an address)", "0x\t?? (not an address)"}));
  EXPECT_NE(run.err.find("not an address: foo"), std::string::npos) << run.err;
  const QueryRun json = Query({"addr", pdb, "--format", "json", "foo"});
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.out, "{\"input\":\"foo\",\"Error\":{\"Message\":\"not an address\"}}\n");
}

TEST(QueryAddr, StdinAnswersLineByLineAndMatchesTheArguments) {
  const std::string pdb = kPdbs[0];
  const std::vector<std::string> addresses{"1000", "1005", "1110", "12ff", "5", "ffffffff"};
  std::vector<std::string> args{"addr", pdb, "--base", "0"};
  std::string input;
  for (const std::string& a : addresses) {
    args.push_back(a);
    input += a + "\n";
  }
  const std::vector<std::string> expected = Answers(args);
  ASSERT_EQ(expected.size(), addresses.size());

  // A batch through a pipe; CRLF line ends and a last line without one.
  QueryRun run = Query({"addr", pdb, "--base", "0"}, input);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Lines(run.out), expected);
  std::string crlf = input;
  for (std::size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2) crlf.insert(at, "\r");
  crlf.pop_back();
  crlf.pop_back();  // no line end at all on the last line
  run = Query({"addr", pdb}, crlf);
  EXPECT_EQ(Lines(run.out), expected);

  // A long batch read ahead over many reads, lines cut across them, with a
  // line that is no address among them: every answer stays with its line.
  std::string many;
  std::vector<std::string> manyExpected;
  for (int round = 0; round < 9000; ++round) {
    const std::size_t i = static_cast<std::size_t>(round * 7) % addresses.size();
    many += (round % 37 == 0 ? "zz" : addresses[i]) + "\n";
    manyExpected.push_back(round % 37 == 0 ? "zz\t?? (not an address)" : expected[i]);
  }
  run = Query({"addr", pdb, "--base", "0"}, many);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Lines(run.out), manyExpected);

  // As a coprocess: each answer arrives while stdin is still open.
  QueryProcess coprocess(kQuery, {"addr", pdb});
  ASSERT_TRUE(coprocess.started());
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    coprocess.Write(addresses[i] + "\n");
    EXPECT_EQ(coprocess.ReadLine(10000), expected[i]);
  }
  EXPECT_EQ(coprocess.Finish().status, 0);
}

TEST_P(QueryFixture, JsonParsesBackToTheSameTexts) {
  const std::vector<std::string> tsv = Lines(Query({"list", GetParam()}).out);
  const QueryRun run = Query({"list", GetParam(), "--format", "json"});
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> json = Lines(run.out);
  ASSERT_EQ(json.size(), tsv.size());
  for (std::size_t i = 0; i < json.size(); ++i) {
    const nlohmann::json row = nlohmann::json::parse(json[i]);
    const std::vector<std::string> f = Fields(tsv[i]);
    EXPECT_EQ(row.at("name"), f[0]);
    EXPECT_EQ(row.at("type"), f[1]);
    EXPECT_EQ(row.at("address").is_null() ? "" : row.at("address").get<std::string>(), f[2]);
    EXPECT_EQ(std::to_string(row.at("length").get<std::uint64_t>()), f[3]);
    EXPECT_EQ(row.at("source"), f[4]);
    EXPECT_EQ(row.at("object"), f[5]);
  }

  const QueryRun addr = Query({"addr", GetParam(), "--format", "json", "0", "ffffffff"}, "");
  const std::vector<std::string> answers = Lines(addr.out);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_TRUE(nlohmann::json::parse(answers[1]).at("name").is_null());
  std::uint64_t va = 0;
  all[0]->get_virtualAddress(&va);
  const nlohmann::json hit =
      nlohmann::json::parse(Lines(Query({"addr", GetParam(), "--format", "json", Hex(va + 1)}).out).at(0));
  EXPECT_EQ(hit.at("name"), Fields(tsv[0])[0]);
  EXPECT_EQ(hit.at("type"), "Function");
  EXPECT_EQ(hit.at("start"), Fields(tsv[0])[2]);
  EXPECT_EQ(hit.at("offset"), 1);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, QueryFixture, ::testing::ValuesIn(kPdbs),
                         [](const auto& info) { return info.index == 0 ? "x64" : "x86"; });

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(QueryExit, BadUsageIsTwoWithTheUsageText) {
  const std::string pdb = kPdbs[0];
  const std::vector<std::vector<std::string>> bad{
      {},
      {"show", pdb},
      {"list"},
      {"list", pdb, "--match", "fuzzy"},
      {"list", pdb, "--format", "xml"},
      {"list", pdb, "--name", "(", "--match", "regex"},
      {"addr", pdb, "--frobnicate"},
      {"addr", pdb, "--base", "ffffffffffffffff"},  // pushes every function past 64 bits
      {"addr", pdb, "--base", "zzz", "1000"},         // no number
      {"list", pdb, "--base", "10000000000000000"},   // past 64 bits
      {"list", pdb, "--base", "-1"},
      {"symbolize", pdb, "--base", "g12", "1000"},
      {"symbolize", pdb, "--output-style", "XML"},
  };
  for (const auto& args : bad) {
    const QueryRun run = Query(args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
    EXPECT_TRUE(Contains(run.err, "usage: sorvanta-query list FILE.pdb")) << run.err;
    EXPECT_TRUE(run.out.empty());
  }
  EXPECT_TRUE(Contains(Query({"list", pdb, "--name", "(", "--match", "regex"}).err, "regex"));
}

// A folder option takes one word, wherever it stands: the image and the
// addresses after it stay what they are.
TEST(QueryExit, SymbolPathTakesOneFolder) {
  TempDir dir;
  const std::string image = kFixtures + "/inline-x64.exe";
  const QueryRun expected = Query({"symbolize", image, "0x140001000"});
  ASSERT_EQ(expected.status, 0) << expected.err;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"symbolize", "--symbol-path", dir.path().string(), image, "0x140001000"},
        std::vector<std::string>{"symbolize", image, "--symbol-path", dir.path().string(), "0x140001000"}}) {
    const QueryRun run = Query(args, "");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, expected.out);
  }
}

// As a coprocess, symbolize answers each address while stdin stays open.
TEST(QueryExit, SymbolizeAnswersACoprocessAtOnce) {
  const std::string image = kFixtures + "/inline-x64.exe";
  QueryProcess coprocess(kQuery, {"symbolize", image});
  ASSERT_TRUE(coprocess.started());
  for (const std::string address : {"0x140001000", "0x140001011", "zz"}) {
    const std::vector<std::string> expected = Lines(Query({"symbolize", image}, address + "\n").out);
    coprocess.Write(address + "\n");
    for (const std::string& line : expected) EXPECT_EQ(coprocess.ReadLine(10000), line) << address;
  }
  EXPECT_EQ(coprocess.Finish().status, 1);  // "zz" is no address
}

TEST(QueryExit, HelpAndVersion) {
  QueryRun run = Query({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "sorvanta-query 1.0.0.1\n");
  run = Query({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(Contains(run.out, "list")) << run.out;
  EXPECT_TRUE(Contains(run.out, "addr"));
  run = Query({"addr", "--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(Contains(run.out, "--publics"));
}

TEST(QueryExit, AFileThatCannotBeOpenedIsThreeWithTheReason) {
  TempDir dir;
  const std::string notPdb = dir.File("notes.pdb");
  testing::WriteBytes(notPdb, {'h', 'e', 'l', 'l', 'o'});
  // A real PDB cut off after its first block: the right signature, no body.
  std::vector<char> bytes = testing::ReadBytes(kPdbs[0]);
  bytes.resize(4096);
  const std::string damaged = dir.File("damaged.pdb");
  testing::WriteBytes(damaged, bytes);
  bytes.resize(40);  // within the header
  const std::string header = dir.File("header.pdb");
  testing::WriteBytes(header, bytes);
  const std::string empty = dir.File("empty.pdb");
  testing::WriteBytes(empty, {});
  // The system's own reason, for a failure the reader does not name.
  const std::string loop = dir.File("loop.pdb");
  std::filesystem::create_symlink(loop, loop);

  const std::vector<std::pair<std::string, std::string>> cases{
      {dir.File("missing.pdb"), "no such file"},
      {notPdb, "not a PDB file"},
      {empty, "not a PDB file"},
      {damaged, "damaged PDB file"},
      {header, "damaged PDB file"},
      {dir.path().string(), "not a regular file"},
      {loop, std::strerror(ELOOP)},
  };
  for (const auto& [path, reason] : cases) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list", path}, std::vector<std::string>{"addr", path, "1000"}}) {
      const QueryRun run = Query(args);
      EXPECT_EQ(run.status, 3) << path;
      EXPECT_EQ(run.err, "sorvanta-query: cannot open " + path + ": " + reason + "\n");
      EXPECT_TRUE(run.out.empty());
    }
  }
}

// File names are bytes: one that is no valid UTF-8 opens like any other.
TEST(QueryExit, AFileNameThatIsNoUtf8Opens) {
  TempDir dir;
  const std::string path = dir.File("na\xFFme\xC3.pdb");
  testing::WriteBytes(path, testing::ReadBytes(kPdbs[0]));
  const QueryRun run = Query({"list", path});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, Query({"list", kPdbs[0]}).out);
}

TEST(QueryExit, OutOfMemoryIsThreeWithTheReason) {
#ifdef SORVANTA_ASAN
  GTEST_SKIP() << "AddressSanitizer cannot run under a small address-space limit";
#else
  // A module that declares 1 GiB of symbols, held by a sparse file that
  // takes no disk, opened under a 1 GiB address-space limit: the reader
  // cannot get the memory for them.
  TempDir dir;
  const std::string big = dir.File("big.pdb");
  ASSERT_TRUE(testing::WriteSmallMsf(big, 4096, testing::MinimalPdbStreams(1u << 30, {})));
  const QueryRun run = testing::RunProgram(
      "/bin/sh", {"-c", "ulimit -v 1048576 && exec \"$0\" list \"$1\"", kQuery, big});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.err, "sorvanta-query: cannot open " + big + ": out of memory\n");
#endif
}

TEST(QueryExit, AnOutputThatCannotBeWrittenOrAnUnreadableInputIsNotSuccess) {
  QueryRun run = testing::RunProgram(
      "/bin/sh", {"-c", "exec \"$0\" list \"$1\" > /dev/full", kQuery, kPdbs[0]});
  EXPECT_EQ(run.status, 1);
  run = testing::RunProgram("/bin/sh", {"-c", "exec \"$0\" addr \"$1\" < /", kQuery, kPdbs[0]});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot read standard input"), std::string::npos) << run.err;
}

TEST(QueryOutputText, TsvFieldsCannotBreakTheLine) {
  auto tsv = [](std::string_view text) {
    TextBuffer out;
    AppendTsvText(text, &out);
    return std::string(out.view());
  };
  // Controls and bytes that start no valid sequence, past the first eight
  // bytes and within them, whatever the neighbours.
  EXPECT_EQ(tsv("a\tb\nc\r\x7F" "d\\e"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xEF\xBF\xBD\xEF\xBF\xBD" "d\\e");
  EXPECT_EQ(tsv("plain text, long enough\x01" "x\xFF" "\xC3\xBC"),
            "plain text, long enough\xEF\xBF\xBDx\xEF\xBF\xBD\xC3\xBC");
  std::string nineReplacements;
  for (int i = 0; i < 9; ++i) nineReplacements += "\xEF\xBF\xBD";
  EXPECT_EQ(tsv(std::string(9, '\x7F')), nineReplacements);  // every DEL, in the word and past it
  for (const char* plain : {"", "abc", "~abcdefgh ", "0123456789abcdefg"}) EXPECT_EQ(tsv(plain), plain);
}

}  // namespace
}  // namespace sorvanta
