// The channel: queues commands from the window thread, and on the sending thread transmits
// each one, waits for its reply, assembles, checks and decodes it.
#include "comm/Channel.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <stdexcept>

#include "comm/FrameSendThread.h"
#include "comm/ReplyScanner.h"
#include "comm/Transport.h"
#include "protocol/LogSink.h"
#include "protocol/Protocol.h"
#include "protocol/ReplyMatch.h"
#include "protocol/StringUtil.h"

namespace {
const char* const kPortNotOpen = "串口未打开！";
const char* const kTimeout = "等待数据回应超时！";
const char* const kInterrupted = "通信被中断！";
const char* const kSendSource = "TFrameSendThread.Execute";
const char* const kRecvSource = "TFrameRecvThread.Execute";
const char* const kDealSource = "TChannel.DoDealFrame";
const char* const kSent = "发送报文：";
const char* const kReceived = "接收报文：";
const char* const kInvalid = "收到无效数据报文：";
const char* const kSendError = "发送报文发生错误：";
const char* const kTransactSource = "TChannel.Transact";
const char* const kStrayFrame = "，报文：";
const char* const kUnknownError = "未知错误";
const char* const kEmptyFrame = "报文为空";
const char* const kLinkDown = "通信链路已断开，正在重连，报文未发送";

constexpr int kLinkSliceMs = 100;  // a wait for the link looks at the stop request this often

constexpr int kPollMs = 20;
// Internal results of one look at the line while waiting (never reported).
constexpr int kWaitOn = -1;       // bytes read, no answer among them yet
constexpr int kNothingRead = -2;  // no bytes were waiting
// The idle wait ends when a frame is queued or the channel shuts down; this bound only guards
// against a lost notification.
constexpr auto kIdleBound = std::chrono::seconds(5);

// The preamble byte: the settings' LC text read as a hexadecimal number.
uint8_t PreambleByte(const std::string& lc) {
  bool ok = !lc.empty() && lc.size() <= 8;
  uint32_t value = 0;
  for (char c : lc) {
    int d = (c >= '0' && c <= '9') ? c - '0'
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10
            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                     : -1;
    if (d < 0) {
      ok = false;
      break;
    }
    value = value * 16 + static_cast<uint32_t>(d);
  }
  if (!ok) throw std::runtime_error("前导字节“" + lc + "”不是有效的十六进制数");
  return static_cast<uint8_t>(value & 0xFF);
}
}  // namespace

struct TChannel::TImpl {
  explicit TImpl(TPreambleSource preamble)
      : Preamble(std::move(preamble)), Scanner(AccumulationSize) {}

  TPreambleSource Preamble;
  std::atomic<bool> StopRequest{false};
  TFrameBuffer SendQueue;
  std::atomic<TTransport*> Control{nullptr};
  std::unique_ptr<TFrameSendThread> SendThread;

  std::mutex HandlerLock;
  TReplyHandler ReplyHandler;
  TExchangeHandler ExchangeHandler;
  TStrayHandler StrayHandler;

  std::atomic<uint64_t> LastSerial{0};
  // The exchange that waits for its reply, for WaitState.
  mutable std::mutex WaitLock;
  bool Waiting = false;
  uint64_t WaitSerial = 0;
  std::chrono::steady_clock::time_point WaitStart{};
  double WaitTimeout = 0;

  std::mutex WakeLock;
  std::condition_variable Wake;
  std::atomic<bool> Terminating{false};
  std::atomic<bool> InFlight{false};
  std::mutex Exchange;

  // Sending thread only.
  TReplyScanner Scanner;
  std::vector<uint8_t> ReadBuf;
  std::vector<uint8_t> ReplyBytes;
  bool OverflowLogged = false;

  void WakeSender() {
    { std::lock_guard<std::mutex> guard(WakeLock); }
    Wake.notify_all();
  }

