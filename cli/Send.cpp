// `dlt645 send`: one command through the workbench's own channel and sending thread to a meter
// on a serial port (or the virtual meter's pseudo-terminal), with the reply decoded.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <regex>

#include "cli/Command.h"
#include "cli/CommandOptions.h"
#include "cli/Exchange.h"
#include "cli/FrameBodyText.h"
#include "cli/RoundTrips.h"
#include "protocol/DLT.h"
#include "protocol/Protocol.h"
#include "protocol/StringUtil.h"

namespace {

const char* const kDefaultLine = "9600,E,8,1";
const char* const kSuccess = "成功";
const char* const kFailure = "失败";
const char* const kAppTimeout = "应用层超时";
const char* const kNoReplyNote = "发送完毕，%s无回应帧";
enum TSendExit : int { seTimeout = 2, seInterrupted = 3 };

std::string Help() {
  return "用法：dlt645 send --port PATH [--settings 9600,E,8,1] --frame HEX\n"
         "      dlt645 send --port PATH [--settings 9600,E,8,1] --cmd NAME [命令选项]\n"
         "                  [--count N] [--timeout SEC] [--verbose]\n"
         "\n"
         "通过工作台的通道和发送线程发送一条命令，输出写出的字节、应答的各字段、往返时间和\n"
         "结果。\n"
         "\n"
         "  --port PATH       串口（/dev/ttyUSB0，或`dlt645 simulate`输出的路径）\n"
         "  --settings TEXT   线路设置：波特率,校验,数据位,停止位（默认" +
         std::string(kDefaultLine) +
         "）；\n"
         "                    其他取值为Setup.ini（见下文）\n"
         "  --frame HEX       按主窗口的帧模式输入的帧：不带前导字节发送；补上校验和与16H，\n"
         "                    除非HEX已以二者结尾（从第一个68H起是一个完整的帧）\n"
         "  --count N         发送该命令N次；超时或无效应答计数后继续（写失败则结束）；最后\n"
         "                    输出计数和往返时间\n"
         "  --timeout SEC     最多等待应答SEC秒（默认：命令自身的超时，输入的帧为10秒）\n"
         "  --verbose         在stderr上输出这次交互的日志条目\n"
         "\n" +
         CommandOptionsHelp() +
         "\n"
         "输出：Sent=，有应答时再有Reply=、Address=、Ctrl=、Dir=、Normal=、LastFrame=、\n"
         "FuncCode=、Len=、Data=（读数据应答还有Value=、Identifier=、Name=和Reading=，异常\n"
         "应答还有ErrorText=）、RoundTripMs=（从写出到应答的最后一个字节，三位小数）和\n"
         "Result=（成功、失败或应用层超时，与主窗口显示的相同）。等待期间到达、但不是本次\n"
         "应答的帧（其控制码、地址或数据标识与请求不符：对先前请求的迟到应答、另一块电表的\n"
         "应答）决不当作应答：以Stale=输出该帧和原因，并继续等待。带--count时还有\n"
         "Exchanges=、Replies=、Timeouts=、InvalidReplies=、SendErrors=、StaleReplies=、\n"
         "OtherAddress=（其中来自其他地址的）、RoundTripMinMs=、RoundTripMedianMs=和\n"
         "RoundTripMaxMs=。\n"
         "\n"
         "退出状态：0 每次交互都有应答（或不需要应答）；1 串口无法打开或被占用、应答无效或\n"
         "写串口失败；2 应答未按时到达（或选项有误）；3 被Ctrl-C中断。\n";
}

// A typed frame: hex digits with optional blanks. CS and 16H are added as the main window adds
// them, unless the bytes from the first 68H on already form a valid frame.
bool TypedFrame(const std::string& text, std::vector<uint8_t>& bytes, std::string& error) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == '\t') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      error = "--frame“" + text + "”不是十六进制数";
      return false;
    }
    digits += c;
  }
  if (digits.size() < 2) {
    error = "--frame至少需要一个字节";
    return false;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  auto start = std::find(bytes.begin(), bytes.end(), uint8_t{0x68});
  std::string verdict;
  if (start != bytes.end() &&
      TProtocol::CheckFrame(&*start, static_cast<int>(bytes.end() - start), verdict) == 0) {
    return true;
  }
  uint8_t cs = TProtocol::CheckSum(bytes.data(), 0, static_cast<int>(bytes.size()));
  bytes.push_back(cs);
  bytes.push_back(0x16);
  return true;
}

