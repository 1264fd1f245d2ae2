// Round trip and exchanges per second of one read (00010000, 16 bytes out, 24 back) through each
// transport, against the virtual meter:
//   pty        a meter's pseudo-terminal (the meter in this process), a local serial port as the
//              workbench opens it
//   tcp        tcp:// straight to the listening socket of `dlt645 simulate --listen`
//   ser2net    tcp:// to ser2net's raw port in front of the meter's pty (when ser2net is there)
//   rfc2217    rfc2217:// to ser2net's telnet port in front of the same pty
// The figure to read: tcp against pty (the TCP link's own cost), rfc2217 against ser2net raw
// (the telnet layer's). Usage: bench_TransportBench [EXCHANGES] (default 2000). Not run by ctest.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchStats.h"
#include "comm/PortLink.h"
#include "sim/VirtualMeter.h"
#include "tests/support/Background.h"

namespace {

using Clock = std::chrono::steady_clock;
const std::vector<uint8_t> kRead = {0x68, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x68,
                                    0x11, 0x04, 0x33, 0x33, 0x34, 0x33, 0xB3, 0x16};
const size_t kReplySize = 4 + 20;  // FE FE FE FE, then the 20-byte reply

pid_t Start(std::vector<std::string> argv) {
  std::fflush(stdout);  // or the child prints what is buffered a second time
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  std::freopen("/dev/null", "w", stdout);
  std::freopen("/dev/null", "w", stderr);
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}

// One exchange: the request written, the whole reply read; the time in ms, or -1.
double Exchange(TPortLink& link) {
  std::string error;
  const auto start = Clock::now();
  if (link.Write(kRead.data(), static_cast<int>(kRead.size()), error) != 0) return -1;
  std::vector<uint8_t> reply;
  while (reply.size() < kReplySize) {
    if (link.WaitReadable(500, error) <= 0) return -1;
    if (link.Read(64, reply, error) < 0) return -1;
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Measure(const char* title, const std::string& port, int count) {
  TPortLink link;
  TOpenResult opened;
  for (int i = 0; i < 100 && !(opened = link.Open(port, "9600,N,8,1", 1)).Opened(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (!opened.Opened()) {
    std::printf("%-8s %s: %s\n", title, port.c_str(), opened.Message.c_str());
    return;
  }
  for (int i = 0; i < 20; ++i) Exchange(link);  // warm up
  std::vector<double> ms;
  int failed = 0;
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    const double t = Exchange(link);
    if (t < 0) ++failed;
    else ms.push_back(t);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  double mean = 0;
  for (double t : ms) mean += t;
  mean = ms.empty() ? 0 : mean / static_cast<double>(ms.size());
  std::printf("%-8s mean %.3f ms  median %.3f ms  p99 %.3f ms  %.0f exchanges/s  (%d failed)\n", title, mean,
              Percentile(ms, 0.5), Percentile(ms, 0.99), static_cast<double>(ms.size()) / seconds, failed);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
  const std::string dir = std::filesystem::temp_directory_path() / ("dlt645-transport-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  // The pty paths: a meter in this process, as the channel benchmark has it.
  TVirtualMeter local{TMeterOptions{}};
  std::string error;
  if (!local.Start(error)) {
    std::fprintf(stderr, "set-up failed: %s\n", error.c_str());
    return 1;
  }
  const std::string link = local.PortPath();
  const int tcp = FreeLoopbackPort();
  // Both meters answer at once (the command line's meter waits 22 ms by default), so that the
  // figures differ by the transports only.
  const pid_t meter = Start({DLT645_BIN, "simulate", "--link", dir + "/meter", "--response", "0", "--listen",
                             "tcp://127.0.0.1:" + std::to_string(tcp)});
  Measure("pty", link, count);
  Measure("tcp", "tcp://127.0.0.1:" + std::to_string(tcp), count);

  pid_t server = -1;
  const std::vector<int> ports = FreeLoopbackPorts(2);
  const int raw = ports[0], telnet = ports[1];
  if (::access("/usr/sbin/ser2net", X_OK) == 0) {
    std::ofstream(dir + "/ser2net.yaml") << "connection: &raw\n  accepter: tcp,127.0.0.1," << raw
                                         << "\n  connector: serialdev," << link << ",9600n81,local\n"
                                         << "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1,"
                                         << telnet << "\n  connector: serialdev," << link << ",9600n81,local\n";
    server = Start({"/usr/sbin/ser2net", "-n", "-c", dir + "/ser2net.yaml"});
    Measure("ser2net", "tcp://127.0.0.1:" + std::to_string(raw), count);
    Measure("rfc2217", "rfc2217://127.0.0.1:" + std::to_string(telnet), count);
  } else {
    std::printf("ser2net is not installed: the ser2net and rfc2217 figures are left out\n");
  }
  Stop(server);
  Stop(meter);
  std::filesystem::remove_all(dir);
  return 0;
}
