// `dlt645 simulate`: runs the virtual meter in the foreground on a pseudo-terminal, with a
// well-known link that the workbench's port list offers.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/MeterValues.h"
#include "cli/TcpBridge.h"
#include "comm/PortList.h"
#include "sim/VirtualMeter.h"

namespace {

// A meter answers no sooner than 20 ms after the request; the virtual one a little later.
constexpr int kDefaultResponseMs = 22;

const char kHelp[] =
    "Usage: dlt645 simulate [OPTIONS]\n"
    "\n"
    "Runs a virtual DL/T 645-2007 meter on a pseudo-terminal until Ctrl+C (SIGINT) or SIGTERM.\n"
    "It prints the path to open; while it runs, a link to that path is kept in the folder the\n"
    "workbench's port list searches (meter-ADDRESS), so the parameter dialog offers it.\n"
    "\n"
    "The meter answers reads of every catalogue identifier, writes with the password, the\n"
    "address, baud-rate, password and clear commands, follow-up reads (load records 06xxxxxx),\n"
    "broadcasts (999999999999, no reply), the wildcard AAAAAAAAAAAA (13H, 15H), relayed frames\n"
    "and frames through a collector. Text lines ending in CR get text answers: AT -> OK,\n"
    "ATI -> identification, AT+ECHO=text -> text, AT+SLOW -> \"Please wait.....\" and later\n"
    "the result, anything else -> ERROR.\n"
    "\n"
    "Options:\n"
    "  --address ADDR    meter address, 12 decimal digits (default 000000000001)\n"
    "  --password P      password, 8 hex digits, most significant first (default 26404915)\n"
    "  --collector ADDR  address of the collector in front of the meter (default 000000009999)\n"
    "  --link PATH       make this link instead of the default one\n"
    "  --response MS     the meter's response time, from the request's last byte to the\n"
    "                    reply's first (0..60000, default 22; the standard allows 20 to 500)\n"
    "  --delay MS        wait MS milliseconds more before each reply (0..60000)\n"
    "  --preamble N      FE bytes before each reply (0..16, default 4)\n"
    "  --slow MS         delay of the AT+SLOW result (default 5000)\n"
    "  --fault F         add a fault, repeatable: noise (random bytes with a stray 68H before\n"
    "                    the reply), split (the reply in 3 pieces 50 ms apart), badsum (wrong\n"
    "                    checksum), badend (wrong end byte), silent (no reply), garbage (32 random\n"
    "                    bytes before the reply), c0 (every reply with control code C0H), late\n"
    "                    (a meter one behind: each reply is preceded by the reply to the\n"
    "                    previous request, which so arrives after the next request),\n"
    "                    anyaddress (answers frames for other addresses), shortdata (energy\n"
    "                    readings one byte short), acceptbadsum (answers frames with a wrong\n"
    "                    checksum), noshortened (ignores a shortened address)\n"
    "  --reply-from ADDR replies carry this address (12 decimal digits) instead of the meter's\n"
    "  --listen tcp://ADDR:PORT  also serve the meter on this TCP address, as a serial server\n"
    "                    in raw mode does (one client at a time)\n"
    "  --connect tcp://HOST:PORT  dial out to HOST:PORT, as a DTU does, and dial again when\n"
    "                    the connection drops or is refused (after 0.5 s, doubling up to 8 s)\n"
    "  --power-cut S     the meter starts after a power cut of S seconds (1..86400): it reads\n"
    "                    one more power-down (03110000) and the cut as its last power-down\n"
    "                    record (03110001: from S seconds before the start to the start)\n"
    "  --verbose         print one line per request and per reply\n"
    "  --set DI=VALUE    the meter reads VALUE for DI, in the reading's own form (repeatable):\n"
    "                    --set 00010000=1234.56  --set 02020100=-1.234  --set 04000102=10:15:00\n"
    "                    A value set is held as given; the date and the time set the clock,\n"
    "                    which runs on. Other values move over time: the voltages, currents and\n"
    "                    powers drift a little, the energy counts up with the power.\n"
    "  --values FILE     DI=VALUE lines as for --set (# starts a comment line); lines that are\n"
    "                    not such are reported with their line number and the rest is used\n"
    "\n"
    "Exit status: 0 after a clean stop; 1 the meter could not start; 2 bad options.\n";

bool AllDigits(const std::string& text, size_t length, bool hex) {
  if (text.size() != length) return false;
  for (char c : text) {
    bool ok = (c >= '0' && c <= '9') || (hex && ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')));
    if (!ok) return false;
  }
  return true;
}

bool ParseInt(const std::string& text, int low, int high, int& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  value = std::stoi(text);
  return value >= low && value <= high;
}

// mkdir -p, owner only.
bool MakeFolder(const std::string& path, std::string& error) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = "cannot create " + part + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "dlt645 simulate: %s\n", message.c_str());
  return code;
}

