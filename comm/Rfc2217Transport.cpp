// The RFC 2217 client link: telnet over the raw TCP link, the serial port option negotiated at
// open.
#include "comm/Rfc2217Transport.h"

#include <algorithm>
#include <chrono>

#include "comm/PortName.h"
#include "protocol/LogSink.h"

namespace {

using Clock = std::chrono::steady_clock;
const char* const kPortNotOpen = "串口未打开！";

TOpenResult Refused(TOpenRefusal why, std::string message) {
  TOpenResult result;
  result.Refusal = why;
  result.Message = std::move(message);
  result.Detail = result.Message;  // the window's own line for a refused port, then this reason
  return result;
}

TOpenResult Unavailable(std::string message) { return Refused(TOpenRefusal::Unavailable, std::move(message)); }

// The TCP link's own message names the tcp:// link; the user asked for the rfc2217:// one.
void Rename(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

TRfc2217Transport::~TRfc2217Transport() {
  std::string ignored;
  Close(ignored);
}

TOpenResult TRfc2217Transport::Open(const std::string& port, const std::string& settings, int inputMode) {
  std::lock_guard<std::mutex> guard(Lock);
  if (Link.PortOpen()) return Unavailable("端口" + Name + "已经打开！");
  TPortName name;
  std::string error;
  if (!ParsePortName(port, name, error)) return Unavailable(error);
  if (name.Kind != TPortKind::Rfc2217) return Unavailable("端口名“" + port + "”不是rfc2217://地址！");
  TComPortLine line;
  if (!ComPortLineOf(settings, line, error)) return Refused(TOpenRefusal::Settings, error);
  Name = DescribePortName(name);
  TPortName tcp = name;
  tcp.Kind = TPortKind::Tcp;
  tcp.RawFallback = false;
  TOpenResult result = Link.Open(DescribePortName(tcp), settings, inputMode);
  if (!result.Opened()) {
    Rename(result.Message, DescribePortName(tcp), Name);
    Rename(result.Detail, DescribePortName(tcp), Name);
    return result;
  }
  Parser.Reset();
  Pending.clear();
  Fault.clear();
  FaultText.clear();
  Garbled = false;
  Telnet = true;
  result = Negotiate(line, name.RawFallback);
  if (!result.Opened()) Link.Close(error);
  return result;
}

TOpenResult TRfc2217Transport::Negotiate(const TComPortLine& line, bool fallback) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(NegotiateTimeoutMs);
  const std::string seconds = std::to_string(NegotiateTimeoutMs / 1000);
  const std::string hint = "原始TCP端口请使用tcp://，或在端口名后加“?fallback=raw”按原始TCP连接。";
  std::string why;
  const std::vector<uint8_t> start = Client.Start();
  bool answered = Link.Write(start.data(), static_cast<int>(start.size()), why) == 0 &&
                  AwaitServer([this] { return Client.ComPort() != TRfc2217Client::TComPort::Asked; }, deadline, why);
  if (!answered && !why.empty()) return Unavailable("无法连接" + Name + "：" + why);
  if (!answered || Client.ComPort() == TRfc2217Client::TComPort::Refused) {
    const bool silent = !answered;
    if (!fallback)
      return Unavailable("无法连接" + Name + "：" +
                         (silent ? "服务器" + seconds + "秒内没有进行RFC 2217协商（可能不是telnet端口）！"
                                 : std::string("服务器拒绝了RFC 2217串口设置（COM-PORT-OPTION）！")) +
                         hint);
    Telnet = !silent;  // a server that never spoke telnet gets the bytes as they are
    LogEntry(ltNormal, "TRfc2217Transport.Open",
             Name + (silent ? "：服务器没有进行telnet协商" : "：服务器拒绝了RFC 2217串口设置") +
                 "，按原始TCP继续（串口参数以服务器的设置为准）");
    return {};
  }
  const std::vector<uint8_t> set = Client.SetLine(line);
  if (Link.Write(set.data(), static_cast<int>(set.size()), why) != 0 ||
      !AwaitServer([this] { return Client.LineSet() || !Client.LineMismatch().empty(); }, deadline, why)) {
    if (why.empty()) why = "服务器" + seconds + "秒内没有回复" + Client.Unanswered() + "的设置（服务器的串口可能不支持）！";
    return Unavailable("无法连接" + Name + "：" + why);
  }
  if (!Client.LineMismatch().empty())
    return Refused(TOpenRefusal::Settings, "串口服务器" + Name + "不接受设置：" + Client.LineMismatch() + "！");
  return {};
}

// Reads and answers the server until `done` or the deadline; false with `why` empty on the
// deadline, with the reason when the link failed or the server sent what is not telnet.
bool TRfc2217Transport::AwaitServer(const std::function<bool()>& done, Clock::time_point deadline,
                                    std::string& why) {
  for (;;) {
    if (Pump(why) < 0) return false;
    if (Garbled) {
      why = FaultText;  // the open's message names the link already
      return false;
    }
    if (done()) return true;
    const int left = MsLeft(deadline);
    if (left == 0 || Link.WaitReadable(left, why) < 0) return false;
  }
}

int TRfc2217Transport::Pump(std::string& error) {
  int n = Link.InBufferCount(error);
  if (n <= 0) return n;
  if (!Telnet) return Link.Read(n, Pending, error) < 0 ? -1 : 0;
  std::vector<uint8_t> raw;
  if (Link.Read(n, raw, error) < 0) return -1;
  std::vector<TTelnetCommand> commands;
  std::string fault;
  if (!Parser.Feed(raw.data(), raw.size(), Pending, commands, fault) && !Garbled) {
    FaultText = fault + "！";
    Fault = "网络连接" + Name + FaultText;
    Garbled = true;
    LogEntry(ltError, "TRfc2217Transport.Read", Fault);
  }
  std::vector<uint8_t> reply;
  for (const TTelnetCommand& command : commands) Client.Handle(command, reply);
  if (!reply.empty() && Link.Write(reply.data(), static_cast<int>(reply.size()), error) != 0) return -1;
  return 0;
}

// What a call reports once the data is handed over: the link's failure, or the server's fault.
int TRfc2217Transport::Failure(int pumped, std::string& error) const {
  if (pumped < 0) return -1;
  if (!Garbled) return 0;
  error = Fault;
  return -1;
}

int TRfc2217Transport::Close(std::string& error) {
  std::lock_guard<std::mutex> guard(Lock);
  const int rc = Link.Close(error);
  Parser.Reset();
  Pending.clear();
  Fault.clear();
  FaultText.clear();
  Garbled = false;
  return rc;
}

bool TRfc2217Transport::PortOpen() const { return Link.PortOpen(); }

std::string TRfc2217Transport::PortName() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Link.PortOpen() ? Name : std::string();
}

