// The virtual meter on a pseudo-terminal: the line, the thread, the faults and the text mode.
#include "sim/VirtualMeter.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "services/CommandExchange.h"
#include "sim/MeterCore.h"
#include "sim/MeterInput.h"

namespace {

using TClock = std::chrono::steady_clock;

// Pause between noise (or garbage) and the reply that follows it, so that a receiver sees them
// arrive apart, as on a real line.
constexpr int NoisePauseMs = 30;
// Longest wait for a client that does not read before the rest of a write is dropped.
constexpr int WriteStallMs = 2000;

std::string HexSpaced(const std::vector<uint8_t>& bytes) {
  static const char* hex = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    text += hex[b >> 4];
    text += hex[b & 15];
    text += ' ';
  }
  if (!text.empty()) text.pop_back();
  return text;
}

// A text line as the trace shows it: decoded from GBK (the line's code page), CR and LF visible.
std::string Printed(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (char c : CommandExchange::BytesToDisplay(bytes.data(), bytes.size())) {
    if (c == '\r') text += "\\r";
    else if (c == '\n') text += "\\n";
    else text += c;
  }
  return text;
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::string Trimmed(const std::vector<uint8_t>& line) {
  std::string text(line.begin(), line.end());
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

struct TVirtualMeter::TImpl {
  explicit TImpl(TMeterOptions options)
      : Options(std::move(options)), Core(Options.Address, Options.Password, Options.CollectorAddress),
        Faults(Options.Faults) {
    for (const auto& [di, data] : Options.Values) TMeterData::SetReading(Core.State, di, data);
    if (Options.PowerCutSec > 0) TMeterData::PowerCut(Core.State, Options.PowerCutSec);
  }

  TMeterOptions Options;
  mutable std::mutex Mutex;  // Core, Faults, Received, Trace
  TMeterCore Core;
  TMeterFaults Faults;
  std::vector<uint8_t> Received;
  std::function<void(const std::string&)> Trace;
  std::atomic<int> Replies{0};
  std::atomic<TClock::rep> LastReply{0};

  std::mutex WriteMutex;  // the master descriptor while it is written or closed
  int Master = -1;
  int Slave = -1;  // kept open so that the master never sees a hang-up between clients
  int Wake[2] = {-1, -1};
  std::string SlavePath;
  bool LinkMade = false;
  std::jthread Thread;
  std::atomic<bool> Running{false};

  // Meter thread only.
  TMeterInput Input;
  std::mt19937 Random{645};
  struct TScheduled {
    TClock::time_point Due;
    std::vector<uint8_t> Bytes;
  };
  std::vector<TScheduled> Scheduled;
  std::vector<uint8_t> PreviousReply;  // the last reply sent, preamble included (late replies)

  void Note(const std::string& line) {
    std::function<void(const std::string&)> trace;
    {
      std::lock_guard lock(Mutex);
      trace = Trace;
    }
    if (trace) trace(line);
  }

  // Sleeps `ms`, waking early when the meter stops. False when it stopped.
  bool Pause(int ms, const std::stop_token& stop) {
    auto until = TClock::now() + std::chrono::milliseconds(ms);
    while (!stop.stop_requested()) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(until - TClock::now()).count();
      if (left <= 0) return true;
      pollfd wake{Wake[0], POLLIN, 0};
      ::poll(&wake, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
    }
    return false;
  }

  // Writes everything unless the meter stops or the client stops reading for too long.
  void WriteAll(const std::vector<uint8_t>& bytes, const std::stop_token* stop) {
    std::lock_guard lock(WriteMutex);
    size_t done = 0;
    auto stallStart = TClock::now();
    while (Master >= 0 && done < bytes.size()) {
      if (stop && stop->stop_requested()) return;
      ssize_t n = ::write(Master, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        stallStart = TClock::now();
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return;
      if (TClock::now() - stallStart > std::chrono::milliseconds(WriteStallMs)) return;
      pollfd out{Master, POLLOUT, 0};
      ::poll(&out, 1, 50);
    }
  }

  std::vector<uint8_t> RandomBytes(int count, bool allowFrameStart) {
    std::vector<uint8_t> bytes;
    std::uniform_int_distribution<int> dist(0, 255);
    while (static_cast<int>(bytes.size()) < count) {
      uint8_t b = static_cast<uint8_t>(dist(Random));
      if (b == 0x68 && !allowFrameStart) continue;
      bytes.push_back(b);
    }
    return bytes;
  }

  // Writes the last piece of a reply. The count and the time are set before the write as well,
  // so that a client that has seen the reply never sees them lag behind; the time is then moved
  // to the moment the write returned.
  void WriteReplyEnd(const std::vector<uint8_t>& bytes, const std::stop_token& stop) {
    LastReply.store(TClock::now().time_since_epoch().count());
    Replies.fetch_add(1);
    WriteAll(bytes, &stop);
    LastReply.store(TClock::now().time_since_epoch().count());
  }

  static void Checksum(std::vector<uint8_t>& frame) {
    uint8_t sum = 0;
    for (size_t i = 0; i + 2 < frame.size(); ++i) sum = static_cast<uint8_t>(sum + frame[i]);
    frame[frame.size() - 2] = sum;
  }

  // The reply as the faults change it: another sender's address, C0H, a bad checksum or end.
  static void Mangle(std::vector<uint8_t>& frame, const TMeterFaults& faults) {
    if (frame.size() < 12) return;
    if (TMeterData::IsBcdAddress(faults.ReplyFrom)) {
      std::vector<uint8_t> address = TMeterData::AddressBytes(faults.ReplyFrom);
      std::copy(address.begin(), address.end(), frame.begin() + 1);
      Checksum(frame);
    }
    if (faults.AppLayerTimeout) {
      frame[8] = 0xC0;
      Checksum(frame);
    }
    if (faults.BadChecksum) frame[frame.size() - 2] = static_cast<uint8_t>(frame[frame.size() - 2] + 1);
    if (faults.BadEndByte) frame.back() = 0x61;
  }

  // A meter one behind: the reply to the previous request goes out first.
  void SendLateReply(const std::vector<uint8_t>& bytes, const TMeterFaults& faults, const std::stop_token& stop) {
    std::vector<uint8_t> previous = std::move(PreviousReply);
    PreviousReply = bytes;
    if (!faults.LateReply || previous.empty()) return;
    WriteAll(previous, &stop);
    Note("late     " + HexSpaced(previous));
  }

  void SendFrame(std::vector<uint8_t> frame, const TMeterFaults& faults, const std::stop_token& stop) {
    const int wait = Options.ResponseMs + faults.DelayMs;
    if (wait > 0 && !Pause(wait, stop)) return;
    if (faults.NoReply) {
      Note("reply withheld (fault: no reply)");
      return;
    }
    if (faults.GarbageBurstBytes > 0) {
      WriteAll(RandomBytes(faults.GarbageBurstBytes, false), &stop);
      if (!Pause(NoisePauseMs, stop)) return;
    }
    if (faults.Noise) {
      // A stray 68H with enough bytes after it that it can never pass for a frame start.
      std::vector<uint8_t> noise = RandomBytes(3, false);
      noise.push_back(0x68);
      std::vector<uint8_t> tail = RandomBytes(9, false);
      noise.insert(noise.end(), tail.begin(), tail.end());
      WriteAll(noise, &stop);
      if (!Pause(NoisePauseMs, stop)) return;
    }
    Mangle(frame, faults);
    std::vector<uint8_t> bytes(static_cast<size_t>(std::clamp(Options.PreambleCount, 0, 64)), 0xFE);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    SendLateReply(bytes, faults, stop);
    const size_t pieces = faults.SplitPieces > 1 ? std::min<size_t>(static_cast<size_t>(faults.SplitPieces), bytes.size()) : 1;
    for (size_t i = 0; i < pieces; ++i) {
      size_t from = bytes.size() * i / pieces, to = bytes.size() * (i + 1) / pieces;
      if (i > 0 && faults.SplitPauseMs > 0 && !Pause(faults.SplitPauseMs, stop)) return;
      std::vector<uint8_t> piece(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
      if (i + 1 < pieces) WriteAll(piece, &stop);
      else WriteReplyEnd(piece, stop);
    }
    Note("reply    " + HexSpaced(bytes));
  }

  void SendText(const std::string& text, const TMeterFaults& faults, const std::stop_token& stop) {
    if (faults.DelayMs > 0 && !Pause(faults.DelayMs, stop)) return;
    if (faults.NoReply) return;
    WriteReplyEnd(Bytes(text), stop);
    Note("text out " + Printed(Bytes(text)));
  }

  void OnText(const std::vector<uint8_t>& line, const std::stop_token& stop) {
    Note("text in  " + Printed(line));
    TMeterFaults faults;
    std::string address;
    {
      std::lock_guard lock(Mutex);
      faults = Faults;
      address = Core.State.Address;
    }
    const std::string text = Trimmed(line);
    const std::string command = Upper(text);
    if (command == "AT") return SendText("OK\r\n", faults, stop);
    if (command == "ATI")
      return SendText("DLT645 Workbench virtual meter\r\nProtocol: DL/T 645-2007\r\nAddress: " + address + "\r\nOK\r\n",
                      faults, stop);
    if (command.rfind("AT+ECHO=", 0) == 0) return SendText(text.substr(8) + "\r\n", faults, stop);
    if (command == "AT+SLOW") {
      SendText("Please wait.....\r\n", faults, stop);
      if (!faults.NoReply)
        Scheduled.push_back({TClock::now() + std::chrono::milliseconds(std::max(0, Options.SlowCommandMs)),
                             Bytes("SLOW DONE\r\nOK\r\n")});
      return;
    }
    SendText("ERROR\r\n", faults, stop);
  }

  bool AnswersBadChecksum() {
    std::lock_guard lock(Mutex);
    return Faults.AnswerBadChecksum;
  }

  void OnFrame(const std::vector<uint8_t>& frame, const std::stop_token& stop) {
    TMeterReply reply;
    TMeterFaults faults;
    {
      std::lock_guard lock(Mutex);
      faults = Faults;
      Core.AnswerAnyAddress = faults.AnswerAnyAddress;
      Core.IgnoreShortened = faults.IgnoreShortened;
      Core.ShortEnergy = faults.ShortEnergy;
      reply = Core.Handle(frame);
    }
    Note("request  " + HexSpaced(frame) + "  (" + reply.Note + ")");
    if (reply.Send) SendFrame(std::move(reply.Frame), faults, stop);
  }

  void Run(std::stop_token stop) {
    std::vector<uint8_t> chunk(4096);
    while (!stop.stop_requested()) {
      int timeout = Input.Empty() ? 200 : 50;
      auto now = TClock::now();
      for (const TScheduled& s : Scheduled) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(s.Due - now).count();
        timeout = static_cast<int>(std::clamp<long long>(left, 0, timeout));
      }
      pollfd fds[2] = {{Master, POLLIN, 0}, {Wake[0], POLLIN, 0}};
      int ready = ::poll(fds, 2, timeout);
      if (stop.stop_requested()) break;
      if (ready > 0 && (fds[0].revents & POLLIN)) {
        ssize_t n = ::read(Master, chunk.data(), chunk.size());
        if (n > 0) {
          {
            std::lock_guard lock(Mutex);
            Received.insert(Received.end(), chunk.begin(), chunk.begin() + n);
          }
          Input.Feed(chunk.data(), static_cast<size_t>(n), TClock::now());
        }
      } else if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR))) {
        Pause(50, stop);  // no client side left; nothing to read until one appears
      }
      TMeterInput::TEvent event;
      while (!stop.stop_requested() && Input.Next(event, TClock::now())) {
        if (event.Kind == TMeterInput::ikFrame) OnFrame(event.Bytes, stop);
        else if (event.Kind == TMeterInput::ikText) OnText(event.Bytes, stop);
        else if (AnswersBadChecksum()) OnFrame(event.Bytes, stop);
        else Note("request  " + HexSpaced(event.Bytes) + "  (bad checksum, no reply)");
      }
      now = TClock::now();
      for (size_t i = 0; i < Scheduled.size();) {
        if (Scheduled[i].Due > now) {
          ++i;
          continue;
        }
        std::vector<uint8_t> bytes = std::move(Scheduled[i].Bytes);
        Scheduled.erase(Scheduled.begin() + static_cast<long>(i));
        WriteReplyEnd(bytes, stop);
        Note("text out " + Printed(bytes));
      }
    }
  }

  void StopThread() {
    if (Thread.joinable()) {
      Thread.request_stop();
      if (Wake[1] >= 0) {
        char b = 1;
        ssize_t ignored = ::write(Wake[1], &b, 1);
        (void)ignored;
      }
      Thread.join();
    }
    Running = false;
  }

  void CloseLine() {
    std::lock_guard lock(WriteMutex);
    if (Master >= 0) ::close(Master);
    if (Slave >= 0) ::close(Slave);
    Master = Slave = -1;
  }

  void RemoveLink() {
    if (!LinkMade) return;
    char target[PATH_MAX];
    ssize_t n = ::readlink(Options.LinkPath.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<size_t>(n)) == SlavePath) ::unlink(Options.LinkPath.c_str());
    LinkMade = false;
  }
};

