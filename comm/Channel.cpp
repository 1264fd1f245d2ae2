// The channel: queues commands from the window thread, and on the sending thread transmits
// each one, waits for its reply, assembles, checks and decodes it.
#include "comm/Channel.h"

#include <chrono>
#include <condition_variable>
#include <stdexcept>

#include "comm/FrameSendThread.h"
#include "comm/ReplyScanner.h"
#include "comm/SerialPort.h"
#include "protocol/LogSink.h"
#include "protocol/Protocol.h"
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

constexpr int kPollMs = 20;
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
  if (!ok) throw std::runtime_error("'$" + lc + "' is not a valid integer value");
  return static_cast<uint8_t>(value & 0xFF);
}
}  // namespace

struct TChannel::TImpl {
  explicit TImpl(TPreambleSource preamble)
      : Preamble(std::move(preamble)), Scanner(AccumulationSize) {}

  TPreambleSource Preamble;
  std::atomic<bool> StopRequest{false};
  TFrameBuffer SendQueue;
  std::atomic<TSerialPort*> Control{nullptr};
  std::unique_ptr<TFrameSendThread> SendThread;

  std::mutex HandlerLock;
  TReplyHandler ReplyHandler;
  TExchangeHandler ExchangeHandler;

  std::mutex WakeLock;
  std::condition_variable Wake;
  std::atomic<bool> Terminating{false};
  std::atomic<bool> InFlight{false};
  std::mutex Exchange;

  // Sending thread only.
  TReplyScanner Scanner;
  std::vector<uint8_t> ReadBuf;
  std::vector<uint8_t> ReplyBytes;

