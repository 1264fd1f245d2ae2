#include "comm/PortLink.h"

#include <filesystem>

#include "comm/PortName.h"
#include "comm/Rfc2217Transport.h"
#include "comm/SerialPort.h"
#include "comm/TcpTransport.h"
#include "protocol/LogSink.h"

namespace {
const char* const kPortNotOpen = "串口未打开！";
const char* const kSource = "TPortLink.Reconnect";
constexpr auto kWatchPeriod = std::chrono::milliseconds(500);  // an idle link is looked at this often

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::exists(path, ec);
}
}  // namespace

TPortLink::~TPortLink() {
  std::string ignored;
  Close(ignored);
}

std::unique_ptr<TTransport> TPortLink::ForName(const std::string& port, std::string& error) {
  TPortName name;
  if (!ParsePortName(port, name, error)) return nullptr;
  switch (name.Kind) {
    case TPortKind::Device: return std::make_unique<TSerialPort>();
    case TPortKind::Tcp: return std::make_unique<TTcpTransport>();
    case TPortKind::TcpListen: return std::make_unique<TTcpListenTransport>();
    case TPortKind::Rfc2217: return std::make_unique<TRfc2217Transport>();
  }
  return nullptr;
}

std::shared_ptr<TTransport> TPortLink::Current() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Inner;
}

TOpenResult TPortLink::Open(const std::string& port, const std::string& settings, int inputMode) {
  TOpenResult result;
  result.Refusal = TOpenRefusal::Unavailable;
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (Inner) return Inner->Open(port, settings, inputMode);  // refused as already open
    if (LinkState != TLinkState::Closed) {
      result.Message = result.Detail = "端口" + WantName + "已经打开！";
      return result;
    }
  }
  StopSupervisor();  // one left from an earlier open has ended with its Close
  std::string error;
  std::shared_ptr<TTransport> next = ForName(port, error);
  if (!next) {
    result.Message = result.Detail = error;
    return result;
  }
  result = next->Open(port, settings, inputMode);
  if (!result.Opened()) return result;
  TPortName name;
  ParsePortName(port, name, error);
  std::lock_guard<std::mutex> guard(Lock);
  WantPort = port;
  WantSettings = settings;
  WantMode = inputMode;
  WantName = next->PortName();
  IsDevice = name.Kind == TPortKind::Device;
  Identity = IsDevice ? DeviceIdentityOf(port) : TDeviceIdentity{};
  LossCount = 0;
  Inner = std::move(next);
  LinkState = TLinkState::Open;
  Supervisor = std::jthread([this](std::stop_token stop) { Supervise(stop); });
  return result;
}

void TPortLink::StopSupervisor() {
  if (!Supervisor.joinable()) return;
  Supervisor.request_stop();
  Changed.notify_all();
  Supervisor.join();
}

int TPortLink::Close(std::string& error) {
  error.clear();
  std::shared_ptr<TTransport> t, opening;
  {
    std::lock_guard<std::mutex> guard(Lock);
    LinkState = TLinkState::Closed;
    t = std::move(Inner);
    opening = Opening;
  }
  if (opening) opening->Interrupt();  // a reconnect waiting for an unreachable host ends now
  StopSupervisor();
  return t ? t->Close(error) : 0;
}

bool TPortLink::PortOpen() const {
  std::lock_guard<std::mutex> guard(Lock);
  return LinkState != TLinkState::Closed;
}

TLinkState TPortLink::State() const {
  std::lock_guard<std::mutex> guard(Lock);
  return LinkState;
}

uint64_t TPortLink::Losses() const {
  std::lock_guard<std::mutex> guard(Lock);
  return LossCount;
}

std::string TPortLink::PortName() const {
  if (std::shared_ptr<TTransport> t = Current()) return t->PortName();
  std::lock_guard<std::mutex> guard(Lock);
  return LinkState == TLinkState::Lost ? WantName : std::string();
}

std::string TPortLink::Settings() const {
  if (std::shared_ptr<TTransport> t = Current()) return t->Settings();
  std::lock_guard<std::mutex> guard(Lock);
  return LinkState == TLinkState::Lost ? WantSettings : std::string();
}

int TPortLink::InputMode() const {
  if (std::shared_ptr<TTransport> t = Current()) return t->InputMode();
  std::lock_guard<std::mutex> guard(Lock);
  return WantMode;
}

std::string TPortLink::Describe() const {
  if (std::shared_ptr<TTransport> t = Current()) return t->Describe();
  return PortName();
}

bool TPortLink::Lost() const {
  std::shared_ptr<TTransport> t;
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (LinkState == TLinkState::Lost) return true;
    t = Inner;
  }
  return t && t->Lost();
}

int TPortLink::Unavailable(std::string& error) const {
  std::lock_guard<std::mutex> guard(Lock);
  error = LinkState == TLinkState::Lost ? LossText(WantName, LostWhy) : kPortNotOpen;
  return -1;
}

void TPortLink::Failed(const std::shared_ptr<TTransport>& t, const std::string& why) {
  if (!t->Lost()) return;
  std::string what;
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (LinkState != TLinkState::Open || Inner != t) return;  // noticed already, or closed by hand
    LinkState = TLinkState::Lost;
    Inner.reset();
    ++LossCount;
    LostAt = std::chrono::steady_clock::now();
    LostWhy = why;
    what = WantName;
  }
  Changed.notify_all();
  LogEntry(ltError, kSource, LossText(what, why));
  std::string ignored;
  t->Close(ignored);  // the vanished device's descriptor goes at once, so that its name is free
}

int TPortLink::DiscardInput(std::string& error) {
  std::shared_ptr<TTransport> t = Current();
  if (!t) {
    Unavailable(error);
    return 1;
  }
  const int rc = t->DiscardInput(error);
  if (rc != 0) Failed(t, error);
  return rc;
}

