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

// A child process that opens `port` with its own TSerialPort and keeps it open until destroyed.
class THoldingProcess {
 public:
  explicit THoldingProcess(const std::string& port) {
    int ready[2], quit[2];
    if (pipe(ready) != 0 || pipe(quit) != 0) return;
    Pid = fork();
    if (Pid == 0) {
      close(ready[0]);
      close(quit[1]);
      TSerialPort holder;
      std::string error;
      const char ok = holder.Open(port, "9600,N,8,1", 1, error) == 0 ? '1' : '0';
      (void)!write(ready[1], &ok, 1);
      char c;
      (void)!read(quit[0], &c, 1);  // returns when the parent closes its end
      _exit(0);
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

 private:
  pid_t Pid = -1;
  int QuitFd = -1;
};
