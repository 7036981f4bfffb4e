#pragma once

// Runs work that a damaged or hostile file might make hang or swell in a
// child process: with a hang guard (alarm), a cap on its address space so
// a broken reader fails the test instead of taking the machine's memory,
// and its peak resident memory measured. Speed is never what these check:
// the guard is far above what the right complexity needs.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "DiaSymbol.h"
#include "IDiaDataSource.h"
#include "SymbolFacts.h"
#include "TestProcess.h"

namespace sorvanta::testing {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// A field of /proc/self/status, in bytes.
inline std::uint64_t StatusBytes(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(in, line)) {
    if (line.compare(0, prefix.size(), prefix) == 0) return std::stoull(line.substr(prefix.size())) * 1024;
  }
  return 0;
}

// What the sanitizer adds to any measured peak: freed memory held in
// quarantine and the shadow of what is live.
constexpr std::uint64_t kSanitizerSlack = kSanitized ? 320 * kMiB : 0;

// A loose bound for an input of n bytes, where exact accounting of what is
// read is impractical.
inline std::uint64_t MemoryBound(std::uint64_t n) { return 2 * n + 64 * kMiB + kSanitizerSlack; }

// The product's own bound: the bytes read, 48 bytes per function or
// public, and 24 MiB. Under the sanitizer, whose redzones, shadow and
// size classes take up to about four times what is live, four times that
// and its quarantine: there the check is a coarse one.
inline std::uint64_t RecordBound(std::uint64_t bytesRead, std::uint64_t records) {
  const std::uint64_t bound = bytesRead + 48 * records + 24 * kMiB;
  return kSanitized ? 4 * bound + kSanitizerSlack : bound;
}

// What became of work done in a child.
struct ChildOutcome {
  bool finished = false;
  std::string how;                    // when not finished
  std::vector<std::uint64_t> values;  // what the work reported
  std::uint64_t memoryGrowth = 0;     // peak resident bytes over those at the start
};

inline std::ostream& operator<<(std::ostream& os, const ChildOutcome& o) {
  if (!o.finished) return os << o.how;
  os << "peak memory +" << o.memoryGrowth / kMiB << " MiB, values";
  for (const std::uint64_t v : o.values) os << " " << v;
  return os;
}

// Runs work in a forked child that has `seconds` to finish and (outside
// the sanitizer, which reserves terabytes of address space) at most
// addressSpace bytes more address space than it starts with. work returns
// the values the test looks at; an exception it throws ends the child.
inline ChildOutcome RunBoundedInChild(unsigned seconds, const std::function<std::vector<std::uint64_t>()>& work,
                                      std::uint64_t addressSpace = std::uint64_t{3} << 30) {
  int pipe[2];
  if (::pipe(pipe) != 0) return {false, "no pipe", {}, 0};
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe[0]);
    ::alarm(seconds);
    std::ofstream("/proc/self/clear_refs") << "5";  // restart the peak count here
    const std::uint64_t start = StatusBytes("VmRSS");
    if (!kSanitized) {
      const rlim_t cap = StatusBytes("VmSize") + addressSpace;
      const rlimit limit{cap, cap};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    std::vector<std::uint64_t> values;
    try {
      values = work();
    } catch (...) {
      ::_exit(2);  // the child must never return into the test runner
    }
    const std::uint64_t peak = StatusBytes("VmHWM");
    values.push_back(peak > start ? peak - start : 0);
    const std::size_t bytes = values.size() * sizeof(std::uint64_t);
    const bool written = ::write(pipe[1], values.data(), bytes) == static_cast<ssize_t>(bytes);
    ::_exit(written ? 0 : 1);
  }
  ::close(pipe[1]);
  std::vector<std::uint64_t> values;
  std::uint64_t value = 0;
  while (child > 0 && ::read(pipe[0], &value, sizeof value) == sizeof value) values.push_back(value);
  ::close(pipe[0]);
  int status = 0;
  if (child > 0) ::waitpid(child, &status, 0);
  ChildOutcome outcome;
  if (child <= 0) {
    outcome.how = "could not start a child";
  } else if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    outcome.how = sig == SIGALRM ? "did not finish within " + std::to_string(seconds) + " s"
                                 : std::string("killed by signal ") + strsignal(sig);
  } else if (WEXITSTATUS(status) != 0 || values.empty()) {
    outcome.how = WEXITSTATUS(status) == 2 ? "threw an exception" : "exited without a result";
  } else {
    outcome.finished = true;
    outcome.memoryGrowth = values.back();
    values.pop_back();
    outcome.values = std::move(values);
  }
  return outcome;
}

// What became of one open and list-all in a child.
struct ListOutcome {
  ChildOutcome child;
  HRESULT load = E_FAIL;
  std::uint64_t functions = 0;
  bool listedAsExpected = false;

