// Exchanges of the command line through the workbench's channel.
#include "cli/Exchange.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <regex>
#include <thread>
#include <iostream>
#include <mutex>

#include "comm/PortLink.h"
#include "protocol/LogSink.h"
#include "protocol/PublicFunc.h"
#include "protocol/StringUtil.h"

namespace {


const std::string kInvalidPrefix = "收到无效数据报文：";
const std::string kReconnectSource = "TPortLink.Reconnect";

std::atomic<bool> g_interrupted{false};
extern "C" void OnInterrupt(int) { g_interrupted = true; }

// Collects the entries the channel logs; prints them with --verbose. The bytes of an invalid
// reply are only logged, so they are taken from here.
class TCliSink : public TLogSink {
 public:
  explicit TCliSink(bool verbose) : Verbose(verbose) { SetLogSink(this); }
  ~TCliSink() override { SetLogSink(nullptr); }
  void WriteLog(int types, const std::string& source, const std::string& text) override {
    std::lock_guard<std::mutex> guard(Lock);
    if (Verbose) std::cerr << source << ": " << text << "\n";
    else if (source == kReconnectSource) std::cerr << text << "\n";  // a loss or a return
    if ((types & ltError) && text.rfind(kInvalidPrefix, 0) == 0) LastError = text.substr(kInvalidPrefix.size());
  }
  int LogTypes() const override { return Verbose ? 31 : ltError | ltException; }
  std::string TakeError() {
    std::lock_guard<std::mutex> guard(Lock);
    std::string e = LastError;
    LastError.clear();
    return e;
  }

 private:
  bool Verbose;
  std::mutex Lock;
  std::string LastError;
};

}  // namespace

static bool IsLineSettings(const std::string& text) {
  static const std::regex pattern(R"(\s*\d+\s*,\s*[A-Za-z]\s*,\s*\d\s*,\s*(1|1\.5|2)\s*(,\s*[Rr][Ss]485(:\d+:\d+)?\s*)?)");
  return std::regex_match(text, pattern);
}

// Splits the line settings off the arguments: `--settings 9600,E,8,1` names the line, any other
// `--settings` value is a Setup.ini for the command options.
std::vector<std::string> TakeLineSettings(const std::vector<std::string>& args, std::string& line) {
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--settings" && i + 1 < args.size() && IsLineSettings(args[i + 1])) {
      line = args[++i];
    } else if (args[i].rfind("--settings=", 0) == 0 && IsLineSettings(args[i].substr(11))) {
      line = args[i].substr(11);
    } else {
      rest.push_back(args[i]);
    }
  }
  return rest;
}

const std::atomic<bool>& InterruptFlag() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    return true;
  }();
  (void)installed;
  return g_interrupted;
}

struct TCliLink::TImpl {
  TImpl(const TPreamble& preamble, bool verbose) : Sink(verbose), Channel([preamble] { return preamble; }) {}

  TCliSink Sink;
  TPortLink Port;
  std::mutex Lock;
  std::condition_variable Ended;
  // The exchange in progress, filled by the two handlers on the sending thread.
  bool Done = false;
  int Code = 0;
  std::string Message;
  bool HasReply = false;
  TFrameBody Body;
  double RoundTripMs = 0;
  double FirstByteMs = -1, MaxGapMs = 0;
  std::vector<TStrayReply> Strays;
  TChannel Channel;  // last: destroyed (and its thread joined) first

  void Install() {
    Channel.Init();
    Channel.SetControl(&Port);
    Channel.SetReplyHandler([this](const TKvFrame& sent, const TKvFrame& reply, const TFrameBody& body,
                                   const std::string&, int) {
      std::lock_guard<std::mutex> guard(Lock);
      HasReply = true;
      Body = body;
      RoundTripMs = std::chrono::duration<double, std::milli>(reply.Stamp - sent.Stamp).count();
    });
    Channel.SetStrayHandler([this](const TKvFrame& sent, const TKvFrame&, const TFrameBody& body,
                                   const std::string& reason) {
      const TAnswerRule rule = AnswerRule(sent.DltFrame, sent.Buf.get(), sent.BufLen);
      const bool other = JudgeReply(rule, body) == afAddress;
      std::lock_guard<std::mutex> guard(Lock);
      Strays.push_back({body, reason, other});
    });
    Channel.SetExchangeHandler([this](const TKvFrame& sent, int code, const std::string& message) {
      {
        std::lock_guard<std::mutex> guard(Lock);
        FirstByteMs = sent.Timing.FirstByteMs();
        MaxGapMs = sent.Timing.MaxGapMs();
        Done = true;
        Code = code;
        Message = message;
      }
      Ended.notify_all();
    });
    Channel.Start();
  }

