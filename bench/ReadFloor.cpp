// The floor of the whole-process figures: a program that reads the whole
// file into fresh memory and exits, as any reader that does not map the
// file must do at least. No Qt, no LLVM, so its start costs what a small
// program's does.
//
//   sorvanta_read_floor FILE

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) return 1;
  const auto size = static_cast<std::size_t>(info.st_size);
  std::unique_ptr<char, decltype(&std::free)> bytes(static_cast<char*>(std::malloc(size)), &std::free);
  if (!bytes) return 1;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, bytes.get() + done, size - done);
    if (n <= 0) return 1;
    done += static_cast<std::size_t>(n);
  }
  // A byte of what was read decides the status, so the read cannot be
  // left out.
  return bytes.get()[size / 2] == 0x7F ? 3 : 0;
}
