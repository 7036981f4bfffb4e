// Running out of memory while a file is loaded ends in a refused open
// (E_OUTOFMEMORY), never in an abort: every allocation whose size comes from
// the file is made by our code, which reports failure. Each load runs in a
// child process under a limit on its address space.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "PdbImage.h"
#include "SmallMsf.h"
#include "TempDir.h"
#include "TestProcess.h"
#include "Utf8.h"

namespace sorvanta {
namespace {

const std::string kFixtures = SORVANTA_FIXTURES_DIR;

enum Outcome { kOpened = 10, kOutOfMemory = 11, kOtherFailure = 12, kThrew = 13 };

std::size_t AddressSpaceBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmSize:", 0) == 0) return std::strtoull(line.c_str() + 7, nullptr, 10) * 1024;
  }
  return 0;
}

// Loads path (and uses everything loaded) in a child whose address space
// may grow by at most headroom bytes. The child's exit code, or -signal.
int LoadInChild(const std::string& path, std::size_t headroom) {
  const pid_t child = fork();
  if (child == 0) {
    const rlim_t limit = AddressSpaceBytes() + headroom;
    const rlimit rl{limit, limit};
    if (setrlimit(RLIMIT_AS, &rl) != 0) _exit(kOtherFailure);
    // Nothing may escape into the test framework's copy in the child.
    try {
      std::shared_ptr<PdbImage> image;
      const HRESULT hr = PdbImage::Load(path, &image);
      if (hr == E_OUTOFMEMORY) _exit(kOutOfMemory);
      if (Failed(hr)) _exit(kOtherFailure);
      for (std::uint32_t i = 0; i < image->functionCount(); ++i) image->SourceFile(i);
      _exit(kOpened);
    } catch (const std::bad_alloc&) {
      _exit(kOutOfMemory);  // a source file needs memory the limit leaves none of
    } catch (...) {
      _exit(kThrew);
    }
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1000;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST(OutOfMemoryTest, ALoadThatCannotGetItsMemoryIsRefusedCleanly) {
#ifdef SORVANTA_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#endif
  // A module that declares 96 MiB of symbols, held by a sparse file that
  // takes no disk: the reader must find the memory for them.
  testing::TempDir dir;
  const std::string big = dir.File("big.pdb");
  ASSERT_TRUE(testing::WriteSmallMsf(big, 4096, testing::MinimalPdbStreams(96u << 20, {})));
  for (std::size_t headroom : {0u << 20, 1u << 20, 8u << 20, 48u << 20}) {
    EXPECT_EQ(LoadInChild(big, headroom), kOutOfMemory) << (headroom >> 20) << " MiB";
  }
  EXPECT_EQ(LoadInChild(big, std::size_t{512} << 20), kOpened);

  // Under a rising limit a real file first fails cleanly at one allocation
  // or another, then opens; nothing in between.
  std::set<int> outcomes;
  for (std::size_t headroom = 0; headroom <= (48u << 20); headroom += 256u << 10) {
    const int outcome = LoadInChild(kFixtures + "/sample-x64.pdb", headroom);
    EXPECT_TRUE(outcome == kOpened || outcome == kOutOfMemory)
        << "outcome " << outcome << " with " << (headroom >> 10) << " KiB";
    outcomes.insert(outcome);
  }
  EXPECT_EQ(outcomes, (std::set<int>{kOpened, kOutOfMemory}));
}

}  // namespace
}  // namespace sorvanta