  void MarkWaiting(uint64_t serial, double timeoutSec) {
    std::lock_guard<std::mutex> guard(WaitLock);
    Waiting = true;
    WaitSerial = serial;
    WaitStart = std::chrono::steady_clock::now();
    WaitTimeout = timeoutSec;
  }
  void MarkIdle() {
    std::lock_guard<std::mutex> guard(WaitLock);
    Waiting = false;
  }
  template <class THandler>
  THandler Handler(const THandler& installed) {
    std::lock_guard<std::mutex> guard(HandlerLock);
    return installed;
  }
};

TChannel::TChannel(TPreambleSource preamble) : Impl(std::make_unique<TImpl>(std::move(preamble))) {}

TChannel::~TChannel() { Shutdown(); }

void TChannel::Init() {
  if (!Impl->SendThread) Impl->SendThread = std::make_unique<TFrameSendThread>(*this);
  Impl->StopRequest = false;
  Impl->Terminating = false;
}

void TChannel::Start() {
  if (!Impl->SendThread) Init();
  Impl->SendThread->Start();
}

void TChannel::Shutdown() {
  TImpl& I = *Impl;
  I.Terminating = true;
  SetStopRequest(true);  // drops what is queued and ends a wait in progress
  if (TTransport* port = I.Control.load()) port->Interrupt();
  I.WakeSender();
  if (I.SendThread) {
    I.SendThread->Terminate();
    I.SendThread->WaitFor();
  }
  // A frame queued while the stop was already set never met an exchange: report it too.
  ReportDropped(I.SendQueue.Clear());
}

int TChannel::CheckPortOpen(std::string& message) const {
  message.clear();
  TTransport* port = Impl->Control.load();
  if (port && port->PortOpen()) return crOk;
  message = kPortNotOpen;
  return crPortClosed;
}

void TChannel::Enqueue(std::unique_ptr<TKvFrame> frame, uint64_t* serial) {
  frame->Serial = ++Impl->LastSerial;
  if (serial) *serial = frame->Serial;
  SetStopRequest(false);
  Impl->SendQueue.Add(std::move(frame));
  Impl->WakeSender();
}

int TChannel::Send(const std::string& address, const TDltFrame& frame, const std::string& dataText,
                   std::string& message, uint64_t* serial) {
  if (int code = CheckPortOpen(message); code != crOk) return code;
  auto kv = std::make_unique<TKvFrame>();
  int code = TProtocol::Pack(address, frame, dataText, kv->Buf, kv->BufLen, message);
  if (code != 0) return code;
  kv->DltFrame = frame;
  Enqueue(std::move(kv), serial);
  return crOk;
}

int TChannel::SendRaw(std::unique_ptr<uint8_t[]>& bytes, int count, const TDltFrame& frame,
                      std::string& message, uint64_t* serial) {
  if (int code = CheckPortOpen(message); code != crOk) return code;
  if (!bytes || count <= 0) {
    message = kEmptyFrame;
    return crPortClosed;
  }
  auto kv = std::make_unique<TKvFrame>();
  kv->Buf = std::move(bytes);
  kv->BufLen = count;
  kv->DltFrame = frame;
  Enqueue(std::move(kv), serial);
  return crOk;
}

void TChannel::SetStopRequest(bool value) {
  if (Impl->StopRequest.exchange(value) == value) return;
  if (!value) return;
  std::vector<std::unique_ptr<TKvFrame>> dropped = Impl->SendQueue.Clear();
  if (TTransport* port = Impl->Control.load()) port->Interrupt();
  ReportDropped(std::move(dropped));
}

bool TChannel::GetStopRequest() const { return Impl->StopRequest.load(); }

void TChannel::SetControl(TTransport* control) { Impl->Control = control; }

TTransport* TChannel::Control() const { return Impl->Control.load(); }

void TChannel::SetReplyHandler(TReplyHandler handler) {
  std::lock_guard<std::mutex> guard(Impl->HandlerLock);
  Impl->ReplyHandler = std::move(handler);
}

void TChannel::SetExchangeHandler(TExchangeHandler handler) {
  std::lock_guard<std::mutex> guard(Impl->HandlerLock);
  Impl->ExchangeHandler = std::move(handler);
}

