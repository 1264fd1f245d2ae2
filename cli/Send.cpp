// `dlt645 send`: one command through the workbench's own channel and sending thread to a meter
// on a serial port (or the virtual meter's pseudo-terminal), with the reply decoded.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <regex>

#include "cli/Command.h"
#include "cli/CommandOptions.h"
#include "cli/FrameBodyText.h"
#include "comm/Channel.h"
#include "comm/SerialPort.h"
#include "protocol/DLT.h"
#include "protocol/LogSink.h"
#include "protocol/Protocol.h"
#include "protocol/StringUtil.h"

namespace {

const char* const kDefaultLine = "9600,E,8,1";
const char* const kSuccess = "成功";
const char* const kFailure = "失败";
const char* const kAppTimeout = "应用层超时";
const char* const kNoReplyNote = "发送完毕，%s无回应帧";
enum TSendExit : int { seTimeout = 2, seInterrupted = 3 };

std::atomic<bool> g_interrupted{false};
extern "C" void OnInterrupt(int) { g_interrupted = true; }

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
         "  --count N         send the command N times and print the round-trip statistics\n"
         "  --timeout SEC     wait at most SEC seconds for the reply (default: the command's,\n"
         "                    10 s for a typed frame)\n"
         "  --verbose         print the log entries of the exchange on stderr\n"
         "\n" +
         CommandOptionsHelp() +
         "\n"
         "Output: Sent=, then for a reply Reply=, Address=, Ctrl=, Dir=, Normal=, LastFrame=,\n"
         "FuncCode=, Len=, Data= (and Value=, Identifier=, Name= and Reading= for a read reply,\n"
         "ErrorText= for an abnormal one),\n"
         "RoundTripMs= and Result= (success, failure or application\n"
         "timeout as the main window shows them); with --count also Exchanges=, RoundTripMinMs=,\n"
         "RoundTripMedianMs= and RoundTripMaxMs=.\n"
         "\n"
         "Exit status: 0 reply received (or none expected); 1 the port cannot be opened or is\n"
         "busy, the reply was invalid or sending failed; 2 no reply in time (or bad options);\n"
         "3 interrupted with Ctrl-C.\n";
}

