// Channel figures against the virtual meter on a pseudo-terminal:
//   latency     from the meter's last reply byte written to the reply handler being called
//   throughput  back-to-back read exchanges per second with a meter that answers at once
//   idle        voluntary context switches of the sending thread over 10 s with nothing queued
//   memory      resident size after 1,000 and after 100,000 exchanges
// Usage: bench_ChannelBench [--latency N] [--throughput N] [--idle SEC] [--memory N]
// (defaults 2000, 5000, 10, 100000; 0 skips a figure). Not run by ctest.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchStats.h"
#include "comm/Channel.h"
#include "comm/SerialPort.h"
#include "protocol/LogSink.h"
#include "sim/VirtualMeter.h"

namespace {
using Clock = std::chrono::steady_clock;

// Builds every log text as the workbench does and throws it away.
class TNullSink : public TLogSink {
 public:
  void WriteLog(int, const std::string&, const std::string& text) override { Bytes += text.size(); }
  int LogTypes() const override { return 31; }
  size_t Bytes = 0;
};

struct TRig {
  TVirtualMeter Meter{TMeterOptions{}};
  TSerialPort Port;
  std::unique_ptr<TChannel> Channel;
  std::mutex Lock;
  std::condition_variable Ended;
  long Ends = 0;
  Clock::time_point ReplyShown;
  TDltFrame Read;

  bool Start() {
    std::string error;
    if (!Meter.Start(error) || Port.Open(Meter.PortPath(), "9600,E,8,1", 1, error) != 0) {
      std::fprintf(stderr, "set-up failed: %s\n", error.c_str());
      return false;
    }
    Channel = std::make_unique<TChannel>([] { return TPreamble{true, "FE", 4}; });
    Channel->Init();
    Channel->SetControl(&Port);
    Channel->SetReplyHandler([this](const TKvFrame&, const TKvFrame&, const TFrameBody&, const std::string&, int) {
      auto now = Clock::now();
      std::lock_guard<std::mutex> guard(Lock);
      ReplyShown = now;
    });
    Channel->SetExchangeHandler([this](const TKvFrame&, int, const std::string&) {
      {
        std::lock_guard<std::mutex> guard(Lock);
        ++Ends;
      }
      Ended.notify_all();
    });
    Channel->Start();
    Read.Address = "000000000001";
    Read.CtrlCode = 0x11;
    Read.DataField = "00010102";
    Read.DataLen = 4;
    Read.TimeoutSec = 10;
    return true;
  }
  ~TRig() {
    if (Channel) Channel->Shutdown();
  }
  void Queue() {
    std::string message;
    Channel->Send(Read.Address, Read, Read.DataField, message);
  }
  void WaitEnds(long n) {
    std::unique_lock<std::mutex> guard(Lock);
    Ended.wait(guard, [&] { return Ends >= n; });
  }
  // Sends one read and waits for its end.
  void Exchange() {
    long before;
    {
      std::lock_guard<std::mutex> guard(Lock);
      before = Ends;
    }
    Queue();
    WaitEnds(before + 1);
  }
};

void Latency(int n) {
  TRig rig;
  if (!rig.Start()) return;
  std::vector<double> ms;
  for (int i = 0; i < n; ++i) {
    rig.Exchange();
    // The meter notes the time right after its write returns; wait for that note.
    while (rig.Meter.RepliesSent() < i + 1) std::this_thread::yield();
    Clock::time_point shown;
    {
      std::lock_guard<std::mutex> guard(rig.Lock);
      shown = rig.ReplyShown;
    }
    double d = std::chrono::duration<double, std::milli>(shown - rig.Meter.LastReplyWritten()).count();
    ms.push_back(std::max(0.0, d));
  }
  std::printf("latency (last reply byte written -> reply handler), %d exchanges: median %.3f ms, "
              "p99 %.3f ms, max %.3f ms\n",
              n, Percentile(ms, 0.5), Percentile(ms, 0.99), Percentile(ms, 1.0));
}

void Throughput(int n) {
  TRig rig;
  if (!rig.Start()) return;
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) rig.Queue();
  rig.WaitEnds(n);
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
  std::printf("throughput, %d queued reads back to back: %.0f exchanges/s (%d replies)\n", n, n / s,
              rig.Meter.RepliesSent());
  t0 = Clock::now();
  for (int i = 0; i < n; ++i) rig.Exchange();
  s = std::chrono::duration<double>(Clock::now() - t0).count();
  std::printf("throughput, %d reads one after another: %.0f exchanges/s\n", n, n / s);
}

void Idle(int seconds) {
  TRig rig;
  if (!rig.Start()) return;
  rig.Exchange();  // one exchange first, so the thread has done real work
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  int tid = rig.Channel->SendThreadId();
  std::string file = "/proc/self/task/" + std::to_string(tid) + "/status";
  long before = StatusField(file, "voluntary_ctxt_switches:");
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  long after = StatusField(file, "voluntary_ctxt_switches:");
  std::printf("idle, %d s with nothing queued: %ld wake-ups of the sending thread (tid %d)\n", seconds,
              after - before, tid);
}

void Memory(int n) {
  TRig rig;
  if (!rig.Start()) return;
  // The meter keeps every byte it receives; emptied as we go so only the channel's side counts.
  for (int i = 0; i < 1000; ++i) {
    rig.Exchange();
    rig.Meter.ClearReceived();
  }
  long rss1k = StatusKiB("VmRSS:");
  for (int i = 1000; i < n; ++i) {
    rig.Exchange();
    rig.Meter.ClearReceived();
  }
  long rssN = StatusKiB("VmRSS:");
  std::printf("memory: VmRSS %ld KiB after 1000 exchanges, %ld KiB after %d (growth %ld KiB)\n", rss1k, rssN, n,
              rssN - rss1k);
}
}  // namespace

int main(int argc, char** argv) {
  int latency = 2000, throughput = 5000, idle = 10, memory = 100000;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    int v = std::atoi(argv[i + 1]);
    if (a == "--latency") latency = v;
    else if (a == "--throughput") throughput = v;
    else if (a == "--idle") idle = v;
    else if (a == "--memory") memory = v;
  }
  TNullSink sink;
  SetLogSink(&sink);
  if (latency > 0) Latency(latency);
  if (throughput > 0) Throughput(throughput);
  if (idle > 0) Idle(idle);
  if (memory > 0) Memory(memory);
  SetLogSink(nullptr);
  return 0;
}
