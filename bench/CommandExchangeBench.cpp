// The command window's exchange against the virtual meter's text mode on a pseudo-terminal:
//   exchange    one AT -> OK exchange, from the call to its return (the answer ends with more
//               than one second of silence, so this is a little over a second)
//   overshoot   from the meter's last answer byte written to the return, minus the second of silence
//   interrupt   from an interrupt given on another thread to the return
// Usage: bench_CommandExchangeBench [N] (default 5 exchanges). Not run by ctest.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "comm/SerialPort.h"
#include "services/CommandExchange.h"
#include "sim/VirtualMeter.h"

namespace {
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Report(const char* what, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::printf("%-10s n=%zu  min %.1f ms  median %.1f ms  max %.1f ms\n", what, values.size(), values.front(),
              values[values.size() / 2], values.back());
}
}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  TVirtualMeter meter{TMeterOptions{}};
  TSerialPort port;
  std::string error;
  if (!meter.Start(error) || port.Open(meter.PortPath(), "9600,N,8,1", 1, error) != 0) {
    std::fprintf(stderr, "set-up failed: %s\n", error.c_str());
    return 1;
  }
  std::atomic<bool> interrupted{false};
  TTextLine line{&port, nullptr, &interrupted, {}};

  std::vector<double> exchange, overshoot, interrupt;
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    TTextReply reply = CommandExchange::SendAndWait(line, "AT\r", 30);
    const auto end = Clock::now();
    if (reply.Code != trOk || reply.Reply != "OK\r\n") {
      std::fprintf(stderr, "unexpected answer: %d %s\n", reply.Code, reply.Content().c_str());
      return 1;
    }
    exchange.push_back(Ms(end - start));
    overshoot.push_back(Ms(end - meter.LastReplyWritten()) - CommandExchange::SilenceMs);
  }
  TMeterFaults quiet;
  quiet.NoReply = true;
  meter.SetFaults(quiet);
  for (int i = 0; i < count; ++i) {
    Clock::time_point given;
    std::thread presser([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      given = Clock::now();
      interrupted = true;
      port.Interrupt();
    });
    TTextReply reply = CommandExchange::SendAndWait(line, "AT\r", 30);
    const auto end = Clock::now();
    presser.join();
    if (reply.Code != trInterrupted) return 1;
    interrupt.push_back(Ms(end - given));
  }
  Report("exchange", exchange);
  Report("overshoot", overshoot);
  Report("interrupt", interrupt);
  return 0;
}
