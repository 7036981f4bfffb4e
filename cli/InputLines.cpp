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

bool AnswerLines(Output& out, const LineAnswer& answer, const LinePrepare& prepare, std::size_t lookahead) {
  const bool flushBeforeWaiting = !IsRegularFile(STDIN_FILENO);
  std::vector<char> chunk(1 << 16);
  std::string pending;  // an unfinished line
  std::string joined;   // the chunk's first line, when it began in the last chunk
  std::vector<std::string_view> lines;
  if (!prepare) lookahead = 0;
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
    // The chunk's whole lines, then each answered in turn.
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
    for (std::size_t i = 0; i < lines.size() && i < lookahead; ++i) prepare(lines[i]);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      answer(lines[i], &out.buffer());
      out.EndRecord();
      if (lookahead > 0 && i + lookahead < lines.size()) prepare(lines[i + lookahead]);
    }
    if (flushBeforeWaiting && !out.Flush()) return false;
    if (out.failed()) return false;
  }
  if (!pending.empty()) answer(WithoutCarriageReturn(pending.data(), pending.size()), &out.buffer());
  return out.Flush();
}

}  // namespace sorvanta
