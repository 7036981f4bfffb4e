#pragma once

// Runs sorvanta-query as a child process with its three standard streams
// on pipes, as a script or a coprocess would.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <string>
#include <vector>

namespace sorvanta::testing {

struct QueryRun {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

class QueryProcess {
 public:
  // Starts program with args; stdin, stdout and stderr are pipes.
  QueryProcess(const std::string& program, const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    ::signal(SIGPIPE, SIG_IGN);  // a child that exits early must not kill the test
  }
  ~QueryProcess() {
    CloseInput();
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  QueryProcess(const QueryProcess&) = delete;
  QueryProcess& operator=(const QueryProcess&) = delete;

  bool started() const { return pid_ > 0; }

  void Write(const std::string& text) {
    std::size_t done = 0;
    while (in_ >= 0 && done < text.size()) {
      const ssize_t n = ::write(in_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  void CloseInput() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
  }

  // Reads stdout until it holds a full line or timeoutMs passes; returns
  // the line without its newline, or "<timeout>".
  std::string ReadLine(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const std::size_t newline = lineBuffer_.find('\n');
      if (newline != std::string::npos) {
        std::string line = lineBuffer_.substr(0, newline);
        lineBuffer_.erase(0, newline + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return "<timeout>";
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(out_, buffer, sizeof buffer);
      if (n <= 0) return "<eof>";
      lineBuffer_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  // Feeds input (all of it, while draining the outputs), closes stdin and
  // waits for the exit.
  QueryRun Finish(const std::string& input = "") {
    QueryRun run;
    run.out = lineBuffer_;
    std::size_t written = 0;
    if (input.empty()) CloseInput();
    while (out_ >= 0 || err_ >= 0) {
      std::vector<pollfd> fds;
      if (out_ >= 0) fds.push_back({out_, POLLIN, 0});
      if (err_ >= 0) fds.push_back({err_, POLLIN, 0});
      if (in_ >= 0) fds.push_back({in_, POLLOUT, 0});
      if (::poll(fds.data(), fds.size(), 60000) <= 0) break;
      for (const pollfd& p : fds) {
        if (p.revents == 0) continue;
        if (p.fd == in_) {
          // No more than the pipe surely holds: a longer write would block
          // until the child reads it, while the child waits for its output
          // to be read.
          const ssize_t n = ::write(in_, input.data() + written, std::min<std::size_t>(input.size() - written, PIPE_BUF));
          if (n > 0) written += static_cast<std::size_t>(n);
          if (n < 0 || written == input.size()) CloseInput();
          continue;
        }
        char buffer[65536];
        const ssize_t n = ::read(p.fd, buffer, sizeof buffer);
        std::string& to = p.fd == out_ ? run.out : run.err;
        if (n > 0) {
          to.append(buffer, static_cast<std::size_t>(n));
        } else {
          ::close(p.fd);
          (p.fd == out_ ? out_ : err_) = -1;
        }
      }
    }
    CloseInput();
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) {
      run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
    }
    return run;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string lineBuffer_;
};

inline QueryRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                           const std::string& input = "") {
  QueryProcess process(program, args);
  return process.Finish(input);
}

}  // namespace sorvanta::testing
