// sorvanta-query symbolize finding an image's PDB: beside it, in symbol
// paths flat and as symbol stores, in _NT_SYMBOL_PATH; skipping a PDB of
// another build; never leaving a searched folder whatever name the image
// records; and refusing what holds no native symbols.
//
// inline-x64-rebuilt.pdb is the PDB of the same program built from another
// folder: another GUID, and lines in C:\rebuilt\, so an answer tells which
// PDB gave it.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "QueryProcess.h"
#include "TempDir.h"

namespace sorvanta {
namespace {

namespace fs = std::filesystem;
using testing::QueryRun;
using testing::TempDir;

const std::string kQuery = SORVANTA_QUERY_EXECUTABLE;
const std::string kFixtures = SORVANTA_FIXTURES_DIR;

constexpr const char* kIdentity = "{49BD8F5D-159F-A58E-4C4C-44205044422E} age 1";
constexpr const char* kRebuiltIdentity = "{709B5F50-E6C7-AC3F-4C4C-44205044422E} age 1";
constexpr const char* kStoreKey = "49BD8F5D159FA58E4C4C44205044422E1";  // GUID digits, then the age
constexpr const char* kAddress = "0x140001000";
constexpr const char* kRight = "UseVec(int, int)\nC:\\src\\inline.cpp:4:0\n\n";
constexpr const char* kRebuilt = "UseVec(int, int)\nC:\\rebuilt\\inline.cpp:4:0\n\n";

// Sets _NT_SYMBOL_PATH for the programs a test runs, or unsets it.
class SymbolPathVariable {
 public:
  explicit SymbolPathVariable(const std::optional<std::string>& value) {
    if (value) {
      ::setenv("_NT_SYMBOL_PATH", value->c_str(), 1);
    } else {
      ::unsetenv("_NT_SYMBOL_PATH");
    }
  }
  ~SymbolPathVariable() { ::unsetenv("_NT_SYMBOL_PATH"); }
  SymbolPathVariable(const SymbolPathVariable&) = delete;
  SymbolPathVariable& operator=(const SymbolPathVariable&) = delete;
};

void Place(const std::string& fixture, const TempDir& dir, const std::string& relative) {
  const fs::path to = dir.path() / relative;
  fs::create_directories(to.parent_path());
  testing::WriteBytes(to.string(), testing::ReadBytes(kFixtures + "/" + fixture));
}

// Replaces "$" in text with the temporary folder.
std::string InDir(std::string text, const TempDir& dir) {
  for (std::size_t at; (at = text.find('$')) != std::string::npos;) text.replace(at, 1, dir.path().string());
  return text;
}

struct FindCase {
  const char* what;
  std::vector<std::pair<std::string, std::string>> files;  // fixture, where (under the folder)
  std::vector<std::string> args;                           // after FILE and the address; $ is the folder
  std::optional<std::string> ntSymbolPath;                 // $ is the folder
  int status;
  std::string out;                  // the answer, when status is 0
  std::vector<std::string> errHas;  // in the message, when it is not; $ is the folder
};

// The image is always $/app/inline-x64.exe.
const std::vector<FindCase> kFindCases{
    {"beside the image, named in another case", {{"inline-x64.pdb", "app/INLINE-X64.PDB"}}, {}, {}, 0, kRight, {}},
    {"in a symbol store given as --symbol-path",
     {{"inline-x64.pdb", std::string("store/inline-x64.pdb/") + kStoreKey + "/inline-x64.pdb"}},
     {"--symbol-path", "$/store"}, {}, 0, kRight, {}},
    {"in a flat --symbol-path folder", {{"inline-x64.pdb", "flat/inline-x64.pdb"}}, {"--symbol-path", "$/flat"}, {},
     0, kRight, {}},
    {"in the cache of a srv* entry",
     {{"inline-x64.pdb", std::string("cache/inline-x64.pdb/") + kStoreKey + "/inline-x64.pdb"}},
     {}, "srv*$/cache*https://symbols.invalid/download", 0, kRight, {}},
    {"in a cache* entry", {{"inline-x64.pdb", std::string("c2/inline-x64.pdb/") + kStoreKey + "/inline-x64.pdb"}},
     {}, "cache*$/c2", 0, kRight, {}},
    {"in a plain folder of _NT_SYMBOL_PATH, after a URL",
     {{"inline-x64.pdb", "flat/inline-x64.pdb"}}, {}, "https://symbols.invalid/x;$/flat", 0, kRight, {}},
    {"--symbol-path before _NT_SYMBOL_PATH",
     {{"inline-x64-rebuilt.pdb", "nt/inline-x64.pdb"}, {"inline-x64.pdb", "flat/inline-x64.pdb"}},
     {"--symbol-path", "$/flat"}, "$/nt", 0, kRight, {}},
    {"nowhere", {}, {"--symbol-path", "$/none"}, "$/none2", 3, "", {"cannot find inline-x64.pdb", kIdentity}},
    // Run from the folder, where each URL's text also names a local folder
    // that holds the PDB.
    {"a URL in _NT_SYMBOL_PATH is no folder",
     {{"inline-x64.pdb", "https:/symbols.invalid/x/inline-x64.pdb"}}, {}, "https://symbols.invalid/x", 3, "",
     {"cannot find inline-x64.pdb"}},
    {"the URL of a srv* entry is no folder",
     {{"inline-x64.pdb", std::string("https:/symbols.invalid/x/inline-x64.pdb/") + kStoreKey + "/inline-x64.pdb"}},
     {}, "srv*$/cache*https://symbols.invalid/x", 3, "", {"cannot find inline-x64.pdb"}},
    {"only a PDB of another build",
     {{"inline-x64-rebuilt.pdb", "app/inline-x64.pdb"}}, {}, {}, 3, "",
     {"no PDB matches", kIdentity, kRebuiltIdentity, "$/app/inline-x64.pdb (beside the image)", "--ignore-mismatch"}},
    {"a PDB of another build, taken on request",
     {{"inline-x64-rebuilt.pdb", "app/inline-x64.pdb"}}, {"--ignore-mismatch"}, {}, 0, kRebuilt, {}},
    {"a PDB of another build in each place before the right one",
     {{"inline-x64-rebuilt.pdb", "app/inline-x64.pdb"},
      {"inline-x64-rebuilt.pdb", "flat/inline-x64.pdb"},
      {"inline-x64-rebuilt.pdb", std::string("store/inline-x64.pdb/") + kStoreKey + "/inline-x64.pdb"},
      {"inline-x64.pdb", std::string("cache/inline-x64.pdb/") + kStoreKey + "/inline-x64.pdb"}},
     {"--symbol-path", "$/flat", "--symbol-path", "$/store"}, "srv*$/cache*https://symbols.invalid", 0, kRight, {}},
    {"a file of the PDB's name that is no PDB",
     {{"inline-x64.exe", "app/inline-x64.pdb"}}, {}, {}, 3, "",
     {"no readable PDB", kIdentity, "$/app/inline-x64.pdb (beside the image): not a PDB file"}},
    {"no PDB, and one of another build",
     {{"inline-x64.exe", "app/inline-x64.pdb"}, {"inline-x64-rebuilt.pdb", "flat/inline-x64.pdb"}},
     {"--symbol-path", "$/flat"}, {}, 3, "",
     {"no PDB matches", kRebuiltIdentity, "$/flat/inline-x64.pdb (in $/flat)",
      "$/app/inline-x64.pdb (beside the image): not a PDB file"}},
};

TEST(SymbolizeFind, EachPlaceInItsOrder) {
  for (const FindCase& c : kFindCases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    Place("inline-x64.exe", dir, "app/inline-x64.exe");
    for (const auto& [fixture, where] : c.files) Place(fixture, dir, where);
    std::vector<std::string> args{"symbolize", dir.File("app/inline-x64.exe"), kAddress};
    for (const std::string& a : c.args) args.push_back(InDir(a, dir));
    const SymbolPathVariable variable(c.ntSymbolPath ? std::optional<std::string>(InDir(*c.ntSymbolPath, dir))
                                                     : std::nullopt);
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    const QueryRun run = testing::RunProgram(kQuery, args);
    fs::current_path(before);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out, c.out);
    for (const std::string& part : c.errHas) EXPECT_NE(run.err.find(InDir(part, dir)), std::string::npos) << run.err;
  }
}

// A copy of inline-x64-longname.exe that records name (of up to 100
// bytes) in place of the long name it records; its PDB is
// inline-x64-longname.pdb.
void WriteImageRecording(const std::string& name, const std::string& path) {
  std::vector<char> bytes = testing::ReadBytes(kFixtures + "/inline-x64-longname.exe");
  const std::string recorded = std::string(96, 'p') + ".pdb";
  const auto at = std::search(bytes.begin(), bytes.end(), recorded.begin(), recorded.end());
  ASSERT_NE(at, bytes.end());
  ASSERT_LE(name.size(), recorded.size());
  std::fill(at, at + static_cast<std::ptrdiff_t>(recorded.size()), '\0');
  std::copy(name.begin(), name.end(), at);
  fs::create_directories(fs::path(path).parent_path());
  testing::WriteBytes(path, bytes);
}

// The recorded name is only ever a file name in a searched folder: each
// ".." or root of it would lead to a matching PDB that must stay unused.
// A local absolute path is a place of its own, after the image's folder.
TEST(SymbolizeFind, RecordedNameNeverLeavesTheSearchedFolders) {
  struct Case {
    std::string recorded;  // $ is the folder
    std::string err;       // the message; empty when the PDB at the recorded path answers
  };
  const std::vector<Case> cases{
      {"..\\x.pdb", "cannot find x.pdb"},
      {"../../x.pdb", "cannot find x.pdb"},
      {"..\\..\\..\\x.pdb", "cannot find x.pdb"},
      {"C:\\evil\\..\\x.pdb", "cannot find x.pdb"},
      {"C:..\\x.pdb", "cannot find x.pdb"},
      {"\\\\server\\share\\..\\x.pdb", "cannot find x.pdb"},
      {"$\\a\\x.pdb", "cannot find x.pdb"},  // backslashes part no local path
      {"..", "names no usable PDB file: \"..\""},
      {"x.pdb\\..", "names no usable PDB file"},
      {"C:", "names no usable PDB file"},
      {"$/a/x.pdb", ""},
      {"$/a/b/../x.pdb", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.recorded);
    TempDir dir;
    WriteImageRecording(InDir(c.recorded, dir), dir.File("a/b/app/img.exe"));
    // Where a followed ".." or a root would lead, from the image's folder
    // and from the symbol path's.
    for (const char* where : {"x.pdb", "a/x.pdb", "a/b/x.pdb", "a/b/sym/x.pdb"}) {
      Place("inline-x64-longname.pdb", dir, where);
    }
    fs::create_directories(dir.path() / "a/b/sym/sub");
    const QueryRun run = testing::RunProgram(
        kQuery, {"symbolize", dir.File("a/b/app/img.exe"), kAddress, "--symbol-path", dir.File("a/b/sym/sub")});
    if (c.err.empty()) {
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.out, kRight);
      // Beside the image comes first; a PDB of another build there is
      // skipped and named with the place it was found.
      Place("inline-x64-rebuilt.pdb", dir, "a/b/app/x.pdb");
      Place("inline-x64-rebuilt.pdb", dir, "a/x.pdb");
      const QueryRun other = testing::RunProgram(kQuery, {"symbolize", dir.File("a/b/app/img.exe"), kAddress});
      EXPECT_EQ(other.status, 3);
      EXPECT_NE(other.err.find(dir.File("a/b/app/x.pdb") + " (beside the image) is " + kRebuiltIdentity + "; " +
                               InDir(c.recorded, dir) + " (at the recorded path) is " + kRebuiltIdentity),
                std::string::npos)
          << other.err;
      continue;
    }
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;

    // The name's last part beside the image is found.
    if (c.err.rfind("cannot find", 0) == 0) {
      Place("inline-x64-longname.pdb", dir, "a/b/app/x.pdb");
      const QueryRun found = testing::RunProgram(kQuery, {"symbolize", dir.File("a/b/app/img.exe"), kAddress});
      EXPECT_EQ(found.status, 0) << found.err;
      EXPECT_EQ(found.out, kRight);
    }
  }
}