void TChannel::SetStrayHandler(TStrayHandler handler) {
  std::lock_guard<std::mutex> guard(Impl->HandlerLock);
  Impl->StrayHandler = std::move(handler);
}

TReplyHandler TChannel::GetReplyHandler() const { return Impl->Handler(Impl->ReplyHandler); }
TExchangeHandler TChannel::GetExchangeHandler() const { return Impl->Handler(Impl->ExchangeHandler); }
TStrayHandler TChannel::GetStrayHandler() const { return Impl->Handler(Impl->StrayHandler); }

bool TChannel::WaitState(uint64_t& serial, double& elapsedSec, double& timeoutSec) const {
  std::lock_guard<std::mutex> guard(Impl->WaitLock);
  if (!Impl->Waiting) return false;
  serial = Impl->WaitSerial;
  elapsedSec = std::chrono::duration<double>(std::chrono::steady_clock::now() - Impl->WaitStart).count();
  timeoutSec = Impl->WaitTimeout;
  return true;
}

bool TChannel::Busy() const { return Impl->InFlight.load() || Impl->SendQueue.Count() > 0; }

std::mutex& TChannel::ExchangeLock() { return Impl->Exchange; }

int TChannel::SendThreadId() const {
  return Impl->SendThread ? Impl->SendThread->ThreadId() : 0;
}

void TChannel::Report(const TKvFrame& frame, int code, const std::string& message) {
  TExchangeHandler onEnd = Impl->Handler(Impl->ExchangeHandler);
  if (onEnd) onEnd(frame, code, message);
}

void TChannel::ReportDropped(std::vector<std::unique_ptr<TKvFrame>> frames) {
  for (const auto& frame : frames) Report(*frame, crInterrupted, kInterrupted);
}

// In flight from before the frame leaves the queue, so Busy() never misses it, and only when
// there is one, so an idle pass never looks busy.
std::unique_ptr<TKvFrame> TChannel::TakeNext() {
  TImpl& I = *Impl;
  std::unique_ptr<TKvFrame> frame;
  if (I.SendQueue.Count() > 0) {
    I.InFlight = true;
    frame = I.SendQueue.Take();
  }
  if (!frame) I.InFlight = false;
  return frame;
}

void TChannel::ProcessQueue() {
  TImpl& I = *Impl;
  std::unique_ptr<TKvFrame> frame = TakeNext();
  if (!frame) {
    std::unique_lock<std::mutex> lock(I.WakeLock);
    I.Wake.wait_for(lock, kIdleBound,
                    [&] { return I.Terminating.load() || I.SendQueue.Count() > 0; });
    return;
  }
  struct TClearInFlight {
    std::atomic<bool>& Flag;
    ~TClearInFlight() { Flag = false; }
  } clearInFlight{I.InFlight};

  while (frame) {
    if (LogEnabled(ltDebug)) {
      LogEntry(ltDebug, kSendSource, kSent + TStringUtil::BytesToHex(frame->Buf.get(), frame->BufLen));
    }
    std::string message;
    const int code = RunExchange(*frame, message);
    Report(*frame, code, message);
    frame.reset();
    // After an error the frames still queued wait for the next call.
    if (code == crSendError || I.Terminating.load()) return;
    frame = I.SendQueue.Take();
  }
}

// One exchange with the port held; an error raised inside it ends it as a send error (logged).
int TChannel::RunExchange(TKvFrame& frame, std::string& message) {
  TImpl& I = *Impl;
  try {
    if (!I.Control.load()) {  // no port given yet: the frame is dropped unsent
      message = kPortNotOpen;
      return crPortClosed;
    }
    std::lock_guard<std::mutex> exchange(I.Exchange);
    frame.Tick = TickCount();
    frame.Stamp = std::chrono::steady_clock::now();
    return Transact(frame, message);
  } catch (const std::exception& e) {
    message = kSendError + std::string(e.what());
  } catch (...) {
    message = kSendError + std::string(kUnknownError);
  }
  LogEntry(ltException, kSendSource, message);
  return crSendError;
}