// The meter's identity: address, password, collector.
int ReadIdentity(const TCliArgs& parsed, TMeterOptions& options) {
  options.Address = parsed.Get("--address", options.Address);
  options.Password = parsed.Get("--password", options.Password);
  options.CollectorAddress = parsed.Get("--collector", options.CollectorAddress);
  if (!AllDigits(options.Address, 12, false) || options.Address == "999999999999")
    return Fail(ceBadInput, "--address needs 12 decimal digits (not 999999999999)");
  if (!AllDigits(options.Password, 8, true)) return Fail(ceBadInput, "--password needs 8 hex digits");
  if (!AllDigits(options.CollectorAddress, 12, false)) return Fail(ceBadInput, "--collector needs 12 decimal digits");
  return ceOk;
}

// The times and counts: response time, delay, preamble, the slow text command, the power cut.
int ReadTimes(const TCliArgs& parsed, TMeterOptions& options) {
  if (parsed.Has("--response") && !ParseInt(parsed.Get("--response"), 0, 60000, options.ResponseMs))
    return Fail(ceBadInput, "--response needs milliseconds from 0 to 60000");
  if (parsed.Has("--delay") && !ParseInt(parsed.Get("--delay"), 0, 60000, options.Faults.DelayMs))
    return Fail(ceBadInput, "--delay needs milliseconds from 0 to 60000");
  if (parsed.Has("--preamble") && !ParseInt(parsed.Get("--preamble"), 0, 16, options.PreambleCount))
    return Fail(ceBadInput, "--preamble needs a count from 0 to 16");
  if (parsed.Has("--slow") && !ParseInt(parsed.Get("--slow"), 0, 600000, options.SlowCommandMs))
    return Fail(ceBadInput, "--slow needs milliseconds from 0 to 600000");
  if (parsed.Has("--power-cut") && !ParseInt(parsed.Get("--power-cut"), 1, 86400, options.PowerCutSec))
    return Fail(ceBadInput, "--power-cut needs seconds from 1 to 86400");
  return ceOk;
}

// One --fault name into the faults; false for a name that is none.
bool AddFault(const std::string& fault, TMeterFaults& f) {
  if (fault == "noise") f.Noise = true;
  else if (fault == "split") {
    f.SplitPieces = 3;
    f.SplitPauseMs = 50;
  } else if (fault == "badsum") f.BadChecksum = true;
  else if (fault == "badend") f.BadEndByte = true;
  else if (fault == "silent") f.NoReply = true;
  else if (fault == "garbage") f.GarbageBurstBytes = 32;
  else if (fault == "c0") f.AppLayerTimeout = true;
  else if (fault == "late") f.LateReply = true;
  else if (fault == "anyaddress") f.AnswerAnyAddress = true;
  else if (fault == "shortdata") f.ShortEnergy = true;
  else if (fault == "acceptbadsum") f.AnswerBadChecksum = true;
  else if (fault == "noshortened") f.IgnoreShortened = true;
  else return false;
  return true;
}

int ReadFaults(const TCliArgs& parsed, TMeterOptions& options) {
  for (const std::string& fault : parsed.GetAll("--fault"))
    if (!AddFault(fault, options.Faults))
      return Fail(ceBadInput, "unknown fault '" + fault +
                                  "' (noise, split, badsum, badend, silent, garbage, c0, late, anyaddress, shortdata,"
                                  " acceptbadsum, noshortened)");
  if (parsed.Has("--reply-from")) {
    options.Faults.ReplyFrom = parsed.Get("--reply-from");
    if (!AllDigits(options.Faults.ReplyFrom, 12, false)) return Fail(ceBadInput, "--reply-from needs 12 decimal digits");
  }
  return ceOk;
}