bool ParseCount(const std::string& text, int low, int high, int& value) {
  if (text.empty() || text.size() > 7 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  value = std::stoi(text);
  return value >= low && value <= high;
}

// What the options ask for.
struct TSendRequest {
  std::string Port;
  std::string Line = kDefaultLine;
  int Count = 1;
  bool Raw = false;
  std::vector<uint8_t> Typed;  // the typed frame's bytes
  TDltFrame Frame;
  TPreamble Preamble;
  bool Verbose = false;
};

// The counts and round trips of a --count run.
struct TSendTally {
  int Exchanges = 0, Replies = 0, Timeouts = 0, Invalid = 0, SendErrors = 0, Stale = 0, OtherAddress = 0;
  std::vector<double> Trips;
};

std::string Ms(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

int Bad(const std::string& message) {
  std::cerr << "dlt645 send: " << message << "\n";
  return ceBadInput;
}

// Options -> request: ceOk, or the exit code after the message has been printed.
int ParseSendRequest(const std::vector<std::string>& rawArgs, TSendRequest& request) {
  std::vector<std::string> args = TakeLineSettings(rawArgs, request.Line);
  std::vector<std::string> valued = CommandValuedOptions();
  for (const char* o : {"--port", "--frame", "--count", "--timeout"}) valued.push_back(o);
  std::vector<std::string> flags = CommandFlagOptions();
  flags.push_back("--verbose");
  TCliArgs opts;
  std::string error;
  if (!opts.Parse(args, valued, flags, error)) return Bad(error);
  if (!opts.Positional().empty()) return Bad("多余的参数“" + opts.Positional()[0] + "”");
  request.Port = opts.Get("--port");
  if (request.Port.empty()) return Bad("缺少--port");
  int timeout = -1;
  if (opts.Has("--count") && !ParseCount(opts.Get("--count"), 1, 1000000, request.Count)) {
    return Bad("--count“" + opts.Get("--count") + "”应为1到1000000之间的数字");
  }
  if (opts.Has("--timeout") && !ParseCount(opts.Get("--timeout"), 0, 3600, timeout)) {
    return Bad("--timeout“" + opts.Get("--timeout") + "”应为0到3600之间的秒数");
  }
  request.Verbose = opts.Has("--verbose");
  request.Raw = opts.Has("--frame");
  if (request.Raw) {
    if (opts.Has("--cmd")) return Bad("--frame与--cmd不能同时使用");
    if (!TypedFrame(opts.Get("--frame"), request.Typed, error)) return Bad(error);
    request.Frame.RawFrame = true;
    request.Frame.TimeoutSec = 10;
  } else {
    if (!opts.Has("--cmd")) return Bad("请给出--frame HEX或--cmd NAME（见--help）");
    int result = ComposeFromOptions(opts, request.Frame, request.Preamble, error);
    if (result != ceOk) {
      std::cerr << "dlt645 send: " << error << "\n";
      return result;
    }
  }
  if (timeout >= 0) request.Frame.TimeoutSec = timeout;
  return ceOk;
}

// The bytes that go on the line: the typed frame, or the preamble and the packed frame.
std::vector<uint8_t> SentBytes(const TSendRequest& request) {
  if (request.Raw) return request.Typed;
  std::vector<uint8_t> bytes;
  const TPreamble& p = request.Preamble;
  uint8_t lc = 0;
  if (p.UseLC && p.LCCount > 0 && TStringUtil::TryHexPair(p.LC, lc)) bytes.assign(static_cast<size_t>(p.LCCount), lc);
  std::unique_ptr<uint8_t[]> packed;
  int len = 0;
  std::string ignored;
  if (TProtocol::Pack(request.Frame.Address, request.Frame, request.Frame.DataField, packed, len, ignored) == 0)
    bytes.insert(bytes.end(), packed.get(), packed.get() + len);
  return bytes;
}

void PrintReply(const TExchangeResult& r) {
  const TFrameBody& b = r.Body;
  std::string result = b.Ctrl == 0xC0 ? kAppTimeout : (b.Normal ? kSuccess : kFailure);
  std::cout << "Reply=" << b.FrameText << "\n" << FrameBodyLines(b);
  std::cout << "RoundTripMs=" << Ms(r.RoundTripMs) << "\n"
            << "Result=" << result << "\n";
}

// Prints what one exchange gave and counts it; returns the exit code it calls for (ceOk, or the
// code of a failure), and whether the run must stop.
// Frames that came during the wait but were not the answer: counted, shown (for the first
// exchange) with the reason, never as the reply.
void ReportStrays(const TExchangeResult& r, bool first, TSendTally& tally) {
  for (const TStrayReply& stray : r.Strays) {
    ++tally.Stale;
    if (stray.OtherAddress) ++tally.OtherAddress;
    if (first) std::cout << "Stale=" << stray.Body.FrameText << stray.Reason << "\n";
  }
}

int ReportExchange(const TSendRequest& request, const TExchangeResult& r, bool first, TSendTally& tally, bool& stop) {
  stop = false;
  ++tally.Exchanges;
  ReportStrays(r, first, tally);
  switch (r.Kind) {
    case ekReply:
      ++tally.Replies;
      tally.Trips.push_back(r.RoundTripMs);
      if (first) PrintReply(r);
      return ceOk;
    case ekNoReplyWanted:
      if (first) {
        std::string note = kNoReplyNote;
        note.replace(note.find("%s"), 2, request.Frame.CmdName);
        std::cout << note << "\n";
      }
      return ceOk;
    case ekTimeout:
      ++tally.Timeouts;
      std::cerr << r.Message << "\n";
      return seTimeout;
    case ekInvalid:
      ++tally.Invalid;
      std::cerr << r.Message << "\n";
      if (!r.InvalidFrame.empty()) std::cerr << "收到无效数据报文：" << r.InvalidFrame << "\n";
      return ceFailed;
    case ekSendError:
      ++tally.SendErrors;
      stop = true;
      std::cerr << r.Message << "\n";
      return ceFailed;
    case ekInterrupted:
      --tally.Exchanges;
      stop = true;
      std::cerr << r.Message << "\n";
      return seInterrupted;
    case ekFailed: break;
  }
  --tally.Exchanges;
  stop = true;
  std::cerr << r.Message << "\n";
  return ceFailed;
}

void PrintTally(const TSendTally& t) {
  std::cout << "Exchanges=" << t.Exchanges << "\n"
            << "Replies=" << t.Replies << "\n"
            << "Timeouts=" << t.Timeouts << "\n"
            << "InvalidReplies=" << t.Invalid << "\n"
            << "SendErrors=" << t.SendErrors << "\n"
            << "StaleReplies=" << t.Stale << "\n"
            << "OtherAddress=" << t.OtherAddress << "\n";
  if (t.Trips.empty()) return;
  const TRoundTrips f = RoundTripFigures(t.Trips);
  std::cout << "RoundTripMinMs=" << Ms(f.Min) << "\n"
            << "RoundTripMedianMs=" << Ms(f.Median) << "\n"
            << "RoundTripMaxMs=" << Ms(f.Max) << "\n";
}

// A timeout outweighs an invalid reply; Ctrl-C and a failing port end the run with their own code.
int Worse(int current, int next) {
  if (current == seInterrupted || next == seInterrupted) return seInterrupted;
  if (current == seTimeout || next == seTimeout) return seTimeout;
  return current != ceOk ? current : next;
}

int RunSend(const std::vector<std::string>& args) {
  TSendRequest request;
  if (int code = ParseSendRequest(args, request); code != ceOk) return code;

  TCliLink link(request.Preamble, request.Verbose);
  std::string error;
  if (!link.Open(request.Port, request.Line, error)) {
    std::cerr << error << "\n";
    return ceFailed;
  }
  TSendTally tally;
  int exitCode = ceOk;
  for (int i = 0; i < request.Count; ++i) {
    TExchangeResult result = link.Exchange(request.Frame, request.Typed);
    if (i == 0 && result.Kind != ekFailed && result.Kind != ekSendError) {
      const std::vector<uint8_t> sent = SentBytes(request);
      std::cout << "Sent=" << TStringUtil::BytesToHexSpaced(sent.data(), static_cast<int>(sent.size())) << "\n";
    }
    bool stop = false;
    exitCode = Worse(exitCode, ReportExchange(request, result, i == 0, tally, stop));
    if (stop) break;
  }
  link.Close();
  if (request.Count > 1) PrintTally(tally);
  return exitCode;
}

const TCliRegistrar Registrar({"send", "经通道向电表发送一条命令并输出应答",
                               Help(), &RunSend});

}  // namespace
