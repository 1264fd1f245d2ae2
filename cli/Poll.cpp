// `dlt645 poll`: reads a list of identifiers from one or more meters over one port, round after
// round, for long runs: one CSV row per exchange, a progress line on a terminal and a summary of
// the replies, the failures and the round trips at the end (also after Ctrl-C).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <thread>

#include "cli/Command.h"
#include "cli/CommandOptions.h"
#include "cli/Exchange.h"
#include "cli/PollMqtt.h"
#include "cli/RoundTrips.h"
#include "protocol/DLT.h"
#include "protocol/PublicFunc.h"
#include "protocol/Reading.h"
#include "protocol/StringUtil.h"

namespace {

using TClock = std::chrono::steady_clock;

const char* const kDefaultLine = "9600,E,8,1";
// Exit codes: every exchange had a reply; a bad option or port; an exchange without a reply;
// a write that failed (the port failed or went away).
enum TPollExit : int { peOk = 0, peBadInput = 1, peNoReply = 2, peSendFailed = 3 };

const char kHelp[] =
    "用法：dlt645 poll --port PATH --address ADDR... (--di DI... | --di-file FILE)\n"
    "                  [--interval SEC] [--count N] [--duration TIME] [--csv FILE]\n"
    "                  [--timeout SEC] [--settings 9600,E,8,1] [--settings PATH]\n"
    "                  [--preamble LC:N|none] [--relay ADDR]... [--collector ADDR] [--verbose]\n"
    "                  [--mqtt mqtt://HOST:PORT/PREFIX [--mqtt-queue N]]\n"
    "\n"
    "通过工作台的通道逐个交互，一轮又一轮地从每块电表读取每个数据标识，直到满--count轮、\n"
    "过了--duration，或按下Ctrl-C。超时、无效应答和写失败都计数，并继续运行。\n"
    "链路断开时（设备被拔出或消失、网络对端消失）自动重新打开（同一设备路径或USB序列号、\n"
    "同一网络名称；0.5秒后重试，间隔加倍，最长8秒）；每次交互最多等待其超时时间让链路恢复，\n"
    "没能进行的交互都计为丢失。tcp-listen://链路在每次交互的超时时间内等待设备拨入。\n"
    "等待期间到达、但不是本次应答的帧（其控制码、地址或数据标识与请求不符：对先前请求的\n"
    "迟到应答、另一块电表的应答）决不当作读数，计为过时应答，并继续等待。\n"
    "\n"
    "  --port PATH       串口（或`dlt645 simulate`输出的路径）\n"
    "  --address ADDR    电表地址，1到12位十六进制数字；可重复\n"
    "  --di DI           数据标识，8位十六进制数字，DI3在前；可重复\n"
    "  --di-file FILE    从文件读取数据标识，每行一个；空行和#之后的文字被忽略\n"
    "  --interval SEC    每SEC秒开始一轮（默认1；可带小数；0：一轮结束后立即开始下一轮；\n"
    "                    最多86400）\n"
    "  --count N         N轮后停止\n"
    "  --duration TIME   过了TIME后停止：秒数，或带s、m、h的数（90、15m、2h）\n"
    "  --csv FILE        把数据行写到FILE而不是标准输出\n"
    "  --timeout SEC     每个应答最多等待SEC整秒（默认2）\n"
    "  --settings TEXT   线路设置：波特率,校验,数据位,停止位（默认9600,E,8,1）；其他取值\n"
    "                    为Setup.ini，从中取前导字节和采集器\n"
    "  --preamble LC:N   每帧前的N个前导字节LC（例如FE:4），或none\n"
    "  --relay ADDR      每块电表前的中继；按路由顺序重复给出（最多7个）\n"
    "  --collector ADDR  经此采集器抄读各电表\n"
    "  --verbose         在stderr上输出通道的日志条目\n"
    "  --mqtt URL        同时把每一行发布到MQTT服务器，URL为\n"
    "                    mqtt://[USER[:PASSWORD]@]HOST[:PORT]/PREFIX（不写端口时为1883；\n"
    "                    USER和PASSWORD中可用%XX转义）：每次交互一条JSON消息，主题为\n"
    "                    PREFIX/ADDRESS/IDENTIFIER，QoS 1，字段与数据行相同：time（ISO 8601，\n"
    "                    带UTC偏移）、address、identifier、name、raw_value、reading、unit、\n"
    "                    round_trip_ms（数字，没有应答时为null）、outcome。服务器不在时抄读\n"
    "                    照常进行：消息在队列中等待，连接反复重试（0.5秒起加倍，最长8秒）；\n"
    "                    连接的变化在stderr上告知\n"
    "  --mqtt-queue N    服务器不在时保留的消息数（默认1000）；队列满时丢弃最早的一条\n"
    "\n"
    "CSV（RFC 4180：以逗号分隔，含逗号或引号的字段加双引号，行以CR LF结尾；UTF-8，写到\n"
    "文件时带字节顺序标记，让电子表格把中文名称当作UTF-8），一行标题，每次交互一行：\n"
    "  time            交互开始时的本地时间，yyyy-mm-dd hh:mm:ss.zzz\n"
    "  address         所抄读的电表\n"
    "  identifier      数据标识\n"
    "  name            其名称（取自目录或读数表）\n"
    "  raw value       标识后的数据，高字节在前；无效应答时为收到的帧\n"
    "  reading         以工程单位表示的值（只有一个数时只写该数）\n"
    "  unit            读数的单位\n"
    "  round trip ms   从写出到应答的最后一个字节，三位小数\n"
    "  outcome         ok；error XXH及其含义（异常应答）；timeout；invalid reply；\n"
    "                  send failed: 加通道的消息（写失败）；lost: 加通道的消息（链路断开或\n"
    "                  正在重新打开）；等待期间来了N个不是本次应答的帧时，后面再加\n"
    "                  \", stale N\"\n"
    "\n"
    "在终端上，标准错误输出显示一行进度：已完成的轮数、应答数、失败数和上次的往返时间。\n"
    "结束时或按下Ctrl-C时输出汇总（Name=value行；数据行写到--csv时在标准输出上，否则在\n"
    "标准错误输出上）：Rounds=、Exchanges=、Replies=、ErrorReplies=、Timeouts=、\n"
    "InvalidReplies=、SendErrors=、Lost=（随链路丢失的交互）、Stale=（不是应答的帧）、\n"
    "OtherAddress=（其中来自其他地址的）、Interrupted=、RoundTripMinMs=、\n"
    "RoundTripMedianMs=（个数为偶数时取中间两个的平均）、RoundTripP95Ms=（最近秩）、\n"
    "RoundTripMaxMs=。带--mqtt时，在服务器连接期间最多等待5秒发完队列中的消息，然后输出\n"
    "MqttPublished=（服务器已确认）和MqttDropped=（被挤出队列或到结束时仍未确认），二者之和\n"
    "等于Exchanges=。\n"
    "\n"
    "退出状态：0 每次交互都有应答；1 选项有误、文件无法读取或写入、或串口无法打开；2 有交互\n"
    "超时或收到无效应答；3 有写失败，或有交互随链路丢失。\n";

struct TPollTarget {
  std::string Address;
  std::string DI;
  std::string Name;
  TDltFrame Frame;
};

struct TPollPlan {
  std::string Port;
  std::string Line = kDefaultLine;
  std::vector<TPollTarget> Targets;
  TPreamble Preamble;
  double IntervalSec = 1;
  long long Rounds = 0;       // 0: no limit
  double DurationSec = 0;     // 0: no limit
  std::string CsvPath;        // empty: standard output
  bool Verbose = false;
  TPollMqttPlan Mqtt;
};

struct TPollTally {
  long long Rounds = 0, Exchanges = 0, Replies = 0, ErrorReplies = 0, Timeouts = 0, Invalid = 0, SendErrors = 0;
  long long Stale = 0, OtherAddress = 0, Lost = 0;
  bool Interrupted = false;
  std::vector<double> Trips;
  double LastTrip = -1;
  long long Failures() const { return ErrorReplies + Timeouts + Invalid + SendErrors + Lost; }
};

int Bad(const std::string& message) {
  std::cerr << "dlt645 poll: " << message << "\n";
  return peBadInput;
}

bool IsHex(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A non-negative decimal number of seconds, optionally followed by one of `units` (s, m, h).
bool ParseSeconds(const std::string& text, bool withUnit, double& seconds) {
  std::string number = text;
  double scale = 1;
  if (withUnit && !number.empty() && std::string("smh").find(number.back()) != std::string::npos) {
    scale = number.back() == 'm' ? 60 : number.back() == 'h' ? 3600 : 1;
    number.pop_back();
  }
  if (number.empty() || number.size() > 12 || number.find_first_not_of("0123456789.") != std::string::npos ||
      std::count(number.begin(), number.end(), '.') > 1 || number == ".")
    return false;
  seconds = std::stod(number) * scale;
  return std::isfinite(seconds);
}

bool ParseWhole(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::stoll(text);
  return value >= low && value <= high;
}

// Identifiers from a file: one a line, blank lines and text after # ignored.
bool ReadDiFile(const std::string& path, std::vector<std::string>& dis, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "无法读取--di-file " + path + "：" + std::strerror(errno);
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    line.erase(std::remove_if(line.begin(), line.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); }), line.end());
    if (line.empty()) continue;
    if (line.size() != 8 || !IsHex(line)) {
      error = path + ":" + std::to_string(number) + "：“" + line + "”不是8位十六进制数字的数据标识";
      return false;
    }
    dis.push_back(Upper(line));
  }
  return true;
}

