// libFuzzer target: arbitrary bytes reach the symbol component exactly as a
// user's file would, through a path to a regular file.
//
// Besides crashes, an input is a finding when the heap grows by more than
// 8 bytes per input byte and 16 MiB while it is worked out: the reader
// keeps no more than the bytes it reads and a few dozen bytes per record,
// so anything past that is a structure sized by a count the file declares.
// The sanitizer's allocator hooks keep the live and peak heap bytes, of
// every thread (the loader's too); libFuzzer's own -rss_limit_mb only
// guards the process as a whole.

#include <sanitizer/allocator_interface.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SymbolWorkout.h"

namespace {

constexpr std::int64_t kBytesPerInputByte = 8;
constexpr std::int64_t kFixedBytes = std::int64_t{16} << 20;

std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> peakBytes{0};

void OnMalloc(const volatile void*, std::size_t size) {
  const std::int64_t now = liveBytes.fetch_add(static_cast<std::int64_t>(size), std::memory_order_relaxed) +
                           static_cast<std::int64_t>(size);
  std::int64_t peak = peakBytes.load(std::memory_order_relaxed);
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void OnFree(const volatile void* block) {
  liveBytes.fetch_sub(static_cast<std::int64_t>(__sanitizer_get_allocated_size(block)),
                      std::memory_order_relaxed);
}

// One in-memory regular file for the whole run, rewritten for every input.
int InputFile() {
  static const int fd = memfd_create("sorvanta-fuzz-input.pdb", MFD_CLOEXEC);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = InputFile();
  if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) return 0;
    done += static_cast<std::size_t>(n);
  }
  std::uint64_t seed = 0;
  std::memcpy(&seed, data + (size >= 8 ? size - 8 : 0), size >= 8 ? 8 : size);
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const std::int64_t start = liveBytes.load();
  peakBytes.store(start);
  sorvanta::WorkOutSymbolFile(path, seed);
  const std::int64_t growth = peakBytes.load() - start;
  const std::int64_t bound = kBytesPerInputByte * static_cast<std::int64_t>(size) + kFixedBytes;
  if (growth > bound) {
    std::fprintf(stderr, "==%d== the heap grew by %lld bytes for an input of %zu bytes (bound %lld)\n",
                 static_cast<int>(getpid()), static_cast<long long>(growth), size, static_cast<long long>(bound));
    std::abort();
  }
  return 0;
}
