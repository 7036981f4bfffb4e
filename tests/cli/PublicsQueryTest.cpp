// --publics: a stripped PDB (publics only, no module symbols) written with
// LLVM's builder, and the real fixtures' own publics.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "QueryProcess.h"
#include "TempDir.h"
#include "TestProcess.h"
#include "TestPdbWriter.h"

namespace sorvanta {
namespace {

using testing::QueryRun;

const std::string kQuery = SORVANTA_QUERY_EXECUTABLE;
const std::string kFixtures = SORVANTA_FIXTURES_DIR;

QueryRun Query(const std::vector<std::string>& args) { return testing::RunProgram(kQuery, args); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class StrippedPdb : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestPdb pdb;
    pdb.sectionAddresses = {0x1000, 0x3000};
    pdb.sectionSizes = {0x200, 0x100};
    pdb.modules.push_back({"main.obj", "main.obj", {}, {}});  // stripped: no symbols
    pdb.publics = {
        {"?Beta@@YAXXZ", 1, 0x40},
        {"?Alpha@@YAHH@Z", 1, 0x10},
        {"c_function", 1, 0x80},            // C names do not demangle
        {"?Broken@@Y", 1, 0x90},            // neither do damaged ones
        {"?Twin@@YAXXZ", 1, 0xA0},
        {"?TwinAlias@@YAXXZ", 1, 0xA0},     // two names for one address
        {"g_table", 2, 0x0, 0x0},           // data: no function flag
        {"?InData@@YAXXZ", 2, 0x20},
        {"discarded", 0, 0x10},             // no section
    };
    ASSERT_TRUE(testing::WriteTestPdb(pdb, path));
  }
  testing::TempDir dir;
  std::string path = dir.File("stripped.pdb");
};

TEST_F(StrippedPdb, WithoutPublicsNothingIsFound) {
  QueryRun run = Query({"list", path});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  run = Query({"addr", path, "1010", "1040"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{"0X00001010\t??", "0X00001040\t??"}));
}

TEST_F(StrippedPdb, ListShowsTheFunctionPublicsDemangledInAddressOrder) {
  const QueryRun run = Query({"list", path, "--publics"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{
                                "int __cdecl Alpha(int)\tPublicSymbol\t0X00001010\t\t\t",
                                "void __cdecl Beta(void)\tPublicSymbol\t0X00001040\t\t\t",
                                "c_function\tPublicSymbol\t0X00001080\t\t\t",
                                "?Broken@@Y\tPublicSymbol\t0X00001090\t\t\t",
                                "void __cdecl Twin(void)\tPublicSymbol\t0X000010A0\t\t\t",
                                "void __cdecl TwinAlias(void)\tPublicSymbol\t0X000010A0\t\t\t",
                                "void __cdecl InData(void)\tPublicSymbol\t0X00003020\t\t\t",
                                "discarded\tPublicSymbol\t\t\t\t",
                            }));
  // Names match in their demangled form, in every mode.
  EXPECT_EQ(Lines(Query({"list", path, "--publics", "--name", "VOID __CDECL BETA(VOID)"}).out).size(), 1u);
  EXPECT_EQ(Lines(Query({"list", path, "--publics", "--name", "twin", "--match", "substring"}).out).size(), 2u);
  EXPECT_EQ(Lines(Query({"list", path, "--publics", "--name", "*alpha(int)", "--match", "glob"}).out).size(), 1u);
  EXPECT_EQ(Lines(Query({"list", path, "--publics", "--name", "^c_", "--match", "regex"}).out).size(), 1u);
}

TEST_F(StrippedPdb, AddrFallsBackToTheNearestPublicAtOrBelowInItsSection) {
  const QueryRun run = Query({"addr", path, "--publics", "1010", "1015", "103f", "10a7", "11ff", "1200",
                              "100f", "3020", "3021", "30ff", "3100", "2000"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{
                                "0X00001010\tint __cdecl Alpha(int)\t0X00001010\t0x0\t\t",
                                "0X00001015\tint __cdecl Alpha(int)+0x5\t0X00001010\t0x5\t\t",
                                "0X0000103F\tint __cdecl Alpha(int)+0x2f\t0X00001010\t0x2f\t\t",
                                "0X000010A7\tvoid __cdecl Twin(void)+0x7\t0X000010A0\t0x7\t\t",
                                "0X000011FF\tvoid __cdecl Twin(void)+0x15f\t0X000010A0\t0x15f\t\t",
                                "0X00001200\t??",  // past the end of section 1
                                "0X0000100F\t??",  // below the first public
                                "0X00003020\tvoid __cdecl InData(void)\t0X00003020\t0x0\t\t",
                                "0X00003021\tvoid __cdecl InData(void)+0x1\t0X00003020\t0x1\t\t",
                                "0X000030FF\tvoid __cdecl InData(void)+0xdf\t0X00003020\t0xdf\t\t",
                                "0X00003100\t??",
                                "0X00002000\t??",  // between the sections
                            }));
  // A base that would push a public past 64 bits is refused; without the
  // publics this file has no address to push.
  EXPECT_EQ(Query({"addr", path, "--publics", "--base", "fffffffffffff000", "1"}).status, 2);
  EXPECT_EQ(Query({"addr", path, "--base", "fffffffffffff000", "1"}).status, 0);

  // With a base, and as JSON.
  const QueryRun json = Query({"addr", path, "--publics", "--base", "400000", "--format", "json", "401015"});
  EXPECT_EQ(json.out,
            "{\"address\":\"0X00401015\",\"name\":\"int __cdecl Alpha(int)\",\"type\":\"PublicSymbol\","
            "\"start\":\"0X00401010\",\"offset\":5,\"source\":\"\",\"object\":\"\",\"va\":4198421,"
            "\"rva\":4117,\"length\":null}\n");
}

TEST(QueryRegex, AHugeNameFromACraftedFileIsMatchedWithoutACrash) {
  // The regex engine recurses once per character here; the usual stack
  // would overflow on this name.
  testing::TempDir dir;
  const std::string path = dir.File("huge-name.pdb");
  testing::TestPdb pdb;
  pdb.sectionAddresses = {0x1000};
  testing::TestModule module{"m.obj", "m.obj", {}, {}};
  const std::string huge(60000, 'a');
  module.symbols.BeginProc(0x1110 /* S_GPROC32 */, huge, 1, 0, 16);
  module.symbols.EndProc();
  pdb.modules.push_back(std::move(module));
  ASSERT_TRUE(testing::WriteTestPdb(pdb, path));

  const QueryRun run = Query({"list", path, "--name", "^(a|b)*$", "--match", "regex"});
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(Lines(run.out).size(), 1u);
  EXPECT_EQ(Lines(run.out)[0].substr(0, 60001), huge + "\t");
}

using testing::Shell;

TEST(FixturePublics, EveryFunctionPublicIsListedAtItsFunction) {
  for (const char* name : {"sample-x64.pdb", "sample-x86.pdb"}) {
    const std::string pdb = kFixtures + "/" + name;
    // llvm-pdbutil, an independent reader, counts the publics with the
    // function flag.
    const std::string dump = Shell("llvm-pdbutil dump -publics '" + pdb + "' 2>&1");
    std::size_t expected = 0;
    for (std::size_t at = 0; (at = dump.find("flags = function", at)) != std::string::npos; ++at) ++expected;
    ASSERT_GT(expected, 5u) << dump;

    const std::vector<std::string> plain = Lines(Query({"list", pdb}).out);
    const std::vector<std::string> with = Lines(Query({"list", pdb, "--publics"}).out);
    ASSERT_EQ(with.size(), plain.size() + expected) << name;
    // Functions come first and are unchanged.
    EXPECT_EQ(std::vector<std::string>(with.begin(), with.begin() + plain.size()), plain);

    std::map<std::string, std::string> functionAt;  // address -> name
    for (const std::string& line : plain) {
      std::istringstream fields(line);
      std::string fname, tag, address;
      std::getline(fields, fname, '\t');
      std::getline(fields, tag, '\t');
      std::getline(fields, address, '\t');
      functionAt[address] = fname;
    }
    for (std::size_t i = plain.size(); i < with.size(); ++i) {
      std::istringstream fields(with[i]);
      std::string pname, tag, address;
      std::getline(fields, pname, '\t');
      std::getline(fields, tag, '\t');
      std::getline(fields, address, '\t');
      EXPECT_EQ(tag, "PublicSymbol");
      // Each public starts a function, and its demangled name carries the
      // function's own.
      ASSERT_TRUE(functionAt.count(address)) << with[i];
      EXPECT_NE(pname.find(functionAt[address]), std::string::npos) << with[i];
    }
  }
}

TEST(FixturePublics, PublicsChangeNoFunctionHit) {
  const std::string pdb = kFixtures + "/sample-x64.pdb";
  std::vector<std::string> args{"addr", pdb};
  for (int a = 0xFF0; a < 0x1400; a += 7) {
    std::ostringstream hex;
    hex << std::hex << a;
    args.push_back(hex.str());
  }
  const std::vector<std::string> plain = Lines(Query(args).out);
  args.push_back("--publics");
  const std::vector<std::string> with = Lines(Query(args).out);
  ASSERT_EQ(plain.size(), with.size());
  for (std::size_t i = 0; i < plain.size(); ++i) {
    if (plain[i].find("\t??") == std::string::npos) {
      EXPECT_EQ(with[i], plain[i]);
    }
  }
}

}  // namespace
}  // namespace sorvanta