// The read command of one identifier for one meter, composed as `dlt645 send --cmd read` would.
bool ComposeRead(const TCliArgs& opts, const std::string& address, const std::string& di, int timeoutSec,
                 TPollTarget& target, TPreamble& preamble, std::string& error) {
  std::vector<std::string> args = {"--cmd", "read", "--address", address, "--di", di};
  for (const char* name : {"--settings", "--preamble", "--collector"})
    if (opts.Has(name)) args.insert(args.end(), {name, opts.Get(name)});
  for (const std::string& relay : opts.GetAll("--relay")) args.insert(args.end(), {"--relay", relay});
  TCliArgs composed;
  if (!composed.Parse(args, CommandValuedOptions(), CommandFlagOptions(), error)) return false;
  if (ComposeFromOptions(composed, target.Frame, preamble, error) != ceOk) return false;
  target.Frame.TimeoutSec = timeoutSec;
  target.Address = PadAddress(Upper(address));
  target.DI = di;
  target.Name = IdentifierName(di);
  return true;
}

// Options -> plan: peOk, or peBadInput after the message has been printed.
int ParsePlan(const std::vector<std::string>& rawArgs, TPollPlan& plan) {
  std::vector<std::string> args = TakeLineSettings(rawArgs, plan.Line);
  TCliArgs opts;
  std::string error;
  if (!opts.Parse(args,
                  {"--port", "--address", "--di", "--di-file", "--interval", "--count", "--duration", "--csv",
                   "--timeout", "--settings", "--preamble", "--relay", "--collector", "--mqtt", "--mqtt-queue"},
                  {"--verbose"}, error))
    return Bad(error);
  if (!opts.Positional().empty()) return Bad("多余的参数“" + opts.Positional()[0] + "”");
  plan.Port = opts.Get("--port");
  if (plan.Port.empty()) return Bad("缺少--port");
  if (!opts.Has("--address")) return Bad("缺少--address（多块电表时重复给出）");
  plan.Verbose = opts.Has("--verbose");
  if (opts.Has("--interval") && (!ParseSeconds(opts.Get("--interval"), false, plan.IntervalSec) || plan.IntervalSec > 86400))
    return Bad("--interval“" + opts.Get("--interval") + "”应为0到86400之间的秒数");
  if (opts.Has("--count") && !ParseWhole(opts.Get("--count"), 1, 1000000000000LL, plan.Rounds))
    return Bad("--count“" + opts.Get("--count") + "”应为不小于1的轮数");
  if (opts.Has("--duration") &&
      (!ParseSeconds(opts.Get("--duration"), true, plan.DurationSec) || plan.DurationSec <= 0 || plan.DurationSec > 1e8))
    return Bad("--duration“" + opts.Get("--duration") + "”应为90、90s、15m或2h这样的时长（最多1e8秒）");
  long long timeout = 2;
  if (opts.Has("--timeout") && !ParseWhole(opts.Get("--timeout"), 0, 3600, timeout))
    return Bad("--timeout“" + opts.Get("--timeout") + "”应为0到3600之间的秒数");
  if (opts.Has("--csv")) {
    plan.CsvPath = opts.Get("--csv");
    if (plan.CsvPath.empty()) return Bad("--csv缺少文件名");
  }
  if (!ParsePollMqtt(opts, plan.Mqtt, error)) return Bad(error);

  std::vector<std::string> dis;
  for (const std::string& di : opts.GetAll("--di")) {
    if (di.size() != 8 || !IsHex(di)) return Bad("--di“" + di + "”应为8位十六进制数字");
    dis.push_back(Upper(di));
  }
  if (opts.Has("--di-file") && !ReadDiFile(opts.Get("--di-file"), dis, error)) return Bad(error);
  if (dis.empty()) return Bad("请用--di或--di-file给出数据标识");

  for (const std::string& address : opts.GetAll("--address")) {
    if (address.empty() || address.size() > 12 || !IsHex(address))
      return Bad("--address“" + address + "”应为1到12位十六进制数字的地址");
    for (const std::string& di : dis) {
      TPollTarget target;
      if (!ComposeRead(opts, address, di, static_cast<int>(timeout), target, plan.Preamble, error)) return Bad(error);
      plan.Targets.push_back(std::move(target));
    }
  }
  return peOk;
}

