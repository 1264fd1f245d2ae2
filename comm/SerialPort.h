#pragma once
// The serial port adapter: POSIX termios on real ports and pseudo-terminals. Every operation
// takes the adapter's own lock, so the sending thread and the window thread may share one port.
// Operations report a result code (0 success) and a message; none throws.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class TSerialPort {
 public:
  TSerialPort();
  ~TSerialPort();
  TSerialPort(const TSerialPort&) = delete;
  TSerialPort& operator=(const TSerialPort&) = delete;

  // `settings` as "9600,N,8,1"; `inputMode` 0 text, 1 binary (both hand over raw bytes).
  // Opens exclusively: a missing port or one held by another program fails with a message.
  int Open(const std::string& port, const std::string& settings, int inputMode, std::string& error);
  int Close(std::string& error);
  bool PortOpen() const;
  std::string PortName() const;
  std::string Settings() const;  // the settings text of the open port
  int InputMode() const;         // 0 text, 1 binary; the bytes handed over are the same
  int DiscardInput(std::string& error);
  int Write(const uint8_t* buf, int count, std::string& error);
  // Bytes waiting to be read; -1 with a message when the port failed (e.g. vanished).
  int InBufferCount(std::string& error);
  // Reads up to `count` waiting bytes into `out` (appending); returns the number read or -1.
  int Read(int count, std::vector<uint8_t>& out, std::string& error);
  // Waits until bytes are waiting, `timeoutMs` passed, or Interrupt() was called.
  // Returns 1 when bytes are waiting, 0 otherwise, -1 on a port failure (closed, vanished).
  // The adapter's lock is not held while waiting.
  int WaitReadable(int timeoutMs);
  int WaitReadable(int timeoutMs, std::string& error);
  // Ends a WaitReadable in progress (from any thread); a wait that starts after it ends at once.
  void Interrupt();

  // Parses a settings text into its parts; false with a message when a value is not valid.
  static bool ParseSettings(const std::string& settings, int& baud, char& parity, int& dataBits,
                            double& stopBits, std::string& error);

 private:
  int FailLocked(const std::string& what, int err, std::string& error) const;
  void DrainWake();

  mutable std::recursive_mutex Lock;
  std::condition_variable_any WaitersDone;
  int Fd = -1;
  int WakeFd[2] = {-1, -1};
  int Waiters = 0;  // threads inside WaitReadable's poll on Fd
  int Mode = 1;
  std::string Name;
  std::string SettingsText;
};
