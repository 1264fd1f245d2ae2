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

class TTransport;
class TFrameSendThread;

// Result codes of Send, SendRaw, Transact and the exchange handler.
enum TChannelResult : int {
  crOk = 0,
  crPortClosed = 1,    // "串口未打开！"; also a frame that cannot be packed
  crTimeout = 2,       // "等待数据回应超时！"
  crInterrupted = 3,   // "通信被中断！": stopped while waiting, or dropped from the queue
  crSendError = 4,     // "发送报文发生错误：" + the error
  crInvalidReply = 5,  // "收到无效数据报文：" + what the frame check found wrong
};

// The preamble settings, read as one consistent copy at the moment a frame is sent.
struct TPreamble {
  bool UseLC = false;
  std::string LC;   // two hex digits
  int LCCount = 0;
};
using TPreambleSource = std::function<TPreamble()>;

// Called on the sending thread for the answer to a request: sent frame, reply frame, decoded
// body, UnPack's message and code. The main window installs its ShowReply here.
using TReplyHandler = std::function<void(const TKvFrame& sent, const TKvFrame& reply,
                                         const TFrameBody& body, const std::string& message, int code)>;

// Called exactly once for every frame the channel accepted, however its exchange ends: the sent
// frame (with its Serial), the result code and the channel's message (empty for 0: the answer
// shown, or no reply wanted). On the sending thread, except for frames dropped from the queue
// by a stop before they were sent: those are reported (code 3) on the thread that asked for the
// stop, after the queue lock is released. The reply handler runs before this for the same frame.
using TExchangeHandler = std::function<void(const TKvFrame& sent, int code, const std::string& message)>;

// Called on the sending thread for a checked, decoded frame that arrived during a wait but is
// not the answer to the request (protocol/ReplyMatch); `reason` says why. The wait goes on.
using TStrayHandler = std::function<void(const TKvFrame& sent, const TKvFrame& frame,
                                         const TFrameBody& body, const std::string& reason)>;

// What became of one received frame.
enum TFrameVerdict { fvAnswer, fvStray, fvInvalid };

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

  // On acceptance (0) `*serial` is the frame's exchange number, set before the frame is queued.
  int Send(const std::string& address, const TDltFrame& frame, const std::string& dataText,
           std::string& message, uint64_t* serial = nullptr);
  // Takes ownership of `bytes` only when the frame is accepted (result 0).
  int SendRaw(std::unique_ptr<uint8_t[]>& bytes, int count, const TDltFrame& frame,
              std::string& message, uint64_t* serial = nullptr);
  void SetStopRequest(bool value);
  bool GetStopRequest() const;

  void SetControl(TTransport* control);
  TTransport* Control() const;
  void SetReplyHandler(TReplyHandler handler);
  void SetExchangeHandler(TExchangeHandler handler);
  void SetStrayHandler(TStrayHandler handler);
  // The installed handlers, for a layer that stands in front of them for a while (suite/ChannelLink).
  TReplyHandler GetReplyHandler() const;
  TExchangeHandler GetExchangeHandler() const;
  TStrayHandler GetStrayHandler() const;

  // True while an exchange waits for its reply (after the write, before its end), with its
  // serial, the seconds waited so far and its timeout. Safe from any thread.
  bool WaitState(uint64_t& serial, double& elapsedSec, double& timeoutSec) const;

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
  // Checks, decodes and judges one received frame; for fvInvalid `message` is the exchange's.
  TFrameVerdict DoDealFrame(const TKvFrame& sent, const TKvFrame& reply, std::string& message);

  static constexpr int AccumulationSize = 65536;

 private:
  // The port check both ways of sending start with: code 1 and its message when it is closed.
  int CheckPortOpen(std::string& message) const;
  // Numbers the frame, clears the stop request, queues the frame and wakes the sending thread.
  void Enqueue(std::unique_ptr<TKvFrame> frame, uint64_t* serial);
  // The steps of one exchange (sending thread).
  std::unique_ptr<TKvFrame> TakeNext();
  int RunExchange(TKvFrame& frame, std::string& message);
  void Report(const TKvFrame& frame, int code, const std::string& message);
  void ReportDropped(std::vector<std::unique_ptr<TKvFrame>> frames);
  bool AwaitLink(TTransport& port, TKvFrame& frame, std::string& message);
  std::vector<uint8_t> TransmitData(const TKvFrame& frame);
  void WriteTransmit(TTransport& port, TKvFrame& frame, const std::vector<uint8_t>& transmit);
  int AwaitAnswer(TTransport& port, TKvFrame& frame, std::string& message);
  int ReadAndScan(TTransport& port, TKvFrame& frame, std::string& message);
  int DealCandidate(TKvFrame& frame, std::string& message);

  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};
