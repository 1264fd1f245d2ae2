#pragma once
// A pseudo-terminal for window tests that open a serial port, and a child process that holds a
// port the way another program would.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "comm/SerialPort.h"

class TTestPty {
 public:
  TTestPty() {
    Master = posix_openpt(O_RDWR | O_NOCTTY);
    if (Master >= 0 && grantpt(Master) == 0 && unlockpt(Master) == 0) {
      if (const char* name = ptsname(Master)) Slave = name;
    }
  }
  ~TTestPty() {
    if (Master >= 0) close(Master);
  }
  bool Valid() const { return !Slave.empty(); }
  std::string Slave;
  int Master = -1;
};

// Runs in a child process started by THoldingProcess: opens `port` with its own TSerialPort,
// writes '1' (or '0' on failure) to stdout and keeps the port until stdin closes.
inline int HoldPortMain(const char* port) {
  TSerialPort holder;
  std::string error;
  const char ok = holder.Open(port, "9600,N,8,1", 1, error) == 0 ? '1' : '0';
  (void)!write(1, &ok, 1);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  return 0;
}

// Another program holding a port: this test program run again with "--hold-port PORT" (a fresh
// process, so nothing of this one's threads is inherited). Released when destroyed.
class THoldingProcess {
 public:
  explicit THoldingProcess(const std::string& port) {
    int ready[2], quit[2];
    // Close-on-exec, so that the child keeps only its stdin and stdout copies of the pipes.
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(quit, O_CLOEXEC) != 0) return;
    std::string self = "/proc/self/exe";
    char arg0[] = "test_ui", arg1[] = "--hold-port";
    std::string portArg = port;
    char* argv[] = {arg0, arg1, portArg.data(), nullptr};
    Pid = fork();
    if (Pid == 0) {
      dup2(quit[0], 0);
      dup2(ready[1], 1);
      execv(self.c_str(), argv);
      _exit(127);
    }
    close(ready[1]);
    close(quit[0]);
    QuitFd = quit[1];
    char c = '0';
    Holding = read(ready[0], &c, 1) == 1 && c == '1';
    close(ready[0]);
  }
  ~THoldingProcess() {
    if (QuitFd >= 0) close(QuitFd);
    if (Pid > 0) waitpid(Pid, nullptr, 0);
  }
  bool Holding = false;
  pid_t Pid = -1;

 private:
  int QuitFd = -1;
};
