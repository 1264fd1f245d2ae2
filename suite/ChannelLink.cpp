// The engine's link over the workbench's channel.
#include "suite/ChannelLink.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

#include "comm/Channel.h"

namespace {
const char* const kStopped = "运行已停止";
// How long the link's end waits for the channel to end an exchange of the run that a stop left
// on the line (the channel ends a wait within a poll slice of the stop).
constexpr auto kEndWait = std::chrono::seconds(3);

TLinkKind KindOf(int code, bool noReply, bool hasReply) {
  switch (code) {
    case crOk: return noReply ? lkNoReplyWanted : hasReply ? lkReply : lkInvalid;
    case crTimeout: return lkTimeout;
    case crInterrupted: return lkInterrupted;
    case crSendError: return lkSendError;
    case crInvalidReply: return lkInvalid;
    default: return lkFailed;  // the port closed meanwhile
  }
}
}  // namespace

struct TChannelSuiteLink::TState {
  std::mutex Lock;
  std::condition_variable Ended;
  bool Stopping = false;
  std::set<uint64_t> Mine;  // exchanges of this link the channel has not ended yet
  uint64_t Waiting = 0;     // the exchange Exchange waits for (0: none)
  bool Done = false;
  int Code = 0;
  TLinkResult Result;
  // The handlers that were installed before, for every exchange that is not the link's.
  TReplyHandler Reply;
  TExchangeHandler End;
  TStrayHandler Stray;

  bool OnReply(const TKvFrame& sent, const TKvFrame& reply, const TFrameBody& body) {
    std::lock_guard<std::mutex> guard(Lock);
    if (!Mine.count(sent.Serial)) return false;
    if (sent.Serial == Waiting) {
      Result.HasReply = true;
      Result.Body = body;
      Result.RoundTripMs = std::chrono::duration<double, std::milli>(reply.Stamp - sent.Stamp).count();
    }
    return true;
  }
  bool OnStray(const TKvFrame& sent, const TFrameBody& body) {
    std::lock_guard<std::mutex> guard(Lock);
    if (!Mine.count(sent.Serial)) return false;
    if (sent.Serial == Waiting) Result.Strays.push_back(body);
    return true;
  }
  bool OnEnd(const TKvFrame& sent, int code, const std::string& message) {
    {
      std::lock_guard<std::mutex> guard(Lock);
      if (!Mine.erase(sent.Serial)) return false;
      if (sent.Serial != Waiting) {  // abandoned by a stop: only the link's end waits for it
        Ended.notify_all();
        return true;
      }
      Done = true;
      Code = code;
      Result.Message = message;
      Result.FirstByteMs = sent.Timing.FirstByteMs();
      Result.MaxGapMs = sent.Timing.MaxGapMs();
    }
    Ended.notify_all();
    return true;
  }
};

namespace {
void Install(TChannel& channel, const std::shared_ptr<TChannelSuiteLink::TState>& state) {
  channel.SetReplyHandler([state](const TKvFrame& sent, const TKvFrame& reply, const TFrameBody& body,
                                  const std::string& message, int code) {
    if (!state->OnReply(sent, reply, body) && state->Reply) state->Reply(sent, reply, body, message, code);
  });
  channel.SetStrayHandler([state](const TKvFrame& sent, const TKvFrame& frame, const TFrameBody& body,
                                  const std::string& reason) {
    if (!state->OnStray(sent, body) && state->Stray) state->Stray(sent, frame, body, reason);
  });
  channel.SetExchangeHandler([state](const TKvFrame& sent, int code, const std::string& message) {
    if (!state->OnEnd(sent, code, message) && state->End) state->End(sent, code, message);
  });
}

TLinkResult Interrupted() {
  TLinkResult r;
  r.Kind = lkInterrupted;
  r.Message = kStopped;
  return r;
}
}  // namespace

TChannelSuiteLink::TChannelSuiteLink(TChannel& channel) : Channel(channel), State(std::make_shared<TState>()) {
  State->Reply = channel.GetReplyHandler();
  State->End = channel.GetExchangeHandler();
  State->Stray = channel.GetStrayHandler();
  Install(channel, State);
}

// The window's handlers come back only once the channel has ended every exchange of the run, so
// that the end of one a stop interrupted is never reported to the window as one of its own.
TChannelSuiteLink::~TChannelSuiteLink() {
  {
    std::unique_lock<std::mutex> guard(State->Lock);
    State->Ended.wait_for(guard, kEndWait, [this] { return State->Mine.empty(); });
  }
  Channel.SetReplyHandler(State->Reply);
  Channel.SetStrayHandler(State->Stray);
  Channel.SetExchangeHandler(State->End);
}

TLinkResult TChannelSuiteLink::Exchange(const TDltFrame& frame, const std::vector<uint8_t>& raw) {
  TState& S = *State;
  std::unique_lock<std::mutex> guard(S.Lock);
  if (S.Stopping) return Interrupted();
  S.Result = TLinkResult();
  S.Done = false;
  uint64_t serial = 0;
  std::string message;
  // Under the lock: the sending thread cannot report this exchange before it is known as ours.
  int code;
  if (!raw.empty()) {
    auto bytes = std::make_unique<uint8_t[]>(raw.size());
    std::copy(raw.begin(), raw.end(), bytes.get());
    code = Channel.SendRaw(bytes, static_cast<int>(raw.size()), frame, message, &serial);
  } else {
    code = Channel.Send(frame.Address, frame, frame.DataField, message, &serial);
  }
  if (code != crOk) {
    TLinkResult refused;
    refused.Message = message;  // lkFailed: not sent
    return refused;
  }
  S.Mine.insert(serial);
  S.Waiting = serial;
  S.Ended.wait(guard, [&S] { return S.Done || S.Stopping; });
  S.Waiting = 0;
  if (!S.Done) return Interrupted();
  TLinkResult result = S.Result;
  result.Kind = KindOf(S.Code, frame.NoReply, result.HasReply);
  return result;
}

void TChannelSuiteLink::Stop() {
  uint64_t waiting = 0;
  {
    std::lock_guard<std::mutex> guard(State->Lock);
    State->Stopping = true;
    waiting = State->Waiting;
  }
  State->Ended.notify_all();
  // Only an exchange of ours on the line is stopped there; the main window's stay untouched.
  uint64_t serial = 0;
  double elapsed = 0, timeout = 0;
  if (waiting && Channel.WaitState(serial, elapsed, timeout) && serial == waiting) Channel.SetStopRequest(true);
}
