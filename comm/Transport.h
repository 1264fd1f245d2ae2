#pragma once
// The link under the channel: one small interface that a local serial port and a network link
// both offer, so that the channel, the command window's exchange and `dlt645` never know which
// one they have. Every operation takes the transport's own lock; operations report a result
// code (0 success) and a message, and none throws.
#include <cstdint>
#include <string>
#include <vector>

// Why an open was refused, so that a window can tell the user in its own words.
enum class TOpenRefusal {
  None,         // the link is open
  Unavailable,  // missing, not a serial port, already open, held elsewhere, refused, unresolved
  Settings,     // the port is there and free, but its line cannot take the settings asked for
};

struct TOpenResult {
  TOpenRefusal Refusal = TOpenRefusal::None;
  std::string Message;  // the transport's message; empty when the link opened
  std::string Detail;   // a second line for the user where one is known, e.g. who holds the port
  bool Opened() const { return Refusal == TOpenRefusal::None; }
};

class TTransport {
 public:
  virtual ~TTransport() = default;

  // `settings` as "9600,N,8,1"; `inputMode` 0 text, 1 binary (both hand over raw bytes).
  virtual TOpenResult Open(const std::string& port, const std::string& settings, int inputMode) = 0;
  // The same, as a result code (0 opened, 1 refused) and the message.
  int Open(const std::string& port, const std::string& settings, int inputMode, std::string& error);
  virtual int Close(std::string& error) = 0;
  virtual bool PortOpen() const = 0;
  virtual std::string PortName() const = 0;
  virtual std::string Settings() const = 0;  // the settings text of the open link
  virtual int InputMode() const = 0;         // 0 text, 1 binary; the bytes handed over are the same
  virtual int DiscardInput(std::string& error) = 0;
  virtual int Write(const uint8_t* buf, int count, std::string& error) = 0;
  // Bytes waiting to be read; -1 with a message when the link failed (vanished, closed by the peer).
  virtual int InBufferCount(std::string& error) = 0;
  // Reads up to `count` waiting bytes into `out` (appending); returns the number read or -1.
  virtual int Read(int count, std::vector<uint8_t>& out, std::string& error) = 0;
  // Waits until bytes are waiting, `timeoutMs` passed, or Interrupt() was called. Returns 1 when
  // bytes are waiting, 0 otherwise, -1 on a link failure. The transport's lock is not held while
  // waiting.
  virtual int WaitReadable(int timeoutMs, std::string& error) = 0;
  int WaitReadable(int timeoutMs);
  // Ends a WaitReadable in progress (from any thread); a wait that starts after it ends at once.
  virtual void Interrupt() = 0;
  // What the link is, for the user: the device path or the network name and peer.
  virtual std::string Describe() const = 0;
  // True once the open link has failed for good (device gone, peer closed or reset); cleared by
  // Close and by the next Open.
  virtual bool Lost() const = 0;
  // Waits up to `timeoutMs` until the link carries bytes: open, not lost, and (for a link that
  // waits for a device to dial in) connected. Ends early on Interrupt(). A link that does not
  // reopen or connect by itself answers at once.
  virtual bool WaitLinked(int timeoutMs) {
    (void)timeoutMs;
    return PortOpen() && !Lost();
  }
  // How long the meter's line takes to carry `count` bytes once they are written: their
  // characters at the line's baud rate on a local serial port; 0 on a pseudo-terminal, and on a
  // network link, where what the server's own port does with them is not known here.
  virtual double SendingMs(int count) const {
    (void)count;
    return 0;
  }
};

// The time `count` characters take on a line with `settings` ("9600,E,8,1"): a start bit, the
// data bits, the parity bit if any and the stop bits each; 0 when the settings are not valid.
double LineSendingMs(const std::string& settings, int count);