int TChannel::Transact(TKvFrame& frame, std::string& message) {
  message.clear();
  TTransport* port = Impl->Control.load();
  if (!port || !port->PortOpen()) {
    message = kPortNotOpen;
    return crPortClosed;
  }
  if (!port->WaitLinked(0)) {
    if (!AwaitLink(*port, frame, message)) return crInterrupted;
    frame.Tick = TickCount();  // the round trip starts with the write
    frame.Stamp = std::chrono::steady_clock::now();
  }
  const std::vector<uint8_t> transmit = TransmitData(frame);
  WriteTransmit(*port, frame, transmit);
  if (frame.DltFrame.NoReply) return crOk;
  return AwaitAnswer(*port, frame, message);
}

// A link being reopened, or waiting for its device to dial in, is waited for up to the frame's
// timeout. False when a stop ends the wait; a link still lost after it ends the exchange as a
// failed send; one that is only not connected yet goes on to the write, which says why.
bool TChannel::AwaitLink(TTransport& port, TKvFrame& frame, std::string& message) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::milliseconds>(
                                                            std::chrono::duration<double>(frame.DltFrame.TimeoutSec));
  for (;;) {
    if (Impl->StopRequest.load()) {
      message = kInterrupted;
      LogEntry(ltError, kTransactSource, message + FrameToHex(frame));
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (port.WaitLinked(static_cast<int>(std::min<long long>(left.count(), kLinkSliceMs)))) return true;
  }
  if (port.Lost()) throw std::runtime_error(kLinkDown);
  return true;
}

// The preamble (read now, at the moment of sending; none before a typed frame) and the frame.
std::vector<uint8_t> TChannel::TransmitData(const TKvFrame& frame) {
  std::vector<uint8_t> transmit;
  if (!frame.DltFrame.RawFrame && Impl->Preamble) {
    TPreamble preamble = Impl->Preamble();
    if (preamble.UseLC && preamble.LCCount > 0) {
      transmit.assign(static_cast<size_t>(preamble.LCCount), PreambleByte(preamble.LC));
    }
  }
  if (frame.Buf && frame.BufLen > 0) transmit.insert(transmit.end(), frame.Buf.get(), frame.Buf.get() + frame.BufLen);
  return transmit;
}

// Bytes that arrived since the last exchange are thrown away before the frame goes out.
void TChannel::WriteTransmit(TTransport& port, TKvFrame& frame, const std::vector<uint8_t>& transmit) {
  std::string error;
  if (port.DiscardInput(error) != 0) throw std::runtime_error(error);
  const int count = static_cast<int>(transmit.size());
  frame.Timing.Sent(std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                           std::chrono::duration<double, std::milli>(port.SendingMs(count))));
  if (port.Write(transmit.data(), static_cast<int>(transmit.size()), error) != 0) {
    throw std::runtime_error(error);
  }
}

// Polls until the answer, the timeout or a stop. Each poll waits at most 20 ms and ends early
// when bytes arrive or a stop is requested.
int TChannel::AwaitAnswer(TTransport& port, TKvFrame& frame, std::string& message) {
  TImpl& I = *Impl;
  const TDltFrame& f = frame.DltFrame;
  const double timeoutSec = f.TimeoutMs > 0 ? f.TimeoutMs / 1000.0 : f.TimeoutSec;
  I.MarkWaiting(frame.Serial, timeoutSec);
  struct TIdle {
    TImpl& I;
    ~TIdle() { I.MarkIdle(); }
  } idle{I};
  I.Scanner.Reset();
  I.OverflowLogged = false;
  const uint32_t start = TickCount();
  const int64_t limitMs = static_cast<int64_t>(timeoutSec * 1000.0);
  auto endWait = [&](int code, const char* text) {
    message = text;
    LogEntry(ltError, kTransactSource, message + FrameToHex(frame));
    return code;
  };
  for (;;) {
    std::string waitError;
    int ready = 0;
    if (!I.StopRequest.load()) {
      int64_t untilTimeout = limitMs + 1 - static_cast<int64_t>(static_cast<uint32_t>(TickCount() - start));
      int waitMs = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(kPollMs, untilTimeout)));
      ready = port.WaitReadable(waitMs, waitError);
    }
    if ((TickCount() - start) * 0.001 > timeoutSec) return endWait(crTimeout, kTimeout);
    if (I.StopRequest.load()) return endWait(crInterrupted, kInterrupted);
    const int code = ReadAndScan(port, frame, message);
    if (code == kNothingRead && ready < 0) throw std::runtime_error(waitError);
    if (code >= 0) return code;
  }
}

