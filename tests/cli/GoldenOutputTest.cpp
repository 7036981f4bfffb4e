// What sorvanta-query and the window show of every fixture, held against
// what they showed before the symbol layer was rewritten
// (tests/fixtures/golden/): the full listing with and without a base, the
// public symbols, JSON, and the answers for every function's first, last
// and next byte. Since then, JSON lines also carry their addresses and
// lengths as numbers, and a line that is no address is answered as such.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DiaSymbol.h"
#include "QueryProcess.h"
#include "RowTexts.h"
#include "Utf8.h"

namespace sorvanta {
namespace {

const std::string kQuery = SORVANTA_QUERY_EXECUTABLE;
const std::string kFixtures = SORVANTA_FIXTURES_DIR;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Case {
  std::string pdb;     // in the fixtures folder
  std::string golden;  // the fixture whose recorded output this one must give
};

// The page-size variants hold the same symbols as the 4 KiB fixture.
const std::vector<Case> kCases{
    {"sample-x64", "sample-x64"},
    {"sample-x86", "sample-x86"},
    {"sample-x64-page8k", "sample-x64"},
    {"sample-x64-page16k", "sample-x64"},
    {"sample-x64-page32k", "sample-x64"},
    {"fuzz-regressions/address-index-shift-32", "address-index-shift-32"},
};

struct Mode {
  std::string golden;  // the recorded file's suffix
  std::vector<std::string> args;
  std::string input;  // the recorded addresses to read from stdin, if any
  int status = 0;
};

// The recorded addresses end with lines that are no address ("zz", a
// number past 64 bits): those runs end with status 1.
const std::vector<Mode> kModes{
    {"list", {"list"}, ""},
    {"listbase140000000", {"list", "--base", "140000000"}, ""},
    {"listpublics", {"list", "--publics"}, ""},
    {"listpublicsbase10000", {"list", "--publics", "--base", "10000"}, ""},
    {"listformatjson", {"list", "--format", "json"}, ""},
    {"listformatjsonpublicsbase7FFF0000", {"list", "--format", "json", "--publics", "--base", "7FFF0000"}, ""},
    {"addrpublics", {"addr", "--publics"}, "addresses", 1},
    {"addrformatjsonpublics", {"addr", "--format", "json", "--publics"}, "addresses", 1},
    {"addrbase140000000publics", {"addr", "--base", "140000000", "--publics"}, "addresses-base", 1},
};

std::string GoldenFile(const std::string& fixture, const std::string& suffix) {
  return kFixtures + "/golden/" + fixture + "." + suffix + ".txt";
}

TEST(GoldenOutput, TheQueryProgramWritesWhatItWroteBefore) {
  for (const Case& c : kCases) {
    const std::string pdb = kFixtures + "/" + c.pdb + ".pdb";
    for (const Mode& mode : kModes) {
      std::vector<std::string> args{mode.args[0], pdb};
      args.insert(args.end(), mode.args.begin() + 1, mode.args.end());
      const std::string input = mode.input.empty() ? "" : ReadText(GoldenFile(c.golden, mode.input));
      const testing::QueryRun run = testing::RunProgram(kQuery, args, input);
      EXPECT_EQ(run.status, mode.status) << c.pdb << " " << mode.golden << ": " << run.err;
      EXPECT_EQ(run.out, ReadText(GoldenFile(c.golden, mode.golden))) << c.pdb << " " << mode.golden;
    }
  }
}

// The window's rows for every function, as the listing writes them (a
// function without an address shows none there).
std::string WindowListing(DiaSymbol& window) {
  std::string lines;
  for (const SymbolRef& s : window.FindFunctionsByName(L"")) {
    const RowTexts row = ReadRowTexts(s.get());
    std::uint64_t va = 0;
    const bool hasAddress = Succeeded(s->get_virtualAddress(&va));
    lines += WideToUtf8(row.name) + "\t" + WideToUtf8(row.tag) + "\t" +
             (hasAddress ? WideToUtf8(row.address) : "") + "\t" + WideToUtf8(row.length) + "\t" +
             WideToUtf8(row.sourceFile) + "\t" + WideToUtf8(row.objectFile) + "\n";
  }
  return lines;
}

TEST(GoldenOutput, TheWindowShowsTheRowsItShowedBefore) {
  for (const Case& c : kCases) {
    DiaSymbol window;
    ASSERT_TRUE(window.Open(Utf8ToWide(kFixtures + "/" + c.pdb + ".pdb"))) << c.pdb;
    EXPECT_EQ(WindowListing(window), ReadText(GoldenFile(c.golden, "list"))) << c.pdb;
    ASSERT_TRUE(Succeeded(window.session->put_loadAddress(0x140000000)));
    EXPECT_EQ(WindowListing(window), ReadText(GoldenFile(c.golden, "listbase140000000"))) << c.pdb;
  }
}

}  // namespace
}  // namespace sorvanta
