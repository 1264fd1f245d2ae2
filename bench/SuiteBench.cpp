// The conformance engine against the virtual meter on a pseudo-terminal (22 ms response time,
// as `dlt645 simulate` runs it), through the channel link `dlt645 test` uses:
//   suite      the whole bundled suite with the virtual meter's profile: the run's time, the
//              part the meter took (request to its reply's last byte), the part spent waiting
//              for silence (cases that expect no reply), and the rest (engine, Lua, channel)
//   exchange   one read of 00010000 with a meter answering at once: a bare channel exchange,
//              and the same read from a script case; the difference is the engine's overhead
// Usage: bench_SuiteBench [N] (default 3 suite runs, 200 reads). Not run by ctest.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/SuiteLink.h"
#include "sim/VirtualMeter.h"
#include "suite/Runner.h"

namespace {
using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The channel link `dlt645 test` uses, with the time of each exchange split into the meter's
// part and the wait for silence.
class TTimedLink : public TSuiteLink {
 public:
  explicit TTimedLink(TCliLink& link) : Inner(link) {}
  TLinkResult Exchange(const TDltFrame& frame, const std::vector<uint8_t>& raw) override {
    TLinkResult r = Inner.Exchange(frame, raw);
    ++Exchanges;
    if (r.HasReply) MeterMs += r.RoundTripMs;
    if (r.Kind == lkTimeout) SilenceMs += frame.TimeoutMs > 0 ? frame.TimeoutMs : frame.TimeoutSec * 1000.0;
    return r;
  }
  TCliSuiteLink Inner;
  int Exchanges = 0;
  double MeterMs = 0, SilenceMs = 0;
};

bool OpenLink(TVirtualMeter& meter, TCliLink& link) {
  std::string error;
  if (meter.Start(error) && link.Open(meter.PortPath(), "9600,E,8,1", error)) return true;
  std::fprintf(stderr, "set-up failed: %s\n", error.c_str());
  return false;
}

int SuiteRuns(int runs) {
  TMeterOptions options;
  options.ResponseMs = 22;
  TVirtualMeter meter(options);
  TCliLink link(TPreamble{}, false);
  TMeterProfile profile;
  std::vector<std::string> files;
  std::string error;
  if (!OpenLink(meter, link) || !LoadProfile(BundledSuiteDir() + "/profiles/virtual-meter.lua", profile, error) ||
      !SuiteFiles(BundledSuiteDir(), files, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  for (int i = 0; i < runs; ++i) {
    TTimedLink timed(link);
    const auto start = Clock::now();
    const std::vector<TCaseRecord> cases = RunSuite(files, profile, timed, {});
    const double total = Ms(Clock::now() - start);
    const double rest = total - timed.MeterMs - timed.SilenceMs;
    std::printf("suite      %zu cases, %d exchanges: %.0f ms; meter %.0f ms, waiting for silence %.0f ms, "
                "rest %.0f ms (%.1f %%)\n",
                cases.size(), timed.Exchanges, total, timed.MeterMs, timed.SilenceMs, rest, 100 * rest / total);
  }
  return 0;
}

int ExchangeOverhead(int reads) {
  TVirtualMeter meter{TMeterOptions{}};
  TCliLink link(TPreamble{}, false);
  if (!OpenLink(meter, link)) return 1;
  TDltFrame read;
  read.Address = "000000000001";
  read.CtrlCode = 0x11;
  read.DI = read.DataField = "00000100";
  read.DataLen = 4;
  read.TimeoutSec = 1;
  for (int i = 0; i < 20; ++i) link.Exchange(read, {});  // warm up: the first exchanges pay for set-up
  const auto bareStart = Clock::now();
  for (int i = 0; i < reads; ++i) link.Exchange(read, {});
  const double bare = Ms(Clock::now() - bareStart) / reads;

  const std::filesystem::path script = std::filesystem::temp_directory_path() / ("suite-bench-" + std::to_string(::getpid()) + ".lua");
  std::ofstream(script) << "dlt.case{ id = 'bench', title = 'bench', clause = '7.1', run = function()\n"
                           "  for i = 1, " << reads << " do dlt.expect_normal(dlt.read('00010000'), 0x11) end end }\n";
  TMeterProfile profile;
  TTimedLink timed(link);
  const auto engineStart = Clock::now();
  const std::vector<TCaseRecord> cases = RunSuite({script.string()}, profile, timed, {});
  const double engine = Ms(Clock::now() - engineStart) / reads;
  std::filesystem::remove(script);
  if (cases.size() != 1 || cases[0].Verdict != vdPass) {
    std::fprintf(stderr, "the bench case did not pass: %s\n", cases.empty() ? "" : cases[0].Why.c_str());
    return 1;
  }
  std::printf("exchange   bare %.3f ms, from a script %.3f ms: engine overhead %.3f ms per exchange (%d reads)\n", bare,
              engine, engine - bare, reads);
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  return SuiteRuns(runs) || ExchangeOverhead(200);
}
