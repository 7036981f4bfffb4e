#include "InputLines.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace sorvanta {

namespace {

bool IsRegularFile(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

std::string_view WithoutCarriageReturn(const char* text, std::size_t size) {
  if (size > 0 && text[size - 1] == '\r') --size;
  return std::string_view(text, size);
}

}  // namespace

bool AnswerLineBatches(Output& out, const BatchAnswer& answer) {
  const bool flushBeforeWaiting = !IsRegularFile(STDIN_FILENO);
  // Large reads make large batches, which are answered fastest.
  std::vector<char> chunk(4 << 20);
  std::string pending;  // an unfinished line
  std::string joined;   // the chunk's first line, when it began in the last chunk
  std::vector<std::string_view> lines;
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      out.Flush();
      std::fprintf(stderr, "sorvanta-query: cannot read standard input: %s\n", std::strerror(error));
      return false;
    }
    if (got == 0) break;  // end of input
    lines.clear();
    const char* p = chunk.data();
    const char* end = p + got;
    while (p < end) {
      const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      if (!newline) {
        pending.append(p, end);
        break;
      }
      if (pending.empty()) {
        lines.push_back(WithoutCarriageReturn(p, static_cast<std::size_t>(newline - p)));
      } else {
        pending.append(p, newline);
        joined.swap(pending);
        pending.clear();
        lines.push_back(WithoutCarriageReturn(joined.data(), joined.size()));
      }
      p = newline + 1;
    }
    if (!lines.empty()) answer(lines, out);
    if (flushBeforeWaiting && !out.Flush()) return false;
    if (out.failed()) return false;
  }
  if (!pending.empty()) {
    lines.assign(1, WithoutCarriageReturn(pending.data(), pending.size()));
    answer(lines, out);
  }
  return out.Flush();
}

}  // namespace sorvanta