// Reads what is waiting and hands every complete frame among it to DealCandidate, until one
// ends the exchange.
int TChannel::ReadAndScan(TTransport& port, TKvFrame& frame, std::string& message) {
  TImpl& I = *Impl;
  std::string error;
  const int n = port.InBufferCount(error);
  if (n < 0) throw std::runtime_error(error);
  if (n < 1) return kNothingRead;
  I.ReadBuf.clear();
  const int got = port.Read(n, I.ReadBuf, error);
  if (got < 0) throw std::runtime_error(error);
  if (got > 0) frame.Timing.Arrived(std::chrono::steady_clock::now());
  int offset = 0;
  while (offset < got) {
    int used = 0, dropped = 0;
    bool found = I.Scanner.Feed(I.ReadBuf.data() + offset, got - offset, used, I.ReplyBytes, dropped);
    offset += used;
    if (dropped > 0 && !I.OverflowLogged) {
      I.OverflowLogged = true;
      LogEntry(ltError, kRecvSource, kInvalid + std::string("缓冲区已满，丢弃") + std::to_string(dropped) + "字节无帧数据");
    }
    for (; found; found = I.Scanner.Next(I.ReplyBytes)) {
      const int code = DealCandidate(frame, message);
      if (code != kWaitOn) return code;
    }
    if (used == 0) break;
  }
  return kWaitOn;
}

// One complete candidate frame: logged as received, then checked, decoded and judged.
int TChannel::DealCandidate(TKvFrame& frame, std::string& message) {
  TImpl& I = *Impl;
  auto reply = std::make_unique<TKvFrame>();
  reply->BufLen = static_cast<int>(I.ReplyBytes.size());
  reply->Buf = std::make_unique<uint8_t[]>(I.ReplyBytes.size());
  std::copy(I.ReplyBytes.begin(), I.ReplyBytes.end(), reply->Buf.get());
  reply->Tick = TickCount();
  reply->Stamp = std::chrono::steady_clock::now();
  reply->DltFrame = frame.DltFrame;
  reply->Serial = frame.Serial;
  if (LogEnabled(ltDebug)) {
    LogEntry(ltDebug, kRecvSource, kReceived + TStringUtil::BytesToHex(reply->Buf.get(), reply->BufLen));
  }
  switch (DoDealFrame(frame, *reply, message)) {
    case fvAnswer: return crOk;
    case fvInvalid: return crInvalidReply;
    case fvStray: break;
  }
  return kWaitOn;
}

TFrameVerdict TChannel::DoDealFrame(const TKvFrame& sent, const TKvFrame& reply, std::string& message) {
  std::string verdict;
  if (TProtocol::CheckFrame(reply.Buf.get(), reply.BufLen, verdict) != 0) {
    LogEntry(ltError, kDealSource, kInvalid + FrameToHex(reply));
    message = kInvalid + FrameFault(reply.Buf.get(), reply.BufLen);
    return fvInvalid;
  }
  TFrameBody body;
  std::string unpacked;
  const int code = TProtocol::UnPack(reply.Buf.get(), reply.BufLen, body, unpacked);
  std::string reason;
  if (!IsAnswer(sent.DltFrame, sent.Buf.get(), sent.BufLen, body, reason)) {
    LogEntry(ltError, kDealSource, reason + kStrayFrame + FrameToHex(reply));
    TStrayHandler stray = Impl->Handler(Impl->StrayHandler);
    if (stray) stray(sent, reply, body, reason);
    return fvStray;
  }
  TReplyHandler show = Impl->Handler(Impl->ReplyHandler);
  if (show) show(sent, reply, body, unpacked, code);
  return fvAnswer;
}
