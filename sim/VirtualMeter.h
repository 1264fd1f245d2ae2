#pragma once
// A virtual DL/T 645-2007 meter on the far end of a pseudo-terminal. It answers frames like a real
// meter (reads, follow-up frames, writes with a password, addresses, relays, a collector) and
// answers plain text lines for the interactive command window. Faults can be switched on at run
// time so that clients can be tested against every way a line goes wrong.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct TMeterFaults {
  int DelayMs = 0;            // wait before each reply
  bool Noise = false;         // random bytes (with a stray 68H) before the reply
  int SplitPieces = 0;        // > 1: the reply is written in this many pieces
  int SplitPauseMs = 0;       // pause between the pieces
  bool BadChecksum = false;   // the reply's checksum is off by one
  bool BadEndByte = false;    // the reply ends with something other than 16H
  bool NoReply = false;       // requests are read but never answered
  int GarbageBurstBytes = 0;  // > 0: that many random non-frame bytes before the reply
  bool AppLayerTimeout = false;  // the reply's control byte is C0H (checksum still good)
  bool LateReply = false;     // a meter one behind: each reply is preceded by the reply to the
                              // previous request, so that one arrives after the next request
  std::string ReplyFrom{};    // 12 digits: replies carry this address instead of the meter's
  // Faults of the meter's own rules, each caught by one case of the conformance suite.
  bool AnswerAnyAddress = false;   // answers frames for other addresses (with its own)
  bool ShortEnergy = false;        // energy readings one byte short (a wrong data length)
  bool AnswerBadChecksum = false;  // answers frames whose checksum is wrong
  bool IgnoreShortened = false;    // does not answer a shortened address
};

struct TMeterOptions {
  std::string Address = "000000000001";  // 12 digits, display order
  std::string Password = "26404915";     // 8 hex digits: level byte first, then the code
  int PreambleCount = 4;                 // FE bytes before each reply
  // The meter's response time: from the request's last byte to the reply's first. A meter waits
  // at least 20 ms so that the master can turn its RS-485 line round; 0 answers at once.
  int ResponseMs = 0;
  TMeterFaults Faults;
  std::string LinkPath;                  // optional symlink to the pty slave
  std::string CollectorAddress = "000000009999";  // address of the collector in front of it
  int SlowCommandMs = 5000;              // delay of the slow text command's result
  // Readings set from the start (--set, --values): identifier -> data in wire order, as
  // ParseReading gives it. Held as given; the date and the time set the running clock.
  std::map<uint32_t, std::vector<uint8_t>> Values;
  int PowerCutSec = 0;  // > 0: the meter starts after a power cut this long (a power-down record)
};

class TVirtualMeter {
 public:
  explicit TVirtualMeter(TMeterOptions options);
  ~TVirtualMeter();
  TVirtualMeter(const TVirtualMeter&) = delete;
  TVirtualMeter& operator=(const TVirtualMeter&) = delete;

  // Opens the pseudo-terminal, creates the link (if any) and starts answering.
  bool Start(std::string& error);
  // Stops answering, closes the pseudo-terminal and removes the link. Safe to call twice.
  void Stop();
  // The path a client opens (the pty slave, e.g. /dev/pts/7).
  std::string PortPath() const;

  void SetFaults(const TMeterFaults& faults);
  // Every byte the meter has received since the start or the last ClearReceived().
  std::vector<uint8_t> ReceivedBytes() const;
  void ClearReceived();
  // Replies written so far: frames and text answers (a withheld reply does not count).
  int RepliesSent() const;
  // Taken right after the last byte of the last reply was written.
  std::chrono::steady_clock::time_point LastReplyWritten() const;
  // Writes bytes to the client as they are (late replies, garbage).
  void WriteRaw(const std::vector<uint8_t>& bytes);
  // Simulates the device vanishing: the master side closes, the client's next operation fails.
  void ClosePeer();

  // Additions beyond the first agreed set.
  std::string Address() const;   // the current address (it changes with 15H)
  std::string Password() const;  // the current password (it changes with 18H)
  // Called once per request and per reply with a one-line description (for --verbose).
  void SetTrace(std::function<void(const std::string&)> trace);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};