  void WakeSender() {
    { std::lock_guard<std::mutex> guard(WakeLock); }
    Wake.notify_all();
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
  if (TSerialPort* port = I.Control.load()) port->Interrupt();
  I.WakeSender();
  if (I.SendThread) {
    I.SendThread->Terminate();
    I.SendThread->WaitFor();
  }
}

int TChannel::CheckPortOpen(std::string& message) const {
  message.clear();
  TSerialPort* port = Impl->Control.load();
  if (port && port->PortOpen()) return crOk;
  message = kPortNotOpen;
  return crPortClosed;
}

void TChannel::Enqueue(std::unique_ptr<TKvFrame> frame) {
  SetStopRequest(false);
  Impl->SendQueue.Add(std::move(frame));
  Impl->WakeSender();
}

int TChannel::Send(const std::string& address, const TDltFrame& frame, const std::string& dataText,
                   std::string& message) {
  if (int code = CheckPortOpen(message); code != crOk) return code;
  auto kv = std::make_unique<TKvFrame>();
  int code = TProtocol::Pack(address, frame, dataText, kv->Buf, kv->BufLen, message);
  if (code != 0) return code;
  kv->DltFrame = frame;
  Enqueue(std::move(kv));
  return crOk;
}

int TChannel::SendRaw(std::unique_ptr<uint8_t[]>& bytes, int count, const TDltFrame& frame,
                      std::string& message) {
  if (int code = CheckPortOpen(message); code != crOk) return code;
  if (!bytes || count <= 0) {
    message = "The frame is empty";
    return crPortClosed;
  }
  auto kv = std::make_unique<TKvFrame>();
  kv->Buf = std::move(bytes);
  kv->BufLen = count;
  kv->DltFrame = frame;
  Enqueue(std::move(kv));
  return crOk;
}

void TChannel::SetStopRequest(bool value) {
  if (Impl->StopRequest.exchange(value) == value) return;
  if (value) {
    Impl->SendQueue.Clear();
    if (TSerialPort* port = Impl->Control.load()) port->Interrupt();
  }
}

bool TChannel::GetStopRequest() const { return Impl->StopRequest.load(); }

void TChannel::SetControl(TSerialPort* control) { Impl->Control = control; }

TSerialPort* TChannel::Control() const { return Impl->Control.load(); }

void TChannel::SetReplyHandler(TReplyHandler handler) {
  std::lock_guard<std::mutex> guard(Impl->HandlerLock);
  Impl->ReplyHandler = std::move(handler);
}

void TChannel::SetExchangeHandler(TExchangeHandler handler) {
  std::lock_guard<std::mutex> guard(Impl->HandlerLock);
  Impl->ExchangeHandler = std::move(handler);
}

bool TChannel::Busy() const { return Impl->InFlight.load() || Impl->SendQueue.Count() > 0; }

std::mutex& TChannel::ExchangeLock() { return Impl->Exchange; }

int TChannel::SendThreadId() const {
  return Impl->SendThread ? Impl->SendThread->ThreadId() : 0;
}

void TChannel::ProcessQueue() {
  TImpl& I = *Impl;
  // In flight from before the frame leaves the queue, so Busy() never misses it, and only when
  // there is one, so an idle pass never looks busy.
  std::unique_ptr<TKvFrame> frame;
  if (I.SendQueue.Count() > 0) {
    I.InFlight = true;
    frame = I.SendQueue.Take();
  }
  if (!frame) {
    I.InFlight = false;
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
    int code = crOk;
    std::string message;
    bool failed = false;
    try {
      if (I.Control.load()) {
        std::lock_guard<std::mutex> exchange(I.Exchange);
        frame->Tick = TickCount();
        frame->Stamp = std::chrono::steady_clock::now();
        code = Transact(*frame, message);
      } else {
        code = crPortClosed;  // no port given yet: the frame is dropped unsent
        message = kPortNotOpen;
      }
    } catch (const std::exception& e) {
      failed = true;
      code = crPortClosed;
      message = kSendError + std::string(e.what());
    } catch (...) {
      failed = true;
      code = crPortClosed;
      message = kSendError + std::string("unknown error");
    }
    if (failed) LogEntry(ltException, kSendSource, message);

    TExchangeHandler onEnd;
    {
      std::lock_guard<std::mutex> guard(I.HandlerLock);
      onEnd = I.ExchangeHandler;
    }
    if (onEnd) onEnd(*frame, code, message);
    frame.reset();
    // After an error the frames still queued wait for the next call.
    if (failed || I.Terminating.load()) return;
    frame = I.SendQueue.Take();
  }
}

int TChannel::Transact(TKvFrame& frame, std::string& message) {
  TImpl& I = *Impl;
  message.clear();
  TSerialPort* port = I.Control.load();
  if (!port || !port->PortOpen()) {
    message = kPortNotOpen;
    return crPortClosed;
  }

  // The preamble settings are read now, at the moment of sending.
  std::vector<uint8_t> transmit;
  if (!frame.DltFrame.RawFrame && I.Preamble) {
    TPreamble preamble = I.Preamble();
    if (preamble.UseLC && preamble.LCCount > 0) {
      transmit.assign(static_cast<size_t>(preamble.LCCount), PreambleByte(preamble.LC));
    }
  }
  if (frame.Buf && frame.BufLen > 0) transmit.insert(transmit.end(), frame.Buf.get(), frame.Buf.get() + frame.BufLen);

  std::string error;
  if (port->DiscardInput(error) != 0) throw std::runtime_error(error);
  if (port->Write(transmit.data(), static_cast<int>(transmit.size()), error) != 0) {
    throw std::runtime_error(error);
  }
  const uint32_t start = TickCount();
  if (frame.DltFrame.NoReply) return crOk;

  const double timeoutSec = frame.DltFrame.TimeoutSec;
  const int64_t limitMs = static_cast<int64_t>(timeoutSec * 1000.0);
  I.Scanner.Reset();
  bool overflowLogged = false;
  for (;;) {
    // Each poll waits at most 20 ms; it ends early when bytes arrive or a stop is requested.
    std::string waitError;
    int ready = 0;
    if (!I.StopRequest.load()) {
      int64_t untilTimeout = limitMs + 1 - static_cast<int64_t>(static_cast<uint32_t>(TickCount() - start));
      int waitMs = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(kPollMs, untilTimeout)));
      ready = port->WaitReadable(waitMs, waitError);
    }
    uint32_t elapsed = TickCount() - start;
    if (elapsed * 0.001 > timeoutSec) {
      message = kTimeout;
      return crTimeout;
    }
    if (I.StopRequest.load()) {
      message = kInterrupted;
      return crInterrupted;
    }
    int n = port->InBufferCount(error);
    if (n < 0) throw std::runtime_error(error);
    if (n < 1) {
      if (ready < 0) throw std::runtime_error(waitError);
      continue;
    }
    I.ReadBuf.clear();
    int got = port->Read(n, I.ReadBuf, error);
    if (got < 0) throw std::runtime_error(error);
    int offset = 0;
    while (offset < got) {
      int used = 0, dropped = 0;
      bool found = I.Scanner.Feed(I.ReadBuf.data() + offset, got - offset, used, I.ReplyBytes, dropped);
      offset += used;
      if (dropped > 0 && !overflowLogged) {
        overflowLogged = true;
        LogEntry(ltError, kRecvSource,
                 kInvalid + std::to_string(dropped) + " bytes without a frame dropped (buffer full)");
      }
      if (found) {
        auto reply = std::make_unique<TKvFrame>();
        reply->BufLen = static_cast<int>(I.ReplyBytes.size());
        reply->Buf = std::make_unique<uint8_t[]>(I.ReplyBytes.size());
        std::copy(I.ReplyBytes.begin(), I.ReplyBytes.end(), reply->Buf.get());
        reply->Tick = TickCount();
        reply->Stamp = std::chrono::steady_clock::now();
        reply->DltFrame = frame.DltFrame;
        if (LogEnabled(ltDebug)) {
          LogEntry(ltDebug, kRecvSource, kReceived + TStringUtil::BytesToHex(reply->Buf.get(), reply->BufLen));
        }
        DoDealFrame(frame, *reply);
        return crOk;
      }
      if (used == 0) break;
    }
  }
}

void TChannel::DoDealFrame(const TKvFrame& sent, const TKvFrame& reply) {
  std::string verdict;
  if (TProtocol::CheckFrame(reply.Buf.get(), reply.BufLen, verdict) != 0) {
    LogEntry(ltError, kDealSource, kInvalid + FrameToHex(reply));
    return;
  }
  TFrameBody body;
  std::string message;
  int code = TProtocol::UnPack(reply.Buf.get(), reply.BufLen, body, message);
  TReplyHandler show;
  {
    std::lock_guard<std::mutex> guard(Impl->HandlerLock);
    show = Impl->ReplyHandler;
  }
  if (show) show(sent, reply, body, message, code);
}
