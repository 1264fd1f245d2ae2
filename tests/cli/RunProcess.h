#pragma once
// Runs a program as a child process and collects what it printed and how it ended. Header-only,
// for the tests that drive `dlt645` the way a user's shell does.
//
//   TProcessResult r = RunProcess({DLT645_BIN, "encode", "--help"});
//   r.ExitCode  exit status; 128 + signal number when killed by a signal; 127 when the program
//               could not be executed; -1 when it could not be started (the reason is in Err)
//               or was killed after the timeout
//   r.Out/Err   everything written to stdout / stderr
//
// Optional standard input: RunProcess(argv, timeoutMs, "text for stdin").
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

struct TProcessResult {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

namespace run_process_detail {
inline void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}
}  // namespace run_process_detail

inline TProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutMs = 10000,
                                 const std::string& input = std::string()) {
  using run_process_detail::CloseFd;
  TProcessResult result;
  if (argv.empty()) {
    result.Err = "RunProcess: no program given";
    return result;
  }
  int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1}, inPipe[2] = {-1, -1};
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 ||
      ::pipe2(inPipe, O_CLOEXEC) != 0) {
    result.Err = std::string("RunProcess: pipe: ") + std::strerror(errno);
    for (int* p : {outPipe, errPipe, inPipe}) {
      CloseFd(p[0]);
      CloseFd(p[1]);
    }
    return result;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid < 0) {
    result.Err = std::string("RunProcess: fork: ") + std::strerror(errno);
    for (int* p : {outPipe, errPipe, inPipe}) {
      CloseFd(p[0]);
      CloseFd(p[1]);
    }
    return result;
  }
  if (pid == 0) {
    // Child: only async-signal-safe calls until exec.
    ::dup2(inPipe[0], STDIN_FILENO);
    ::dup2(outPipe[1], STDOUT_FILENO);
    ::dup2(errPipe[1], STDERR_FILENO);
    ::signal(SIGPIPE, SIG_DFL);
    ::execv(args[0], args.data());
    const char msg[] = "RunProcess: exec failed\n";
    ssize_t ignored = ::write(STDERR_FILENO, msg, sizeof msg - 1);
    (void)ignored;
    ::_exit(127);
  }
  CloseFd(inPipe[0]);
  CloseFd(outPipe[1]);
  CloseFd(errPipe[1]);

  // Hand over the input, then close stdin so the child sees its end.
  size_t written = 0;
  ::fcntl(inPipe[1], F_SETFL, O_NONBLOCK);
  if (!input.empty()) ::signal(SIGPIPE, SIG_IGN);  // a child that exits early must not kill us
  if (input.empty()) CloseFd(inPipe[1]);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool timedOut = false;
  char buf[4096];
  while (outPipe[0] >= 0 || errPipe[0] >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd fds[3];
    int n = 0;
    int outIdx = -1, errIdx = -1, inIdx = -1;
    if (outPipe[0] >= 0) { outIdx = n; fds[n++] = {outPipe[0], POLLIN, 0}; }
    if (errPipe[0] >= 0) { errIdx = n; fds[n++] = {errPipe[0], POLLIN, 0}; }
    if (inPipe[1] >= 0) { inIdx = n; fds[n++] = {inPipe[1], POLLOUT, 0}; }
    int rc = ::poll(fds, n, static_cast<int>(left));
    if (rc < 0) {
      if (errno == EINTR) continue;
      break;
    }
    auto drain = [&](int idx, int& fd, std::string& into) {
      if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) return;
      ssize_t got = ::read(fd, buf, sizeof buf);
      if (got > 0) {
        into.append(buf, static_cast<size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        CloseFd(fd);
      }
    };
    drain(outIdx, outPipe[0], result.Out);
    drain(errIdx, errPipe[0], result.Err);
    if (inIdx >= 0 && (fds[inIdx].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = (fds[inIdx].revents & POLLOUT)
                        ? ::write(inPipe[1], input.data() + written, input.size() - written)
                        : -1;
      if (put > 0) written += static_cast<size_t>(put);
      if (put < 0 && errno != EAGAIN && errno != EINTR) CloseFd(inPipe[1]);
      if (written >= input.size()) CloseFd(inPipe[1]);
    }
  }
  CloseFd(inPipe[1]);
  CloseFd(outPipe[0]);
  CloseFd(errPipe[0]);

  int status = 0;
  if (timedOut) {
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.ExitCode = -1;
    result.Err += "\nRunProcess: killed after " + std::to_string(timeoutMs) + " ms";
    return result;
  }
  // Both pipes are closed; the child may still be running (it closed them itself): wait for it
  // within what is left of the time allowed.
  for (;;) {
    pid_t w = ::waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) {
      result.ExitCode = -1;
      return result;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      result.ExitCode = -1;
      result.Err += "\nRunProcess: killed after " + std::to_string(timeoutMs) + " ms";
      return result;
    }
    ::usleep(1000);
  }
  if (WIFEXITED(status)) {
    result.ExitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.ExitCode = 128 + WTERMSIG(status);
  }
  return result;
}
