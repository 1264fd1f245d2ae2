// Time from a link's return to the first good exchange through the channel on a TPortLink:
//   local  the virtual meter's pty behind a link path is stopped, the link stays away for
//          OUTAGE ms, the meter starts again at the same link; a read queued meanwhile waits
//          for the link; measured from the meter being back to the reply shown
//   tcp    `dlt645 simulate --listen` is killed and started again OUTAGE ms later; measured
//          from its first output line to the reply shown (the reconnect waits 0.5 s, then
//          doubling, so the figure depends on where the return falls in the backoff)
// Usage: bench_ReconnectBench [--rounds N] [--outage MS] (defaults 5, 1000). Not run by ctest.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchStats.h"
#include "comm/Channel.h"
#include "comm/PortLink.h"
#include "sim/VirtualMeter.h"
#include "tests/support/Background.h"

namespace {
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// The channel on a TPortLink; Exchange queues one read and waits for its end.
struct TRig {
  TPortLink Port;
  TChannel Channel{[] { return TPreamble{}; }};
  std::mutex Lock;
  std::condition_variable Ended;
  int Code = -1;

  bool Open(const std::string& name) {
    std::string error;
    if (Port.Open(name, "9600,E,8,1", 1, error) != 0) {
      std::fprintf(stderr, "cannot open %s: %s\n", name.c_str(), error.c_str());
      return false;
    }
    Channel.Init();
    Channel.SetControl(&Port);
    Channel.SetExchangeHandler([this](const TKvFrame&, int code, const std::string&) {
      std::lock_guard<std::mutex> guard(Lock);
      Code = code;
      Ended.notify_all();
    });
    Channel.Start();
    return true;
  }
  ~TRig() { Channel.Shutdown(); }

  void Queue() {
    TDltFrame read;
    read.Address = "000000000001";
    read.CtrlCode = 0x11;
    read.DataField = "00000100";  // 00010000, DI0 first
    read.DataLen = 4;
    read.TimeoutSec = 10;
    std::lock_guard<std::mutex> guard(Lock);
    Code = -1;
    std::string message;
    Channel.Send(read.Address, read, read.DataField, message);
  }
  int Wait() {
    std::unique_lock<std::mutex> lock(Lock);
    Ended.wait_for(lock, std::chrono::seconds(20), [&] { return Code >= 0; });
    return Code;
  }
  bool WaitLost() {
    for (int i = 0; i < 2000 && !Port.Lost(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Port.Lost();
  }
};

void Report(const char* what, const std::vector<double>& ms) {
  if (ms.empty()) return;
  std::printf("%-6s return to first good exchange: median %.1f ms, p95 %.1f ms, max %.1f ms (%zu rounds)\n", what,
              Percentile(ms, 0.5), Percentile(ms, 0.95), *std::max_element(ms.begin(), ms.end()), ms.size());
}

void BenchLocal(int rounds, int outageMs) {
  const std::string link = (std::filesystem::temp_directory_path() / ("reconnect-bench-" + std::to_string(getpid()))).string();
  TMeterOptions options;
  options.LinkPath = link;
  auto meter = std::make_unique<TVirtualMeter>(options);
  std::string error;
  if (!meter->Start(error)) return (void)std::fprintf(stderr, "meter: %s\n", error.c_str());
  TRig rig;
  if (!rig.Open(link)) return;
  std::vector<double> ms;
  for (int i = 0; i < rounds; ++i) {
    meter.reset();  // the pty and its link go away
    if (!rig.WaitLost()) return (void)std::fprintf(stderr, "the loss was not noticed\n");
    rig.Queue();  // waits for the link
    std::this_thread::sleep_for(std::chrono::milliseconds(outageMs));
    meter = std::make_unique<TVirtualMeter>(options);
    if (!meter->Start(error)) return (void)std::fprintf(stderr, "meter: %s\n", error.c_str());
    const Clock::time_point back = Clock::now();
    if (rig.Wait() != crOk) return (void)std::fprintf(stderr, "the exchange after the return failed\n");
    ms.push_back(MsSince(back));
  }
  Report("local", ms);
}

// `dlt645 simulate --listen NAME`; returns once it printed its first line (or after 5 s).
pid_t StartServer(const std::string& name, const std::string& link) {
  int out[2];
  if (pipe(out) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    execl(DLT645_BIN, DLT645_BIN, "simulate", "--link", link.c_str(), "--response", "0", "--listen", name.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  pollfd p{out[0], POLLIN, 0};
  char first[256];
  if (poll(&p, 1, 5000) > 0) (void)!read(out[0], first, sizeof first);
  close(out[0]);
  return pid;
}

void StopServer(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

void BenchTcp(int rounds, int outageMs) {
  const std::string name = "tcp://127.0.0.1:" + std::to_string(FreeLoopbackPort());
  const std::string link = (std::filesystem::temp_directory_path() / ("reconnect-bench-tcp-" + std::to_string(getpid()))).string();
  pid_t server = StartServer(name, link);
  TRig rig;
  if (!rig.Open(name)) return StopServer(server);
  std::vector<double> ms;
  for (int i = 0; i < rounds; ++i) {
    StopServer(server);
    if (!rig.WaitLost()) return (void)std::fprintf(stderr, "the loss was not noticed\n");
    rig.Queue();
    std::this_thread::sleep_for(std::chrono::milliseconds(outageMs));
    server = StartServer(name, link);
    const Clock::time_point back = Clock::now();
    if (rig.Wait() != crOk) {
      std::fprintf(stderr, "the exchange after the return failed\n");
      break;
    }
    ms.push_back(MsSince(back));
  }
  StopServer(server);
  Report("tcp", ms);
}
}  // namespace

int main(int argc, char** argv) {
  int rounds = 5, outageMs = 1000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--outage") == 0) outageMs = std::atoi(argv[i + 1]);
  }
  std::printf("outage %d ms\n", outageMs);
  BenchLocal(rounds, outageMs);
  BenchTcp(rounds, outageMs);
  return 0;
}