// ---- Output ------------------------------------------------------------------------------

std::string Ms(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

std::string LocalTimeMs(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  const long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03ld", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ms);
  return text;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

class TCsvOut {
 public:
  // Opens FILE (or takes standard output); false with the reason when it cannot be written.
  bool Open(const std::string& path, std::string& error) {
    if (path.empty()) {
      File = stdout;
      struct stat st {};
      Bom = ::fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
    } else {
      File = std::fopen(path.c_str(), "wb");
      if (!File) {
        error = "无法写入" + path + "：" + std::strerror(errno);
        return false;
      }
      Own = true;
      Bom = true;
    }
    if (Bom) std::fputs("\xEF\xBB\xBF", File);
    Row({"time", "address", "identifier", "name", "raw value", "reading", "unit", "round trip ms", "outcome"});
    return true;
  }
  void Row(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) line += (i ? "," : "") + CsvField(fields[i]);
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), File);
  }
  bool Close(std::string& error) {
    bool ok = std::fflush(File) == 0 && !std::ferror(File);
    if (Own) ok = std::fclose(File) == 0 && ok;
    File = nullptr;
    if (!ok) error = std::string("写入数据行失败：") + std::strerror(errno);
    return ok;
  }
  ~TCsvOut() {
    if (Own && File) std::fclose(File);
  }

 private:
  FILE* File = nullptr;
  bool Own = false;
  bool Bom = false;
};