std::string TRfc2217Transport::Settings() const { return Link.Settings(); }

int TRfc2217Transport::InputMode() const { return Link.InputMode(); }

std::string TRfc2217Transport::Describe() const {
  std::lock_guard<std::mutex> guard(Lock);
  const std::string tcp = Link.Describe(), tcpName = Link.PortName();
  return Name + (tcp.rfind(tcpName, 0) == 0 ? tcp.substr(tcpName.size()) : std::string());
}

bool TRfc2217Transport::Lost() const { return Garbled || Link.Lost(); }

int TRfc2217Transport::DiscardInput(std::string& error) {
  std::lock_guard<std::mutex> guard(Lock);
  error.clear();
  if (!Link.PortOpen()) {
    error = kPortNotOpen;
    return 1;
  }
  const int pumped = Pump(error);
  Pending.clear();
  return Failure(pumped, error) < 0 ? 1 : 0;
}

int TRfc2217Transport::Write(const uint8_t* buf, int count, std::string& error) {
  std::lock_guard<std::mutex> guard(Lock);
  if (!Telnet || count <= 0) return Link.Write(buf, count, error);
  const std::vector<uint8_t> escaped = TelnetEscape(buf, static_cast<size_t>(count));
  return Link.Write(escaped.data(), static_cast<int>(escaped.size()), error);
}

int TRfc2217Transport::InBufferCount(std::string& error) {
  std::lock_guard<std::mutex> guard(Lock);
  error.clear();
  const int pumped = Pump(error);
  if (!Pending.empty()) {
    error.clear();
    return static_cast<int>(Pending.size());
  }
  return Failure(pumped, error);
}

int TRfc2217Transport::Read(int count, std::vector<uint8_t>& out, std::string& error) {
  std::lock_guard<std::mutex> guard(Lock);
  error.clear();
  const int pumped = Pump(error);
  if (Pending.empty() || count <= 0) return count <= 0 && pumped >= 0 ? 0 : Failure(pumped, error);
  error.clear();
  const size_t n = std::min(Pending.size(), static_cast<size_t>(count));
  out.insert(out.end(), Pending.begin(), Pending.begin() + static_cast<std::ptrdiff_t>(n));
  Pending.erase(Pending.begin(), Pending.begin() + static_cast<std::ptrdiff_t>(n));
  return static_cast<int>(n);
}

int TRfc2217Transport::WaitReadable(int timeoutMs, std::string& error) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (bool first = true;; first = false) {
    {
      std::lock_guard<std::mutex> guard(Lock);
      error.clear();
      const int pumped = Pump(error);
      if (!Pending.empty()) {
        error.clear();
        return 1;
      }
      if (Failure(pumped, error) < 0) return -1;
    }
    // Only telnet commands came, or nothing yet: wait on, without the lock, until the deadline.
    const int left = MsLeft(deadline);
    if (left == 0 && !first) return 0;
    const int r = Link.WaitReadable(left, error);
    if (r <= 0) return r;
  }
}

void TRfc2217Transport::Interrupt() { Link.Interrupt(); }
