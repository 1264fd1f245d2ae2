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
  return "Usage: dlt645 send --port PATH [--settings 9600,E,8,1] --frame HEX\n"
         "       dlt645 send --port PATH [--settings 9600,E,8,1] --cmd NAME [command options]\n"
         "                   [--count N] [--timeout SEC] [--verbose]\n"
         "\n"
         "Sends one command through the workbench's channel and sending thread and prints the\n"
         "bytes written, the reply's fields, the round-trip time and the outcome.\n"
         "\n"
         "  --port PATH       the serial port (/dev/ttyUSB0, or the path `dlt645 simulate` prints)\n"
         "  --settings TEXT   line settings baud,parity,data bits,stop bits (default " +
         std::string(kDefaultLine) +
         ");\n"
         "                    any other value is a Setup.ini (see below)\n"
         "  --frame HEX       a frame typed as in the main window's frame mode: sent without\n"
         "                    preamble; the checksum and 16H are added unless HEX already ends\n"
         "                    with them (a whole frame from its first 68H)\n"
         "  --count N         send the command N times; a timeout or an invalid reply is counted\n"
         "                    and the run goes on (a failed write ends it); the counts and round\n"
         "                    trips follow at the end\n"
         "  --timeout SEC     wait at most SEC seconds for the reply (default: the command's,\n"
         "                    10 s for a typed frame)\n"
         "  --verbose         print the log entries of the exchange on stderr\n"
         "\n" +
         CommandOptionsHelp() +
         "\n"
         "Output: Sent=, then for a reply Reply=, Address=, Ctrl=, Dir=, Normal=, LastFrame=,\n"
         "FuncCode=, Len=, Data= (and Value=, Identifier=, Name= and Reading= for a read reply,\n"
         "ErrorText= for an abnormal one), RoundTripMs= (from the write to the reply's last byte,\n"
         "three decimals) and Result= (success, failure or application timeout as the main window\n"
         "shows them). A frame that comes during the wait but is not the answer (its control code,\n"
         "address or identifier does not fit the request: a late reply to an earlier request, a\n"
         "reply from another meter) is never taken as the reply: it is shown as Stale= with the\n"
         "frame and the reason, and the wait goes on. With --count also Exchanges=, Replies=,\n"
         "Timeouts=, InvalidReplies=, SendErrors=, StaleReplies=, OtherAddress= (stale replies\n"
         "from another address), RoundTripMinMs=, RoundTripMedianMs= and RoundTripMaxMs=.\n"
         "\n"
         "Exit status: 0 every exchange had a reply (or none was expected); 1 the port cannot be\n"
         "opened or is busy, a reply was invalid or writing to the port failed; 2 a reply did not\n"
         "come in time\n"
         "(or bad options); 3 interrupted with Ctrl-C.\n";
}

// A typed frame: hex digits with optional blanks. CS and 16H are added as the main window adds
// them, unless the bytes from the first 68H on already form a valid frame.
bool TypedFrame(const std::string& text, std::vector<uint8_t>& bytes, std::string& error) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == '\t') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      error = "--frame '" + text + "' is not hexadecimal";
      return false;
    }
    digits += c;
  }
  if (digits.size() < 2) {
    error = "--frame needs at least one byte";
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
  if (!opts.Positional().empty()) return Bad("unexpected argument '" + opts.Positional()[0] + "'");
  request.Port = opts.Get("--port");
  if (request.Port.empty()) return Bad("--port is required");
  int timeout = -1;
  if (opts.Has("--count") && !ParseCount(opts.Get("--count"), 1, 1000000, request.Count)) {
    return Bad("--count '" + opts.Get("--count") + "' is not a number from 1 to 1000000");
  }
  if (opts.Has("--timeout") && !ParseCount(opts.Get("--timeout"), 0, 3600, timeout)) {
    return Bad("--timeout '" + opts.Get("--timeout") + "' is not a number of seconds from 0 to 3600");
  }
  request.Verbose = opts.Has("--verbose");
  request.Raw = opts.Has("--frame");
  if (request.Raw) {
    if (opts.Has("--cmd")) return Bad("--frame and --cmd exclude each other");
    if (!TypedFrame(opts.Get("--frame"), request.Typed, error)) return Bad(error);
    request.Frame.RawFrame = true;
    request.Frame.TimeoutSec = 10;
  } else {
    if (!opts.Has("--cmd")) return Bad("give --frame HEX or --cmd NAME (see --help)");
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

const TCliRegistrar Registrar({"send", "send a command to a meter through the channel and print the reply",
                               Help(), &RunSend});

}  // namespace
