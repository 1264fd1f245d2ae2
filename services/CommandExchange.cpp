#include "services/CommandExchange.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

#include "comm/Channel.h"
#include "comm/Transport.h"
#include "services/TextCodec.h"

namespace {

using TClock = std::chrono::steady_clock;

const char* const kPortNotOpen = "串口未打开！";
const char* const kTimeout = "等待数据回应超时！";
const char* const kInterrupted = "通信被中断！";
const char* const kBusy = "串口正忙，请稍后再试！";
const char* const kNotGbk = "命令中有GBK无法表示的字符，未发送。";
const char* const kCutNote = "（回应超过8192字节，只收取了前8192字节）";
const char kPleaseWait[] = "Please wait.....";

TTextReply Failed(int code, const std::string& error) {
  TTextReply result;
  result.Code = code;
  result.Error = error;
  return result;
}

long long MsSince(TClock::time_point from) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - from).count();
}

bool Contains(const std::vector<uint8_t>& bytes, const char* text) {
  const std::string needle(text);
  return std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()) != bytes.end();
}

void AppendEscaped(std::string& out, uint8_t byte) {
  static const char hex[] = "0123456789ABCDEF";
  out += "\\x";
  out += hex[byte >> 4];
  out += hex[byte & 15];
}

// The wait of one exchange, from the write to the end of the answer.
class TCollector {
 public:
  TCollector(const TTextLine& line, int delaySeconds) : Line(line), DelayMs(delaySeconds * 1000LL) {}

  TTextReply Run() {
    Start = TClock::now();
    for (;;) {
      Pass();
      if (MsSince(Start) > DelayMs) return Failed(trTimeout, kTimeout);
      if (Line.Interrupted && Line.Interrupted->load()) return Failed(trInterrupted, kInterrupted);
      std::string error;
      int waiting = Line.Port->InBufferCount(error);
      if (waiting < 0) return Failed(trPortClosed, error);
      if (waiting > 0) {
        if (!Collect(waiting, error)) return Failed(trPortClosed, error);
        if (Cut) return Reply();
      }
      if (Last && MsSince(*Last) > CommandExchange::SilenceMs) return Reply();
    }
  }

 private:
  // Lets the window work, then waits up to one pass; bytes arriving or an interrupt end it early,
  // and it ends no later than the moment the silence or the delay runs out.
  void Pass() {
    if (Line.ProcessMessages) Line.ProcessMessages();
    long long wait = std::min<long long>(CommandExchange::PassMs, DelayMs + 1 - MsSince(Start));
    if (Last) wait = std::min<long long>(wait, CommandExchange::SilenceMs + 1 - MsSince(*Last));
    Line.Port->WaitReadable(static_cast<int>(std::max<long long>(wait, 0)));
  }

  // Takes what fits of the waiting bytes; more than fits ends the collection as cut.
  bool Collect(int waiting, std::string& error) {
    const int room = CommandExchange::Capacity - static_cast<int>(Buffer.size());
    const int take = waiting < room ? waiting : room;
    if (take > 0 && Line.Port->Read(take, Buffer, error) < 0) return false;
    if (waiting > room) {
      Cut = true;
      return true;
    }
    if (!Waited && Contains(Buffer, kPleaseWait)) {
      PleaseWaitPause();
      Start = TClock::now();
      Waited = true;
      Last.reset();
    } else {
      Last = TClock::now();
    }
    return true;
  }

  // The device asked for patience: one second without reading, the window still working.
  void PleaseWaitPause() {
    const auto until = TClock::now() + std::chrono::milliseconds(CommandExchange::PleaseWaitPauseMs);
    while (TClock::now() < until) {
      if (Line.ProcessMessages) Line.ProcessMessages();
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - TClock::now());
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(CommandExchange::PassMs)));
    }
  }

  TTextReply Reply() const {
    TTextReply result;
    result.Reply = CommandExchange::BytesToDisplay(Buffer.data(), Buffer.size());
    result.Cut = Cut;
    return result;
  }

  const TTextLine& Line;
  const long long DelayMs;
  TClock::time_point Start;
  std::optional<TClock::time_point> Last;
  bool Waited = false;
  bool Cut = false;
  std::vector<uint8_t> Buffer;
};

}  // namespace

std::string TTextReply::Content() const {
  if (!Error.empty()) return Error;
  if (!Cut) return Reply;
  return Reply + "\r\n" + kCutNote;
}

namespace CommandExchange {

std::string TrimBlanks(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && static_cast<uint8_t>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<uint8_t>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

std::string CommandLine(const std::string& field) { return TrimBlanks(field) + "\r"; }

TTextReply SendAndWait(const TTextLine& line, const std::string& text, int delaySeconds) {
  if (line.Interrupted) line.Interrupted->store(false);
  if (!line.Port || !line.Port->PortOpen()) return Failed(trPortClosed, kPortNotOpen);

  // The sending thread holds this lock for each of its exchanges; holding it here keeps the two
  // from using the port at once. A frame still queued would wait behind this exchange and its
  // reply would be read here, so the exchange is refused then.
  std::unique_lock<std::mutex> exchange;
  if (line.Channel) {
    exchange = std::unique_lock<std::mutex>(line.Channel->ExchangeLock(), std::try_to_lock);
    if (!exchange.owns_lock() || line.Channel->Busy()) return Failed(trBusy, kBusy);
  }

  bool encoded = true;
  const std::string bytes = Utf8ToGbk(text, &encoded);
  if (!encoded) return Failed(trNotGbk, kNotGbk);

  std::string error;
  if (line.Port->DiscardInput(error) != 0 ||
      line.Port->Write(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()), error) != 0)
    return Failed(trPortClosed, error);
  return TCollector(line, delaySeconds).Run();
}

std::string BytesToDisplay(const uint8_t* data, std::size_t count) {
  std::string out;
  out.reserve(count + count / 2);
  for (std::size_t i = 0; i < count;) {
    const uint8_t b = data[i];
    if (b < 0x80) {
      if (b < 0x20 && b != '\r' && b != '\n' && b != '\t') AppendEscaped(out, b);
      else if (b == 0x7F) AppendEscaped(out, b);
      else out += static_cast<char>(b);
      ++i;
      continue;
    }
    // A GBK pair: lead 81H..FEH, trail 40H..FEH but not 7FH.
    if (b >= 0x81 && b <= 0xFE && i + 1 < count && data[i + 1] >= 0x40 && data[i + 1] <= 0xFE && data[i + 1] != 0x7F) {
      bool ok = true;
      std::string decoded = GbkToUtf8(std::string(reinterpret_cast<const char*>(data + i), 2), &ok);
      if (ok) {
        out += decoded;
        i += 2;
        continue;
      }
    }
    AppendEscaped(out, b);
    ++i;
  }
  return out;
}

std::vector<std::string> LogLines(const std::string& content) {
  const std::string text = TrimBlanks(content);
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", from)) {
    lines.push_back(text.substr(from, at - from));
    from = at + 2;
  }
  std::string rest = TrimBlanks(text.substr(from));
  if (!rest.empty()) lines.push_back(rest);
  return lines;
}

}  // namespace CommandExchange
