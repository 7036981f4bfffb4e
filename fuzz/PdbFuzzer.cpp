// libFuzzer target: arbitrary bytes reach the symbol component exactly as a
// user's file would, through a path to a regular file.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "SymbolWorkout.h"

namespace {

// One in-memory regular file for the whole run, rewritten for every input.
int InputFile() {
  static const int fd = memfd_create("sorvanta-fuzz-input.pdb", MFD_CLOEXEC);
  return fd;
}

}  // namespace

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
  sorvanta::WorkOutSymbolFile("/proc/self/fd/" + std::to_string(fd), seed);
  return 0;
}