// The outcome column and the counts of the answer itself.
std::string ReplyOutcome(const TExchangeResult& r, std::vector<std::string>& row, TPollTally& tally) {
  const TFrameBody& b = r.Body;
  ++tally.Replies;
  tally.Trips.push_back(r.RoundTripMs);
  tally.LastTrip = r.RoundTripMs;
  row[7] = Ms(r.RoundTripMs);
  if (!b.Normal) {
    ++tally.ErrorReplies;
    uint8_t word = 0;
    TStringUtil::TryHexPair(b.Data.substr(0, 2), word);
    return "error " + b.Data.substr(0, 2) + "H " + TDLT::ErrorText(word);
  }
  const TReading reading = ReplyReading(b);
  row[4] = b.Data.size() > 8 ? ReverseHex(b.Data.substr(8)) : "";
  row[5] = reading.Value;
  row[6] = reading.Unit;
  return "ok";
}

std::string Outcome(const TExchangeResult& r, std::vector<std::string>& row, TPollTally& tally) {
  switch (r.Kind) {
    case ekReply: return ReplyOutcome(r, row, tally);
    case ekTimeout:
      ++tally.Timeouts;
      return "timeout";
    case ekInvalid:
      ++tally.Invalid;
      row[4] = r.InvalidFrame;
      return "invalid reply";
    case ekSendError:
    case ekFailed:
      if (r.LinkLost) {
        ++tally.Lost;
        return "lost: " + r.Message;
      }
      ++tally.SendErrors;
      return "send failed: " + r.Message;
    default: return r.Message;
  }
}

// One CSV row for an exchange, counted in the tally. Frames that were not the answer are only
// counted: their values are never shown as the reading of the request.
std::vector<std::string> ExchangeRow(const TPollTarget& target, const TExchangeResult& r, const std::string& started,
                                     TPollTally& tally) {
  std::vector<std::string> row = {started, target.Address, target.DI, target.Name, "", "", "", "", ""};
  ++tally.Exchanges;
  row[8] = Outcome(r, row, tally);
  for (const TStrayReply& stray : r.Strays) {
    ++tally.Stale;
    if (stray.OtherAddress) ++tally.OtherAddress;
  }
  if (!r.Strays.empty()) row[8] += ", stale " + std::to_string(r.Strays.size());
  return row;
}

void ShowProgress(const TPollTally& t, bool final) {
  char line[160];
  std::snprintf(line, sizeof line, "\r第%lld轮：应答%lld，失败%lld，上次往返%s ms", t.Rounds,
                t.Replies, t.Failures(), t.LastTrip < 0 ? "-" : Ms(t.LastTrip).c_str());
  std::fprintf(stderr, "%-78s%s", line, final ? "\n" : "");
  std::fflush(stderr);
}

