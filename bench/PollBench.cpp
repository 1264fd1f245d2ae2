// `dlt645 poll` against the virtual meter on a pseudo-terminal, one identifier, no interval:
//   rate    exchanges per second of the whole command (CSV rows written), start-up excluded by
//           timing two runs of different lengths
//   added   the time per exchange beyond the meter's own: the poll's time per exchange minus
//           that of a bare client (write the request, read the reply, nothing else) on the
//           same meter
//   cpu     processor time of the poll process per exchange (less sensitive to a busy machine)
// Every figure is the best of three runs.
// Usage: bench_PollBench [EXCHANGES] (default 20000). Not run by ctest.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/VirtualMeter.h"

namespace {
using Clock = std::chrono::steady_clock;

// Read of 02010100 from meter 000000000001 (four FE bytes in front, as the poll sends it).
const std::vector<uint8_t> kRequest = {0xFE, 0xFE, 0xFE, 0xFE, 0x68, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0x68, 0x11, 0x04, 0x33, 0x34, 0x34, 0x35, 0xB6, 0x16};
constexpr size_t kReplySize = 4 + 18;  // FE x4, then a reply with 6 data bytes

// Seconds taken by `dlt645 poll` for `count` exchanges; the summary goes to `summary`, the
// processor time (user and system) the poll process used to `cpu`.
double TimePoll(const std::string& port, long count, std::string& summary, double& cpu) {
  int out[2];
  if (::pipe(out) != 0) return -1;
  const std::string n = std::to_string(count);
  auto start = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::execl(DLT645_BIN, DLT645_BIN, "poll", "--port", port.c_str(), "--address", "1", "--di", "02010100",
            "--interval", "0", "--count", n.c_str(), "--preamble", "FE:4", "--csv", "/dev/null",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  char buf[512];
  summary.clear();
  for (ssize_t got; (got = ::read(out[0], buf, sizeof buf)) > 0;) summary.append(buf, static_cast<size_t>(got));
  ::close(out[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

// Mean seconds per exchange of a client that only writes the request and reads the reply.
double TimeBareClient(const std::string& port, long count) {
  int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  uint8_t buf[256];
  auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    if (::write(fd, kRequest.data(), kRequest.size()) != static_cast<ssize_t>(kRequest.size())) return -1;
    size_t have = 0;
    while (have < kReplySize) {
      pollfd in{fd, POLLIN, 0};
      if (::poll(&in, 1, 1000) <= 0) return -1;
      ssize_t got = ::read(fd, buf, sizeof buf);
      if (got > 0) have += static_cast<size_t>(got);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(fd);
  return seconds / static_cast<double>(count);
}

std::string Field(const std::string& text, const std::string& key) {
  size_t at = text.find(key + "=");
  if (at == std::string::npos) return "?";
  at += key.size() + 1;
  return text.substr(at, text.find('\n', at) - at);
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::stol(argv[1]) : 20000;
  TVirtualMeter meter{TMeterOptions{}};
  std::string error;
  if (!meter.Start(error)) {
    std::fprintf(stderr, "virtual meter: %s\n", error.c_str());
    return 1;
  }
  const std::string port = meter.PortPath();
  std::string longRun;
  // Each figure is the best of three runs: on a shared machine the other processes only add.
  double cpuShort = 1e9, cpuLong = 1e9, tShort = 1e9, tLong = 1e9, bare = 1e9;
  for (int run = 0; run < 3; ++run) {
    std::string summary;
    double cpu = 0;
    const double s = TimePoll(port, count / 10, summary, cpu);
    if (s < 0) tShort = -1;
    if (s >= 0 && tShort >= 0 && s < tShort) tShort = s, cpuShort = cpu;
    const double l = TimePoll(port, count, summary, cpu);
    if (l < 0) tLong = -1;
    if (l >= 0 && tLong >= 0 && l < tLong) tLong = l, cpuLong = cpu, longRun = summary;
    const double b = TimeBareClient(port, count);
    bare = b < 0 || bare < 0 ? -1 : std::min(bare, b);
  }
  if (tShort < 0 || tLong < 0 || bare < 0) {
    std::fprintf(stderr, "a run failed\n");
    return 1;
  }
  const double perExchange = (tLong - tShort) / static_cast<double>(count - count / 10);
  std::printf("poll: %ld exchanges in %.3f s, %ld in %.3f s (start-up included)\n", count, tLong, count / 10, tShort);
  std::printf("poll rate (start-up excluded): %.0f exchanges/s, %.1f us per exchange\n", 1 / perExchange, perExchange * 1e6);
  std::printf("processor time of the poll process: %.1f us per exchange (user and system, start-up excluded)\n",
              (cpuLong - cpuShort) / static_cast<double>(count - count / 10) * 1e6);
  std::printf("poll round trips (write to last reply byte): median %s ms, p95 %s ms, max %s ms\n",
              Field(longRun, "RoundTripMedianMs").c_str(), Field(longRun, "RoundTripP95Ms").c_str(),
              Field(longRun, "RoundTripMaxMs").c_str());
  std::printf("bare client on the same meter: %.1f us per exchange (%.0f exchanges/s)\n", bare * 1e6, 1 / bare);
  std::printf("added by poll per exchange: %.1f us\n", (perExchange - bare) * 1e6);
  meter.Stop();
  return 0;
}
