#pragma once
// Helpers of the tests and benchmarks that run programs beside them and talk to them over
// 127.0.0.1: a free loopback port, and a long-running child whose output is read as it comes.
// Header-only.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

// `count` different TCP ports on 127.0.0.1 that nothing listens on at the moment of the call
// (each is held until all are chosen, so that the system never hands out one twice).
inline std::vector<int> FreeLoopbackPorts(int count) {
  std::vector<int> fds, ports;
  for (int i = 0; i < count; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    fds.push_back(fd);
    ports.push_back(ntohs(addr.sin_port));
  }
  for (int fd : fds) ::close(fd);
  return ports;
}

inline int FreeLoopbackPort() { return FreeLoopbackPorts(1)[0]; }

// A long-running child with its standard output and error on one pipe; killed when it goes.
class TBackground {
 public:
  // `runtimeDir`, when given, is the child's XDG_RUNTIME_DIR.
  explicit TBackground(const std::vector<std::string>& argv, const std::string& runtimeDir = "") {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> env;
    if (!runtimeDir.empty()) env.push_back("XDG_RUNTIME_DIR=" + runtimeDir);
    for (char** e = environ; *e; ++e)
      if (runtimeDir.empty() || std::string(*e).rfind("XDG_RUNTIME_DIR=", 0) != 0) env.push_back(*e);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    Pid = ::fork();
    if (Pid == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(out[1], STDERR_FILENO);
      ::execve(args[0], args.data(), envp.data());
      ::_exit(127);
    }
    ::close(out[1]);
    Out = out[0];
  }
  ~TBackground() {
    Kill();
    if (Out >= 0) ::close(Out);
  }
  TBackground(const TBackground&) = delete;
  TBackground& operator=(const TBackground&) = delete;

  // Ends the child as a crash or a pulled cable would: no goodbye.
  void Kill() {
    if (Pid <= 0) return;
    ::kill(Pid, SIGKILL);
    ::waitpid(Pid, nullptr, 0);
    Pid = -1;
  }

  // Reads the output until it holds `text`; false after `ms`.
  bool WaitFor(const std::string& text, int ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (Text.find(text) == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) return false;
      pollfd in{Out, POLLIN, 0};
      if (::poll(&in, 1, static_cast<int>(left)) <= 0) return false;
      char chunk[512];
      ssize_t n = ::read(Out, chunk, sizeof chunk);
      if (n <= 0) return false;
      Text.append(chunk, static_cast<size_t>(n));
    }
    return true;
  }

  // The value after `label` on its line.
  std::string Field(const std::string& label) const {
    size_t at = Text.find(label);
    if (at == std::string::npos) return "";
    at += label.size();
    return Text.substr(at, Text.find('\n', at) - at);
  }

  // Sends `signal` and returns the exit status, or -1 if the child does not end within `ms`.
  int Stop(int signal, int ms = 5000) {
    ::kill(Pid, signal);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(Pid, &status, WNOHANG) == Pid) {
        Pid = -1;
        WaitFor("\x01", 200);  // collect the last words
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      ::usleep(10000);
    }
    return -1;
  }

  pid_t Pid = -1;
  int Out = -1;
  std::string Text;
};