  bool finished() const { return child.finished; }
  std::uint64_t memoryGrowth() const { return child.memoryGrowth; }
};

inline std::ostream& operator<<(std::ostream& os, const ListOutcome& o) {
  if (!o.child.finished) return os << o.child.how;
  return os << "load 0x" << std::hex << static_cast<std::uint32_t>(o.load) << std::dec << ", "
            << o.functions << " functions, peak memory +" << o.child.memoryGrowth / kMiB << " MiB";
}

// Opens path as the window does, lists every function and reads all their
// properties (the source file pulls in the line tables and /names) in a
// bounded child; compares them with expected.
inline ListOutcome OpenAndListInChild(const std::string& path, const std::vector<SymbolFacts>& expected = {},
                                      unsigned seconds = 60) {
  ListOutcome outcome;
  outcome.child = RunBoundedInChild(seconds, [&] {
    std::vector<std::uint64_t> result(3);
    {
      DiaRef<IDiaDataSource> source;
      HRESULT hr = CreateDiaDataSource(&source);
      if (Succeeded(hr)) hr = source->loadDataFromPdb(Wide(path));
      result[0] = static_cast<std::uint32_t>(hr);
    }
    if (Succeeded(static_cast<HRESULT>(result[0]))) {
      DiaSymbol dia;
      if (dia.Open(Wide(path))) {
        const std::vector<SymbolFacts> listed = ReadAll(dia.FindFunctionsByName(L""));
        result[1] = listed.size();
        result[2] = listed == expected;
      }
    }
    return result;
  });
  if (outcome.child.finished) {
    outcome.load = static_cast<HRESULT>(static_cast<std::uint32_t>(outcome.child.values[0]));
    outcome.functions = outcome.child.values[1];
    outcome.listedAsExpected = outcome.child.values[2] != 0;
  }
  return outcome;
}

// What became of a program run in a child.
struct ProgramOutcome {
  bool finished = false;
  std::string how;            // when not finished
  int status = -1;            // exit status
  std::uint64_t outBytes = 0;  // written to stdout in all
  std::uint64_t outLines = 0;  // its line breaks
  std::string out;            // its first outKept bytes
  std::string err;
  std::uint64_t peakMemory = 0;  // the child's peak resident bytes
};

inline std::ostream& operator<<(std::ostream& os, const ProgramOutcome& o) {
  if (!o.finished) return os << o.how;
  return os << "exit " << o.status << ", " << o.outBytes << " bytes out, peak memory "
            << o.peakMemory / kMiB << " MiB, stderr: " << o.err;
}

// Runs program with args in a child that has `seconds` to finish and
// (outside the sanitizer) an address space of at most addressSpace bytes;
// stdout is drained as it comes, keeping its first outKept bytes.
inline ProgramOutcome RunProgramBounded(const std::string& program, const std::vector<std::string>& args,
                                        unsigned seconds, std::size_t outKept = 1 << 20,
                                        std::uint64_t addressSpace = std::uint64_t{4} << 30) {
  ProgramOutcome outcome;
  int out[2], err[2];
  if (::pipe(out) != 0) {
    outcome.how = "no pipe";
    return outcome;
  }
  if (::pipe(err) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    outcome.how = "no pipe";
    return outcome;
  }
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (const int fd : {out[0], out[1], err[0], err[1]}) ::close(fd);
    if (!kSanitized) {
      const rlimit limit{addressSpace, addressSpace};
      ::setrlimit(RLIMIT_AS, &limit);
    } else {
      // A small quarantine keeps the program's peak close to what it holds.
      const char* options = std::getenv("ASAN_OPTIONS");
      const std::string small = std::string(options ? options : "") + ":quarantine_size_mb=16";
      ::setenv("ASAN_OPTIONS", small.c_str(), 1);
    }
    ::alarm(seconds);  // kept across exec
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  // Stderr is short: read after stdout ends.
  char buffer[65536];
  for (ssize_t n; child > 0 && (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    outcome.outBytes += static_cast<std::uint64_t>(n);
    outcome.outLines += static_cast<std::uint64_t>(std::count(buffer, buffer + n, '\n'));
    if (outcome.out.size() < outKept) {
      outcome.out.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), outKept - outcome.out.size()));
    }
  }
  for (ssize_t n; child > 0 && (n = ::read(err[0], buffer, sizeof buffer)) > 0;) {
    outcome.err.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  rusage usage{};
  if (child <= 0 || ::wait4(child, &status, 0, &usage) != child) {
    outcome.how = "could not start or wait for a child";
  } else if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    outcome.how = sig == SIGALRM ? "did not finish within " + std::to_string(seconds) + " s"
                                 : std::string("killed by signal ") + strsignal(sig);
  } else {
    outcome.finished = true;
    outcome.status = WEXITSTATUS(status);
    outcome.peakMemory = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
  }
  return outcome;
}

}  // namespace sorvanta::testing