TVirtualMeter::TVirtualMeter(TMeterOptions options) : Impl(std::make_unique<TImpl>(std::move(options))) {}

TVirtualMeter::~TVirtualMeter() { Stop(); }

bool TVirtualMeter::Start(std::string& error) {
  TImpl& m = *Impl;
  error.clear();
  if (m.Running) return true;
  if (!TMeterData::IsBcdAddress(m.Options.Address)) {
    error = "虚拟电表的地址应为12位十进制数字（不能是999999999999）：" + m.Options.Address;
    return false;
  }
  auto fail = [&](const std::string& what) {
    error = what + "：" + std::strerror(errno);
    m.CloseLine();
    return false;
  };
  m.Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m.Master < 0) return fail("无法打开伪终端");
  char name[256];
  if (::grantpt(m.Master) != 0 || ::unlockpt(m.Master) != 0 || ::ptsname_r(m.Master, name, sizeof name) != 0)
    return fail("无法设置伪终端");
  m.SlavePath = name;
  m.Slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m.Slave < 0) return fail("无法打开" + m.SlavePath);
  termios tio{};
  if (::tcgetattr(m.Slave, &tio) != 0) return fail("无法读取伪终端的设置");
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, B9600);
  ::cfsetospeed(&tio, B9600);
  if (::tcsetattr(m.Slave, TCSANOW, &tio) != 0) return fail("无法设置伪终端的串口参数");
  if (::fcntl(m.Master, F_SETFL, ::fcntl(m.Master, F_GETFL) | O_NONBLOCK) != 0) return fail("无法设置伪终端为非阻塞");
  if (m.Wake[0] < 0 && ::pipe2(m.Wake, O_CLOEXEC | O_NONBLOCK) != 0) return fail("无法创建唤醒管道");
  // Drain a wake-up left over from an earlier stop.
  char drain[16];
  while (::read(m.Wake[0], drain, sizeof drain) > 0) {
  }

  if (!m.Options.LinkPath.empty()) {
    struct stat st{};
    if (::lstat(m.Options.LinkPath.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        errno = EEXIST;
        return fail("无法创建链接" + m.Options.LinkPath);
      }
      ::unlink(m.Options.LinkPath.c_str());  // a stale link of an earlier run
    }
    if (::symlink(m.SlavePath.c_str(), m.Options.LinkPath.c_str()) != 0) return fail("无法创建链接" + m.Options.LinkPath);
    m.LinkMade = true;
  }
  m.Running = true;
  m.Thread = std::jthread([&m](std::stop_token stop) { m.Run(stop); });
  return true;
}

