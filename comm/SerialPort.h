#pragma once
// The serial port adapter: POSIX termios on real ports and pseudo-terminals. Every operation
// takes the adapter's own lock, so the sending thread and the window thread may share one port.
// Operations report a result code (0 success) and a message; none throws.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "comm/PortHolders.h"
#include "comm/FdTransport.h"

// RS-485 direction control by the kernel (TIOCSRS485), for adapters whose driver offers it: RTS
// is raised while sending, with delays before and after in milliseconds. Asked for by a fifth part
// of the settings text: "9600,E,8,1,RS485" or "9600,E,8,1,RS485:BEFORE:AFTER".
struct TRs485 {
  bool Enabled = false;
  int DelayBeforeMs = 0;  // 0..1000
  int DelayAfterMs = 0;   // 0..1000
  bool operator==(const TRs485&) const = default;
};

class TSerialPort : public TFdTransport {
 public:
  TSerialPort();
  ~TSerialPort() override;
  using TTransport::Open;
  using TTransport::WaitReadable;
  TSerialPort(const TSerialPort&) = delete;
  TSerialPort& operator=(const TSerialPort&) = delete;

  // `settings` as "9600,N,8,1"; `inputMode` 0 text, 1 binary (both hand over raw bytes).
  // Opens exclusively. The port is checked first (it exists, is a serial port, and no other
  // program holds it: flock, TIOCEXCL, a UUCP lock file, or an open descriptor), then the line
  // settings; on any refusal the port stays closed. While open, a UUCP lock file names this
  // process where a lock folder is writable.
  TOpenResult Open(const std::string& port, const std::string& settings, int inputMode) override;
  // The folders of UUCP lock files (default /var/lock and /run/lock, or $DLT645_LOCK_DIR).
  void SetLockFolders(std::vector<std::string> folders);
  int Close(std::string& error) override;
  int DiscardInput(std::string& error) override;
  int Write(const uint8_t* buf, int count, std::string& error) override;
  // Bytes waiting to be read; -1 with a message when the port failed (e.g. vanished).
  int InBufferCount(std::string& error) override;
  // Reads up to `count` waiting bytes into `out` (appending); returns the number read or -1.
  int Read(int count, std::vector<uint8_t>& out, std::string& error) override;
  // Waits until bytes are waiting, `timeoutMs` passed, or Interrupt() was called.
  // Returns 1 when bytes are waiting, 0 otherwise, -1 on a port failure (closed, vanished).
  // The adapter's lock is not held while waiting.
  int WaitReadable(int timeoutMs, std::string& error) override;
  // Ends a WaitReadable in progress (from any thread); a wait that starts after it ends at once.
  std::string Describe() const override;  // the device path
  double SendingMs(int count) const override;  // 0 on a pseudo-terminal
  // The open port's descriptor (-1 when closed), for a loop that waits on it beside other
  // descriptors and moves its bytes itself; the port keeps owning it.
  int NativeHandle() const;

  // Parses a settings text into its parts; false with a message when a value is not valid.
  // A fifth part, if any, must be the RS-485 one.
  static bool ParseSettings(const std::string& settings, int& baud, char& parity, int& dataBits,
                            double& stopBits, std::string& error);
  // The RS-485 part of a settings text (off when there is none); false with a message.
  static bool ParseRs485(const std::string& settings, TRs485& rs485, std::string& error);

 private:
  int FailLocked(const std::string& what, int err, std::string& error) const;
  TOpenResult CheckAvailable(const std::string& port);
  TOpenResult OpenDevice(const std::string& port, int& fd);
  TOpenResult ApplySettings(int fd, const std::string& port, const std::string& settings);
  TOpenResult ApplyRs485(int fd, const std::string& port, const std::string& settings);

  TUucpLock LockFile;
  std::vector<uint8_t> Rs485Before;  // the port's RS-485 state before Open changed it, restored at Close
};