int TPortLink::Write(const uint8_t* buf, int count, std::string& error) {
  std::shared_ptr<TTransport> t = Current();
  if (!t) {
    Unavailable(error);
    return 1;
  }
  const int rc = t->Write(buf, count, error);
  if (rc != 0) Failed(t, error);
  return rc;
}

int TPortLink::InBufferCount(std::string& error) {
  std::shared_ptr<TTransport> t = Current();
  if (!t) return Unavailable(error);
  const int n = t->InBufferCount(error);
  if (n < 0) Failed(t, error);
  return n;
}

int TPortLink::Read(int count, std::vector<uint8_t>& out, std::string& error) {
  std::shared_ptr<TTransport> t = Current();
  if (!t) return Unavailable(error);
  const int n = t->Read(count, out, error);
  if (n < 0) Failed(t, error);
  return n;
}

int TPortLink::WaitReadable(int timeoutMs, std::string& error) {
  std::shared_ptr<TTransport> t = Current();
  if (!t) return Unavailable(error);
  const int r = t->WaitReadable(timeoutMs, error);
  if (r < 0) Failed(t, error);
  return r;
}

void TPortLink::Interrupt() {
  std::shared_ptr<TTransport> t;
  {
    std::lock_guard<std::mutex> guard(Lock);
    ++Interrupts;
    t = Inner;
  }
  Changed.notify_all();
  if (t) t->Interrupt();
}

bool TPortLink::WaitLinked(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
  std::unique_lock<std::mutex> lock(Lock);
  const uint64_t seen = Interrupts;
  Changed.wait_until(lock, deadline, [&] { return LinkState != TLinkState::Lost || Interrupts != seen; });
  if (LinkState != TLinkState::Open) return false;
  std::shared_ptr<TTransport> t = Inner;
  lock.unlock();
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return t->WaitLinked(static_cast<int>(std::max<long long>(0, left.count())));
}

double TPortLink::SendingMs(int count) const {
  std::shared_ptr<TTransport> t = Current();
  return t ? t->SendingMs(count) : 0;
}

// ---- The supervising thread --------------------------------------------------------------

void TPortLink::Supervise(std::stop_token stop) {
  TRetrySchedule schedule;
  std::unique_lock<std::mutex> lock(Lock);
  // A loss noticed before this thread first looked waits for the backoff like any other.
  if (LinkState == TLinkState::Lost) schedule.Start(NowMs());
  while (!stop.stop_requested() && LinkState != TLinkState::Closed) {
    if (LinkState == TLinkState::Open) {
      Watch(stop, lock);
      if (LinkState == TLinkState::Lost) schedule.Start(NowMs());
    } else {
      Reopen(stop, lock, schedule);
    }
  }
}

// An idle link is looked at now and then, so that a device unplugged between exchanges is
// noticed (and shown) too.
void TPortLink::Watch(std::stop_token& stop, std::unique_lock<std::mutex>& lock) {
  Changed.wait_for(lock, stop, kWatchPeriod, [&] { return LinkState != TLinkState::Open; });
  if (stop.stop_requested() || LinkState != TLinkState::Open) return;
  std::shared_ptr<TTransport> t = Inner;
  lock.unlock();
  std::string error;
  if (t->InBufferCount(error) < 0) Failed(t, error);
  lock.lock();
}

void TPortLink::Reopen(std::stop_token& stop, std::unique_lock<std::mutex>& lock, TRetrySchedule& schedule) {
  const long long sleepMs = schedule.SleepMs(NowMs(), IsDevice);
  Changed.wait_for(lock, stop, std::chrono::milliseconds(sleepMs), [&] { return LinkState != TLinkState::Lost; });
  if (stop.stop_requested() || LinkState != TLinkState::Lost || !schedule.Due(NowMs())) return;
  lock.unlock();
  bool tried = false;
  std::shared_ptr<TTransport> next = TryOpen(tried);
  lock.lock();
  if (!next) {
    if (tried) schedule.Failed(NowMs());
    return;
  }
  if (stop.stop_requested() || LinkState != TLinkState::Lost) {  // closed by hand meanwhile
    lock.unlock();
    std::string ignored;
    next->Close(ignored);
    lock.lock();
    return;
  }
  Inner = next;
  LinkState = TLinkState::Open;
  if (Identity.PtyLink.first) Identity.PtyLink = DeviceIdentityOf(WantPort).PtyLink;  // the link made anew
  const auto down = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - LostAt);
  lock.unlock();
  Changed.notify_all();
  LogEntry(ltNormal, kSource, ReturnText(next->Describe(), down.count()));
  lock.lock();
}

// The same device or network name opened again; null while it is not there (`tried` false) or
// when it refused (`tried` true).
std::shared_ptr<TTransport> TPortLink::TryOpen(bool& tried) {
  std::string path = WantPort;
  if (IsDevice) {
    const bool byId = Exists(Identity.ById);
    path = ChooseReturnPath(Identity, Exists(Identity.Path) && !StalePtyLink(Identity), byId,
                            Identity.Serial.empty() ? std::vector<TPresentDevice>{} : PresentDevices());
    if (path.empty()) return nullptr;
  }
  tried = true;
  std::string error;
  std::shared_ptr<TTransport> next = ForName(path, error);
  if (!next) return nullptr;
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (LinkState != TLinkState::Lost) return nullptr;  // closed by hand meanwhile
    Opening = next;
  }
  const bool opened = next->Open(path, WantSettings, WantMode).Opened();
  std::lock_guard<std::mutex> guard(Lock);
  Opening.reset();
  return opened ? next : nullptr;
}