// Collects the entries the channel logs; prints them with --verbose.
class TCliSink : public TLogSink {
 public:
  explicit TCliSink(bool verbose) : Verbose(verbose) { SetLogSink(this); }
  ~TCliSink() override { SetLogSink(nullptr); }
  void WriteLog(int types, const std::string& source, const std::string& text) override {
    std::lock_guard<std::mutex> guard(Lock);
    if (Verbose) std::cerr << source << ": " << text << "\n";
    if (types & (ltError | ltException)) LastError = text;
  }
  int LogTypes() const override { return 31; }
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

// The outcome of one exchange as the two handlers report it.
struct TOutcome {
  bool Ended = false;
  int Code = 0;
  std::string Message;
  bool HasReply = false;
  TFrameBody Body;
  uint32_t RoundTripMs = 0;
};

bool IsLineSettings(const std::string& text) {
  static const std::regex pattern(R"(\s*\d+\s*,\s*[A-Za-z]\s*,\s*\d\s*,\s*(1|1\.5|2)\s*)");
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

void PrintReply(const TOutcome& o) {
  const TFrameBody& b = o.Body;
  std::string result = b.Ctrl == 0xC0 ? kAppTimeout : (b.Normal ? kSuccess : kFailure);
  std::cout << "Reply=" << b.FrameText << "\n" << FrameBodyLines(b);
  std::cout << "RoundTripMs=" << o.RoundTripMs << "\n"
            << "Result=" << result << "\n";
}

int RunSend(const std::vector<std::string>& rawArgs) {
  std::string line = kDefaultLine;
  std::vector<std::string> args = TakeLineSettings(rawArgs, line);
  std::vector<std::string> valued = CommandValuedOptions();
  for (const char* o : {"--port", "--frame", "--count", "--timeout"}) valued.push_back(o);
  std::vector<std::string> flags = CommandFlagOptions();
  flags.push_back("--verbose");
  TCliArgs opts;
  std::string error;
  auto bad = [&](const std::string& message) {
    std::cerr << "dlt645 send: " << message << "\n";
    return ceBadInput;
  };
  if (!opts.Parse(args, valued, flags, error)) return bad(error);
  if (!opts.Positional().empty()) return bad("unexpected argument '" + opts.Positional()[0] + "'");
  const std::string portPath = opts.Get("--port");
  if (portPath.empty()) return bad("--port is required");
  int count = 1, timeout = -1;
  if (opts.Has("--count") && !ParseCount(opts.Get("--count"), 1, 1000000, count)) {
    return bad("--count '" + opts.Get("--count") + "' is not a number from 1 to 1000000");
  }
  if (opts.Has("--timeout") && !ParseCount(opts.Get("--timeout"), 0, 3600, timeout)) {
    return bad("--timeout '" + opts.Get("--timeout") + "' is not a number of seconds from 0 to 3600");
  }

  // The command: a typed frame or one composed from its fields.
  TDltFrame frame;
  TPreamble preamble;
  std::vector<uint8_t> typed;
  const bool raw = opts.Has("--frame");
  if (raw) {
    if (opts.Has("--cmd")) return bad("--frame and --cmd exclude each other");
    if (!TypedFrame(opts.Get("--frame"), typed, error)) return bad(error);
    frame.RawFrame = true;
    frame.TimeoutSec = 10;
  } else {
    if (!opts.Has("--cmd")) return bad("give --frame HEX or --cmd NAME (see --help)");
    int result = ComposeFromOptions(opts, frame, preamble, error);
    if (result != ceOk) {
      std::cerr << "dlt645 send: " << error << "\n";
      return result;
    }
  }
  if (timeout >= 0) frame.TimeoutSec = timeout;

  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);

  TCliSink sink(opts.Has("--verbose"));
  TSerialPort port;
  if (port.Open(portPath, line, 1, error) != 0) {
    std::cerr << error << "\n";
    return ceFailed;
  }

  std::mutex lock;
  std::condition_variable ended;
  TOutcome outcome;
  TChannel channel([preamble] { return preamble; });
  channel.Init();
  channel.SetControl(&port);
  channel.SetReplyHandler([&](const TKvFrame& sent, const TKvFrame& reply, const TFrameBody& body,
                              const std::string&, int) {
    std::lock_guard<std::mutex> guard(lock);
    outcome.HasReply = true;
    outcome.Body = body;
    outcome.RoundTripMs = reply.Tick - sent.Tick;
  });
  channel.SetExchangeHandler([&](const TKvFrame&, int code, const std::string& message) {
    {
      std::lock_guard<std::mutex> guard(lock);
      outcome.Ended = true;
      outcome.Code = code;
      outcome.Message = message;
    }
    ended.notify_all();
  });
  channel.Start();

  std::vector<uint8_t> sentBytes;
  if (raw) {
    sentBytes = typed;
  } else if (preamble.UseLC && preamble.LCCount > 0) {
    sentBytes.assign(static_cast<size_t>(preamble.LCCount),
                     static_cast<uint8_t>(std::stoi(preamble.LC, nullptr, 16)));
  }
  std::vector<uint32_t> trips;
  int exitCode = ceOk;
  for (int i = 0; i < count && exitCode == ceOk; ++i) {
    {
      std::lock_guard<std::mutex> guard(lock);
      outcome = TOutcome{};
    }
    std::string message;
    int code;
    if (raw) {
      auto bytes = std::make_unique<uint8_t[]>(typed.size());
      std::copy(typed.begin(), typed.end(), bytes.get());
      code = channel.SendRaw(bytes, static_cast<int>(typed.size()), frame, message);
    } else {
      code = channel.Send(frame.Address, frame, frame.DataField, message);
      if (i == 0 && code == 0) {
        std::unique_ptr<uint8_t[]> packed;
        int len = 0;
        std::string ignored;
        TProtocol::Pack(frame.Address, frame, frame.DataField, packed, len, ignored);
        sentBytes.insert(sentBytes.end(), packed.get(), packed.get() + len);
      }
    }
    if (code != 0) {
      std::cerr << message << "\n";
      exitCode = ceFailed;
      break;
    }
    if (i == 0) std::cout << "Sent=" << TStringUtil::BytesToHexSpaced(sentBytes.data(), static_cast<int>(sentBytes.size())) << "\n";

    // Wait for the end of the exchange; Ctrl-C asks the channel to stop.
    bool stopAsked = false;
    TOutcome done;
    {
      std::unique_lock<std::mutex> guard(lock);
      for (;;) {
        if (outcome.Ended) break;
        if (g_interrupted && !stopAsked) {
          guard.unlock();
          channel.SetStopRequest(true);
          guard.lock();
          stopAsked = true;
          continue;
        }
        if (stopAsked && !channel.Busy() && !outcome.Ended) {
          outcome.Ended = true;  // dropped from the queue before it was sent
          outcome.Code = crInterrupted;
          outcome.Message = "通信被中断！";
          break;
        }
        ended.wait_for(guard, std::chrono::milliseconds(20));
      }
      done = outcome;
    }

    if (done.Code == crTimeout) {
      std::cerr << done.Message << "\n";
      exitCode = seTimeout;
    } else if (done.Code == crInterrupted) {
      std::cerr << done.Message << "\n";
      exitCode = seInterrupted;
    } else if (done.Code != crOk) {
      std::cerr << done.Message << "\n";
      exitCode = ceFailed;
    } else if (frame.NoReply) {
      if (i == 0) {
        std::string note = kNoReplyNote;
        note.replace(note.find("%s"), 2, frame.CmdName);
        std::cout << note << "\n";
      }
    } else if (!done.HasReply) {
      std::string logged = sink.TakeError();
      std::cerr << (logged.empty() ? "no valid reply" : logged) << "\n";
      exitCode = ceFailed;
    } else {
      if (i == 0) PrintReply(done);
      trips.push_back(done.RoundTripMs);
    }
  }
  channel.Shutdown();
  port.Close(error);

  if (count > 1 && !trips.empty()) {
    std::sort(trips.begin(), trips.end());
    size_t n = trips.size();
    double median = n % 2 ? trips[n / 2] : (trips[n / 2 - 1] + trips[n / 2]) / 2.0;
    std::cout << "Exchanges=" << n << "\n"
              << "RoundTripMinMs=" << trips.front() << "\n"
              << "RoundTripMedianMs=" << median << "\n"
              << "RoundTripMaxMs=" << trips.back() << "\n";
  }
  return exitCode;
}

const TCliRegistrar Registrar({"send", "send a command to a meter through the channel and print the reply",
                               Help(), &RunSend});

}  // namespace