  // Waits for the end of the exchange; Ctrl-C asks the channel to stop it. The channel reports
  // every exchange it accepted, also one dropped from the queue by the stop.
  void Wait() {
    bool stopAsked = false;
    std::unique_lock<std::mutex> guard(Lock);
    while (!Done) {
      if (g_interrupted && !stopAsked) {
        guard.unlock();
        Channel.SetStopRequest(true);
        guard.lock();
        stopAsked = true;
        continue;
      }
      Ended.wait_for(guard, std::chrono::milliseconds(200));
    }
  }

  void Reset() {
    std::lock_guard<std::mutex> guard(Lock);
    Done = HasReply = false;
    Code = 0;
    Message.clear();
    Body = TFrameBody();
    RoundTripMs = 0;
    FirstByteMs = -1;
    MaxGapMs = 0;
    Strays.clear();
  }
};

TCliLink::TCliLink(const TPreamble& preamble, bool verbose) : Impl(std::make_unique<TImpl>(preamble, verbose)) {
  InterruptFlag();
}

TCliLink::~TCliLink() { Close(); }

bool TCliLink::Open(const std::string& port, const std::string& line, std::string& error) {
  if (Impl->Port.Open(port, line, 1, error) != 0) return false;
  Impl->Install();
  return true;
}

void TCliLink::Close() {
  Impl->Channel.Shutdown();
  std::string error;
  if (Impl->Port.PortOpen()) Impl->Port.Close(error);
}

namespace {
TExchangeKind KindOf(int code, bool noReply) {
  switch (code) {
    case crOk: return noReply ? ekNoReplyWanted : ekReply;
    case crTimeout: return ekTimeout;
    case crInterrupted: return ekInterrupted;
    case crSendError: return ekSendError;
    case crInvalidReply: return ekInvalid;
    default: return ekFailed;  // the port closed meanwhile
  }
}
}  // namespace

bool TCliLink::AwaitLink(double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (Impl->Port.Lost() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return Impl->Port.PortOpen() && !Impl->Port.Lost();
}

TExchangeResult TCliLink::Exchange(const TDltFrame& frame, const std::vector<uint8_t>& raw) {
  TImpl& I = *Impl;
  I.Reset();
  I.Sink.TakeError();
  TExchangeResult result;
  const uint64_t losses = I.Port.Losses();
  int code;
  if (!raw.empty()) {
    auto bytes = std::make_unique<uint8_t[]>(raw.size());
    std::copy(raw.begin(), raw.end(), bytes.get());
    code = I.Channel.SendRaw(bytes, static_cast<int>(raw.size()), frame, result.Message);
  } else {
    code = I.Channel.Send(frame.Address, frame, frame.DataField, result.Message);
  }
  if (code != crOk) return result;  // ekFailed with the channel's message
  I.Wait();

  std::lock_guard<std::mutex> guard(I.Lock);
  result.Kind = KindOf(I.Code, frame.NoReply);
  if (result.Kind == ekReply && !I.HasReply) result.Kind = ekInvalid;  // cannot happen; never a reading
  result.Message = I.Message;
  result.HasReply = I.HasReply;
  result.Body = I.Body;
  result.RoundTripMs = I.RoundTripMs;
  result.Strays = I.Strays;
  result.FirstByteMs = I.FirstByteMs;
  result.MaxGapMs = I.MaxGapMs;
  if (result.Kind == ekInvalid) result.InvalidFrame = I.Sink.TakeError();
  result.LinkLost = result.Kind == ekSendError && (I.Port.Losses() != losses || I.Port.Lost());
  return result;
}
