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
    "Usage: dlt645 poll --port PATH --address ADDR... (--di DI... | --di-file FILE)\n"
    "                   [--interval SEC] [--count N] [--duration TIME] [--csv FILE]\n"
    "                   [--timeout SEC] [--settings 9600,E,8,1] [--settings PATH]\n"
    "                   [--preamble LC:N|none] [--relay ADDR]... [--collector ADDR] [--verbose]\n"
    "                   [--mqtt mqtt://HOST:PORT/PREFIX [--mqtt-queue N]]\n"
    "\n"
    "Reads every identifier from every meter, one exchange after the other through the\n"
    "workbench's channel, round after round, until --count rounds or --duration have passed, or\n"
    "until Ctrl-C. Timeouts, invalid replies and failed writes are counted and the run goes on.\n"
    "When the link is lost (the device unplugged or gone, the network peer gone) it is reopened\n"
    "by itself (the same device path or USB serial number, the same network name; tries after\n"
    "0.5 s, doubling up to 8 s); an exchange waits up to its timeout for the link to come back,\n"
    "and every exchange that could not be made is counted as lost. A tcp-listen:// link waits,\n"
    "up to the timeout of each exchange, for the device to dial in.\n"
    "A frame that comes during the wait but is not the answer (its control code, address or\n"
    "identifier does not fit the request: a late reply to an earlier request, a reply from\n"
    "another meter) is never taken as the reading; it is counted as stale and the wait goes on.\n"
    "\n"
    "  --port PATH       the serial port (or the path `dlt645 simulate` prints)\n"
    "  --address ADDR    a meter address, 1 to 12 hex digits; repeatable\n"
    "  --di DI           a data identifier, 8 hex digits, DI3 first; repeatable\n"
    "  --di-file FILE    identifiers from a file, one per line; blank lines and text after #\n"
    "                    are ignored\n"
    "  --interval SEC    a round starts every SEC seconds (default 1; decimals allowed; 0: the\n"
    "                    next round starts as soon as one ends; at most 86400)\n"
    "  --count N         stop after N rounds\n"
    "  --duration TIME   stop after TIME: seconds, or a number with s, m or h (90, 15m, 2h)\n"
    "  --csv FILE        write the rows to FILE instead of standard output\n"
    "  --timeout SEC     wait at most SEC whole seconds for each reply (default 2)\n"
    "  --settings TEXT   line settings baud,parity,data bits,stop bits (default 9600,E,8,1); any\n"
    "                    other value is a Setup.ini giving the preamble and the collector\n"
    "  --preamble LC:N   N preamble bytes LC before each frame (e.g. FE:4), or none\n"
    "  --relay ADDR      a relay in front of every meter; repeat in route order (at most 7)\n"
    "  --collector ADDR  read the meters through this collector\n"
    "  --verbose         print the channel's log entries on stderr\n"
    "  --mqtt URL        also publish every row to an MQTT broker, URL\n"
    "                    mqtt://[USER[:PASSWORD]@]HOST[:PORT]/PREFIX (port 1883 when left out;\n"
    "                    %XX escapes in USER and PASSWORD): one JSON message per exchange on\n"
    "                    PREFIX/ADDRESS/IDENTIFIER, QoS 1, with the row's fields as time\n"
    "                    (ISO 8601 with the UTC offset), address, identifier, name, raw_value,\n"
    "                    reading, unit, round_trip_ms (a number, null without a reply), outcome.\n"
    "                    The broker being away never stops the poll: the messages wait in a\n"
    "                    queue and the connection is retried (0.5 s doubling to 8 s); the\n"
    "                    changes of the connection are told on stderr\n"
    "  --mqtt-queue N    messages kept while the broker is away (default 1000); when full the\n"
    "                    oldest is dropped\n"
    "\n"
    "CSV (RFC 4180: commas, fields with commas or quotes in double quotes, lines ending in\n"
    "CR LF; UTF-8, with a byte order mark when written to a file so that spreadsheets take the\n"
    "Chinese names as UTF-8), one header line and one row per exchange:\n"
    "  time            local time the exchange started, yyyy-mm-dd hh:mm:ss.zzz\n"
    "  address         the meter addressed\n"
    "  identifier      the data identifier\n"
    "  name            its name (the catalogue's or the reading table's)\n"
    "  raw value       the data after the identifier, most significant byte first; for an\n"
    "                  invalid reply the frame as received\n"
    "  reading         the value in engineering units (the number alone when it is one number)\n"
    "  unit            the unit of the reading\n"
    "  round trip ms   from the write to the reply's last byte, three decimals\n"
    "  outcome         ok; error XXH and its text (an abnormal reply); timeout; invalid reply;\n"
    "                  send failed: and the channel's message (the write failed); lost: and the\n"
    "                  channel's message (the link was lost or was being reopened); followed\n"
    "                  by \", stale N\" when N frames that were not the answer came during the wait\n"
    "\n"
    "On a terminal, standard error shows a progress line: rounds done, replies, failures and\n"
    "the last round trip. At the end, or on Ctrl-C, a summary (Name=value lines; on standard\n"
    "output when the rows go to --csv, else on standard error): Rounds=, Exchanges=, Replies=,\n"
    "ErrorReplies=, Timeouts=, InvalidReplies=, SendErrors=, Lost= (exchanges lost with the\n"
    "link), Stale= (frames that were not the answer), OtherAddress= (those of them from another address), Interrupted=,\n"
    "RoundTripMinMs=, RoundTripMedianMs= (the mean of the middle two for an even count),\n"
    "RoundTripP95Ms= (nearest rank), RoundTripMaxMs=. With --mqtt, after waiting up to 5 s while\n"
    "the broker is connected for what is still queued: MqttPublished= (acknowledged by the\n"
    "broker) and MqttDropped= (pushed out of the queue or unacknowledged at the end); the two add\n"
    "up to Exchanges=.\n"
    "\n"
    "Exit status: 0 every exchange had a reply; 1 a bad option, a file that cannot be read or\n"
    "written, or a port that cannot be opened; 2 some exchange timed out or got an invalid reply;\n"
    "3 some write failed or some exchange was lost with the link.\n";

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
    error = "cannot read --di-file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    line.erase(std::remove_if(line.begin(), line.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); }), line.end());
    if (line.empty()) continue;
    if (line.size() != 8 || !IsHex(line)) {
      error = path + ":" + std::to_string(number) + ": '" + line + "' is not an identifier of 8 hex digits";
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
  if (!opts.Positional().empty()) return Bad("unexpected argument '" + opts.Positional()[0] + "'");
  plan.Port = opts.Get("--port");
  if (plan.Port.empty()) return Bad("--port is required");
  if (!opts.Has("--address")) return Bad("--address is required (repeat it for several meters)");
  plan.Verbose = opts.Has("--verbose");
  if (opts.Has("--interval") && (!ParseSeconds(opts.Get("--interval"), false, plan.IntervalSec) || plan.IntervalSec > 86400))
    return Bad("--interval '" + opts.Get("--interval") + "' is not a number of seconds from 0 to 86400");
  if (opts.Has("--count") && !ParseWhole(opts.Get("--count"), 1, 1000000000000LL, plan.Rounds))
    return Bad("--count '" + opts.Get("--count") + "' is not a number of rounds from 1");
  if (opts.Has("--duration") &&
      (!ParseSeconds(opts.Get("--duration"), true, plan.DurationSec) || plan.DurationSec <= 0 || plan.DurationSec > 1e8))
    return Bad("--duration '" + opts.Get("--duration") + "' is not a time such as 90, 90s, 15m or 2h (at most 1e8 s)");
  long long timeout = 2;
  if (opts.Has("--timeout") && !ParseWhole(opts.Get("--timeout"), 0, 3600, timeout))
    return Bad("--timeout '" + opts.Get("--timeout") + "' is not a number of seconds from 0 to 3600");
  if (opts.Has("--csv")) {
    plan.CsvPath = opts.Get("--csv");
    if (plan.CsvPath.empty()) return Bad("--csv needs a file name");
  }
  if (!ParsePollMqtt(opts, plan.Mqtt, error)) return Bad(error);

  std::vector<std::string> dis;
  for (const std::string& di : opts.GetAll("--di")) {
    if (di.size() != 8 || !IsHex(di)) return Bad("--di '" + di + "' is not 8 hex digits");
    dis.push_back(Upper(di));
  }
  if (opts.Has("--di-file") && !ReadDiFile(opts.Get("--di-file"), dis, error)) return Bad(error);
  if (dis.empty()) return Bad("give the identifiers with --di or --di-file");

  for (const std::string& address : opts.GetAll("--address")) {
    if (address.empty() || address.size() > 12 || !IsHex(address))
      return Bad("--address '" + address + "' is not an address of 1 to 12 hex digits");
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
        error = "cannot write " + path + ": " + std::strerror(errno);
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
    if (!ok) error = std::string("writing the rows failed: ") + std::strerror(errno);
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
  std::snprintf(line, sizeof line, "\rround %lld: %lld replies, %lld failures, last round trip %s ms", t.Rounds,
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

const TCliRegistrar kRegistrar({"poll", "read identifiers from meters round after round into a CSV", kHelp, &RunPoll});

}  // namespace