void PrintSummary(const TPollTally& t, std::FILE* out) {
  std::fprintf(out,
               "Rounds=%lld\nExchanges=%lld\nReplies=%lld\nErrorReplies=%lld\nTimeouts=%lld\nInvalidReplies=%lld\n"
               "SendErrors=%lld\nLost=%lld\nStale=%lld\nOtherAddress=%lld\nInterrupted=%d\n",
               t.Rounds, t.Exchanges, t.Replies, t.ErrorReplies, t.Timeouts, t.Invalid, t.SendErrors, t.Lost, t.Stale,
               t.OtherAddress, t.Interrupted ? 1 : 0);
  if (!t.Trips.empty()) {
    const TRoundTrips f = RoundTripFigures(t.Trips);
    std::fprintf(out, "RoundTripMinMs=%s\nRoundTripMedianMs=%s\nRoundTripP95Ms=%s\nRoundTripMaxMs=%s\n",
                 Ms(f.Min).c_str(), Ms(f.Median).c_str(), Ms(f.P95).c_str(), Ms(f.Max).c_str());
  }
  std::fflush(out);
}

// Waits until `until`, ending early on Ctrl-C.
void WaitUntil(TClock::time_point until) {
  const std::atomic<bool>& interrupted = InterruptFlag();
  while (!interrupted && TClock::now() < until)
    std::this_thread::sleep_for(std::min<TClock::duration>(until - TClock::now(), std::chrono::milliseconds(20)));
}

// The rounds: every target once per round, until the count, the duration or Ctrl-C.
void RunRounds(const TPollPlan& plan, TCliLink& link, TCsvOut& csv, TPollMqtt& mqtt, TPollTally& tally) {
  const std::atomic<bool>& interrupted = InterruptFlag();
  const bool progress = ::isatty(STDERR_FILENO) != 0;
  const TClock::time_point start = TClock::now();
  const auto interval = std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(plan.IntervalSec));
  const auto end = start + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(plan.DurationSec));
  auto over = [&] { return interrupted || (plan.DurationSec > 0 && TClock::now() >= end); };
  TClock::time_point shown{};
  for (long long round = 0; (plan.Rounds == 0 || round < plan.Rounds) && !over(); ++round) {
    for (const TPollTarget& target : plan.Targets) {
      if (over()) break;
      const auto startedAt = std::chrono::system_clock::now();
      const std::string started = LocalTimeMs(startedAt);
      TExchangeResult result = link.Exchange(target.Frame, {});
      if (result.Kind == ekInterrupted) break;
      const std::vector<std::string> row = ExchangeRow(target, result, started, tally);
      csv.Row(row);
      mqtt.Publish(row, startedAt);
      if (progress && TClock::now() - shown > std::chrono::milliseconds(100)) {
        ShowProgress(tally, false);
        shown = TClock::now();
      }
    }
    if (interrupted) break;
    ++tally.Rounds;
    if (progress) ShowProgress(tally, false);
    WaitUntil(start + interval * (round + 1));
  }
  tally.Interrupted = interrupted;
  if (progress) ShowProgress(tally, true);
}

int RunPoll(const std::vector<std::string>& args) {
  TPollPlan plan;
  if (int code = ParsePlan(args, plan); code != peOk) return code;
  InterruptFlag();
  TCsvOut csv;
  std::string error;
  if (!csv.Open(plan.CsvPath, error)) return Bad(error);
  TCliLink link(plan.Preamble, plan.Verbose);
  if (!link.Open(plan.Port, plan.Line, error)) return Bad(error);

  TPollMqtt mqtt;
  if (!mqtt.Start(plan.Mqtt, error)) return Bad(error);

  TPollTally tally;
  RunRounds(plan, link, csv, mqtt, tally);
  link.Close();
  const bool written = csv.Close(error);
  PrintSummary(tally, plan.CsvPath.empty() ? stderr : stdout);
  mqtt.Finish(plan.CsvPath.empty() ? stderr : stdout);
  if (!written) return Bad(error);
  if (tally.SendErrors + tally.Lost > 0) return peSendFailed;
  return tally.Timeouts + tally.Invalid > 0 ? peNoReply : peOk;
}

const TCliRegistrar kRegistrar({"poll", "一轮又一轮地从电表读取数据标识，写成CSV", kHelp, &RunPoll});

}  // namespace