TEST(SymbolizeFind, RefusesWhatHoldsNoNativeSymbols) {
  TempDir dir;
  testing::WriteBytes(dir.File("portable.pdb"), {'B', 'S', 'J', 'B', 1, 0, 1, 0, 0, 0, 0, 0, 12, 0, 0, 0});
  std::vector<char> noise(4096);
  unsigned state = 12345;
  for (char& c : noise) c = static_cast<char>((state = state * 1103515245 + 12345) >> 16);
  testing::WriteBytes(dir.File("noise.bin"), noise);
  testing::WriteBytes(dir.File("short.exe"), {'M', 'Z', 0, 0});
  fs::create_directory(dir.path() / "folder.pdb");
  Place("inline-x64-nodebug.exe", dir, "nodebug.exe");

  struct Case {
    std::string file;
    std::string err;
  };
  const std::vector<Case> cases{
      {"portable.pdb", "portable.pdb is a portable (.NET) PDB, which holds no native code's symbols"},
      {"nodebug.exe", "nodebug.exe has no PDB reference: the image has no CodeView debug record"},
      {"noise.bin", "noise.bin: not a PDB file or a Windows image"},
      {"short.exe", "short.exe: not a PDB file or a Windows image"},
      {"folder.pdb", "folder.pdb: not a regular file"},
      {"missing.pdb", "missing.pdb: no such file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const QueryRun run = testing::RunProgram(kQuery, {"symbolize", dir.File(c.file), "0x1000"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
}

// A file name that is no UTF-8 opens as any other; JSON shows it as
// valid UTF-8.
TEST(SymbolizeFind, FileNamesNeedNotBeUtf8) {
  TempDir dir;
  const std::string pdb = dir.File("sym\xFF.pdb");
  const std::string exe = dir.File("app\xFF.exe");
  Place("inline-x64.pdb", dir, "sym\xFF.pdb");
  Place("inline-x64.exe", dir, "app\xFF.exe");
  Place("inline-x64.pdb", dir, "inline-x64.pdb");

  QueryRun run = testing::RunProgram(kQuery, {"symbolize", pdb, "0x1000"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kRight);
  run = testing::RunProgram(kQuery, {"symbolize", exe, kAddress, "--output-style", "JSON"});
  EXPECT_EQ(run.status, 0) << run.err;
  const nlohmann::json answer = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_FALSE(answer.is_discarded()) << run.out;
  EXPECT_EQ(answer[0]["Symbol"][0]["FunctionName"], "UseVec(int, int)");
  EXPECT_EQ(answer[0]["ModuleName"], dir.File("app\xEF\xBF\xBD.exe"));
}

}  // namespace
}  // namespace sorvanta
