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

  // True while a frame is queued or an exchange is in progress; the command window refuses to
  // start its own exchange meanwhile.
  bool Busy() const;

  // Sending thread only.
  void ProcessQueue();
  int Transact(TKvFrame& frame, std::string& message);
  void DoDealFrame(const TKvFrame& sent, const TKvFrame& reply);

  static constexpr int AccumulationSize = 65536;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};