void TVirtualMeter::Stop() {
  Impl->StopThread();
  Impl->CloseLine();
  Impl->RemoveLink();
  for (int& fd : Impl->Wake) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

std::string TVirtualMeter::PortPath() const { return Impl->SlavePath; }

void TVirtualMeter::SetFaults(const TMeterFaults& faults) {
  std::lock_guard lock(Impl->Mutex);
  Impl->Faults = faults;
}

std::vector<uint8_t> TVirtualMeter::ReceivedBytes() const {
  std::lock_guard lock(Impl->Mutex);
  return Impl->Received;
}

void TVirtualMeter::ClearReceived() {
  std::lock_guard lock(Impl->Mutex);
  Impl->Received.clear();
}

int TVirtualMeter::RepliesSent() const { return Impl->Replies.load(); }

std::chrono::steady_clock::time_point TVirtualMeter::LastReplyWritten() const {
  return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(Impl->LastReply.load()));
}

void TVirtualMeter::WriteRaw(const std::vector<uint8_t>& bytes) { Impl->WriteAll(bytes, nullptr); }

void TVirtualMeter::ClosePeer() {
  Impl->StopThread();
  Impl->CloseLine();
}

std::string TVirtualMeter::Address() const {
  std::lock_guard lock(Impl->Mutex);
  return Impl->Core.State.Address;
}

std::string TVirtualMeter::Password() const {
  std::lock_guard lock(Impl->Mutex);
  return Impl->Core.State.Password;
}

void TVirtualMeter::SetTrace(std::function<void(const std::string&)> trace) {
  std::lock_guard lock(Impl->Mutex);
  Impl->Trace = std::move(trace);
}