// The readings given with --values and --set.
int ReadValues(const TCliArgs& parsed, TMeterOptions& options) {
  std::string error;
  if (parsed.Has("--values")) {
    std::vector<std::string> junk;
    if (!ReadMeterValues(parsed.Get("--values"), options.Values, junk, error)) return Fail(ceBadInput, error);
    for (const std::string& line : junk) std::fprintf(stderr, "dlt645 simulate: %s (line skipped)\n", line.c_str());
  }
  for (const std::string& set : parsed.GetAll("--set")) {
    uint32_t di = 0;
    std::vector<uint8_t> data;
    if (!ParseMeterValue(set, di, data, error)) return Fail(ceBadInput, "--set " + error);
    options.Values[di] = data;
  }
  return ceOk;
}

// The link path: --link, or meter-ADDRESS in the folder the port list searches.
int ReadLink(const TCliArgs& parsed, TMeterOptions& options) {
  if (parsed.Has("--link")) {
    options.LinkPath = parsed.Get("--link");
    if (options.LinkPath.empty()) return Fail(ceBadInput, "--link needs a path");
    return ceOk;
  }
  std::string folder = VirtualPortDir(), error;
  if (!MakeFolder(folder, error)) return Fail(ceFailed, error);
  options.LinkPath = folder + "/meter-" + options.Address;
  return ceOk;
}

int ParseSimulate(const std::vector<std::string>& args, TCliArgs& parsed, TMeterOptions& options) {
  std::string error;
  if (!parsed.Parse(args, {"--address", "--password", "--collector", "--link", "--delay", "--response", "--preamble", "--slow",
                           "--fault", "--set", "--values", "--reply-from", "--listen", "--power-cut", "--connect"},
                    {"--verbose"}, error))
    return Fail(ceBadInput, error);
  if (!parsed.Positional().empty()) return Fail(ceBadInput, "unexpected argument " + parsed.Positional()[0]);
  options.ResponseMs = kDefaultResponseMs;
  for (auto step : {ReadIdentity, ReadTimes, ReadFaults, ReadValues, ReadLink})
    if (int code = step(parsed, options); code != ceOk) return code;
  return ceOk;
}

void PrintTrace(TVirtualMeter& meter) {
  auto print = std::make_shared<std::mutex>();
  meter.SetTrace([print](const std::string& line) {
    std::lock_guard lock(*print);
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
  });
}

// Blocks the stop signals (the meter's thread inherits the mask) and waits for one of them.
sigset_t BlockStopSignals() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  return stopSignals;
}

int RunSimulate(const std::vector<std::string>& args) {
  TCliArgs parsed;
  TMeterOptions options;
  if (int code = ParseSimulate(args, parsed, options); code != ceOk) return code;
  sigset_t stopSignals = BlockStopSignals();
  TVirtualMeter meter(options);
  if (parsed.Has("--verbose")) PrintTrace(meter);
  std::string error;
  if (!meter.Start(error)) return Fail(ceFailed, error);
  TTcpBridge bridge;
  if (parsed.Has("--listen")) {
    if (!bridge.Start(parsed.Get("--listen"), meter.PortPath(), error)) return Fail(ceBadInput, error);
    std::printf("Listening: %s\n", parsed.Get("--listen").c_str());
  } else if (parsed.Has("--connect")) {
    if (!bridge.StartDialOut(parsed.Get("--connect"), meter.PortPath(), error)) return Fail(ceBadInput, error);
    std::printf("Dialing: %s\n", parsed.Get("--connect").c_str());
  }
  std::printf("Virtual meter %s on %s\nLink: %s\nPress Ctrl+C to stop.\n", options.Address.c_str(),
              meter.PortPath().c_str(), options.LinkPath.c_str());
  std::fflush(stdout);
  int signal = 0;
  while (sigwait(&stopSignals, &signal) != 0) {
  }
  bridge.Stop();
  meter.Stop();
  std::printf("Stopped (%s), %d replies sent.\n", strsignal(signal), meter.RepliesSent());
  std::fflush(stdout);
  return ceOk;
}

const TCliRegistrar kRegistrar({"simulate", "run a virtual meter on a pseudo-terminal", kHelp, RunSimulate});

}  // namespace
