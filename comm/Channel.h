#pragma once
// The one path by which commands reach the meter and replies come back. The window thread hands
// in a command and returns at once; the sending thread transmits it, waits for one reply frame,
// checks and decodes it and hands it to the installed reply handler.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "comm/FrameInfo.h"
#include "protocol/Types.h"

class TSerialPort;
class TFrameSendThread;

// Result codes of Send, SendRaw and Transact.
enum TChannelResult : int { crOk = 0, crPortClosed = 1, crTimeout = 2, crInterrupted = 3 };

// The preamble settings, read as one consistent copy at the moment a frame is sent.
struct TPreamble {
  bool UseLC = false;
  std::string LC;   // two hex digits
  int LCCount = 0;
};
using TPreambleSource = std::function<TPreamble()>;

// Called on the sending thread for each valid reply: sent frame, reply frame, decoded body,
// UnPack's message and code. The main window installs its ShowReply here.
using TReplyHandler = std::function<void(const TKvFrame& sent, const TKvFrame& reply,
                                         const TFrameBody& body, const std::string& message, int code)>;

// Called on the sending thread when an exchange ends, however it ends: the sent frame, the
// result code and message of the exchange (0 with a reply or without waiting, 1 port closed or
// an error caught while sending, 2 timeout, 3 interrupted). Frames dropped from the queue by a
// stop request never reach an exchange and are not reported.
using TExchangeHandler = std::function<void(const TKvFrame& sent, int code, const std::string& message)>;

class TChannel {
 public:
  explicit TChannel(TPreambleSource preamble);
  ~TChannel();  // requests termination, ends a wait in progress, joins the sending thread
  TChannel(const TChannel&) = delete;
  TChannel& operator=(const TChannel&) = delete;

  void Init();
  void Start();
  // Orderly end: stop request, thread terminated and joined. Safe to call twice.
  void Shutdown();

  int Send(const std::string& address, const TDltFrame& frame, const std::string& dataText,
           std::string& message);
  // Takes ownership of `bytes` only when the frame is accepted (result 0).
  int SendRaw(std::unique_ptr<uint8_t[]>& bytes, int count, const TDltFrame& frame,
              std::string& message);
  void SetStopRequest(bool value);
  bool GetStopRequest() const;

  void SetControl(TSerialPort* control);
  TSerialPort* Control() const;
  void SetReplyHandler(TReplyHandler handler);
  void SetExchangeHandler(TExchangeHandler handler);

  // True while a frame is queued or an exchange is in progress; the command window refuses to
  // start its own exchange meanwhile.
  bool Busy() const;
  // Held by the sending thread for the whole of one exchange. The command window takes it
  // (try_lock) for its own exchange, so the two never use the port at the same time.
  std::mutex& ExchangeLock();
  // The Linux thread id of the sending thread once it runs (0 before); for measurements.
  int SendThreadId() const;

  // Sending thread only.
  void ProcessQueue();
  int Transact(TKvFrame& frame, std::string& message);
  void DoDealFrame(const TKvFrame& sent, const TKvFrame& reply);

  static constexpr int AccumulationSize = 65536;

 private:
  // The port check both ways of sending start with: code 1 and its message when it is closed.
  int CheckPortOpen(std::string& message) const;
  // Clears the stop request, queues the frame and wakes the sending thread.
  void Enqueue(std::unique_ptr<TKvFrame> frame);

  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};
