#pragma once
// The serial port adapter: POSIX termios on real ports and pseudo-terminals. Every operation
// takes the adapter's own lock, so the sending thread and the window thread may share one port.
// Operations report a result code (0 success) and a message; none throws.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class TSerialPort {
 public:
  TSerialPort() = default;
  ~TSerialPort();
  TSerialPort(const TSerialPort&) = delete;
  TSerialPort& operator=(const TSerialPort&) = delete;

  // `settings` as "9600,N,8,1"; `inputMode` 0 text, 1 binary (both hand over raw bytes).
  // Opens exclusively: a missing port or one held by another program fails with a message.
  int Open(const std::string& port, const std::string& settings, int inputMode, std::string& error);
  int Close(std::string& error);
  bool PortOpen() const;
  std::string PortName() const;
  int DiscardInput(std::string& error);
  int Write(const uint8_t* buf, int count, std::string& error);
  // Bytes waiting to be read; -1 with a message when the port failed (e.g. vanished).
  int InBufferCount(std::string& error);
  // Reads up to `count` waiting bytes into `out` (appending); returns the number read or -1.
  int Read(int count, std::vector<uint8_t>& out, std::string& error);
  // Waits until bytes are waiting, `timeoutMs` passed, or Interrupt() was called.
  // Returns 1 when bytes are waiting, 0 otherwise, -1 on a port failure.
  int WaitReadable(int timeoutMs);
  // Ends a WaitReadable in progress (from any thread).
  void Interrupt();

 private:
  mutable std::recursive_mutex Lock;
  int Fd = -1;
  int WakeFd[2] = {-1, -1};
  std::string Name;
};
