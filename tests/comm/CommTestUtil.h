#pragma once
// Shared by the comm and integration tests: a pseudo-terminal whose master side the test drives
// by hand, a log sink that records entries, and a bounded wait for a condition.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/LogSink.h"
#include "protocol/Protocol.h"

// A composed read of `diWire` (wire order) from meter 000000000001.
inline TDltFrame ReadCommand(const std::string& diWire, int timeoutSec) {
  TDltFrame f;
  f.Address = "000000000001";
  f.CtrlCode = 0x11;
  f.DI = diWire;
  f.DataField = diWire;
  f.DataLen = 4;
  f.TimeoutSec = timeoutSec;
  return f;
}

// The frame's bytes as the codec packs them (empty when packing fails).
inline std::vector<uint8_t> Packed(const TDltFrame& f) {
  std::unique_ptr<uint8_t[]> buf;
  int len = 0;
  std::string error;
  if (TProtocol::Pack(f.Address, f, f.DataField, buf, len, error) != 0) return {};
  return std::vector<uint8_t>(buf.get(), buf.get() + len);
}

// Polls `done` every millisecond until it holds or `timeoutMs` passed.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 3000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class TTestPty {
 public:
  TTestPty() {
    Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Master >= 0 && grantpt(Master) == 0 && unlockpt(Master) == 0) {
      const char* name = ptsname(Master);
      if (name) SlavePath = name;
    }
  }
  ~TTestPty() { CloseMaster(); }
  bool Ok() const { return Master >= 0 && !SlavePath.empty(); }

  void Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(Master, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else {
        pollfd p{Master, POLLOUT, 0};
        if (poll(&p, 1, 1000) <= 0) return;
      }
    }
  }
  // Reads what the client sent until `count` bytes arrived or `timeoutMs` passed.
  std::vector<uint8_t> Read(size_t count, int timeoutMs = 2000) {
    std::vector<uint8_t> out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      pollfd p{Master, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
      uint8_t buf[4096];
      ssize_t n = read(Master, buf, sizeof buf);
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }
  void CloseMaster() {
    if (Master >= 0) close(Master);
    Master = -1;
  }

  int Master = -1;
  std::string SlavePath;
};

struct TLogRecord {
  int Types;
  std::string Source;
  std::string Text;
};

// Records every entry; installs itself while it lives.
class TRecordingSink : public TLogSink {
 public:
  explicit TRecordingSink(int mask = 31) : Mask(mask) { SetLogSink(this); }
  ~TRecordingSink() override { SetLogSink(nullptr); }
  void WriteLog(int types, const std::string& source, const std::string& text) override {
    if ((types & Mask) != types) return;
    std::lock_guard<std::mutex> guard(Lock);
    Records.push_back({types, source, text});
  }
  int LogTypes() const override { return Mask; }

  std::vector<TLogRecord> Entries() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Records;
  }
  // Entries of `types` from `source` whose text begins with `prefix`.
  std::vector<TLogRecord> Find(int types, const std::string& source, const std::string& prefix) const {
    std::vector<TLogRecord> out;
    for (const auto& r : Entries()) {
      if (r.Types == types && r.Source == source && r.Text.rfind(prefix, 0) == 0) out.push_back(r);
    }
    return out;
  }

 private:
  int Mask;
  mutable std::mutex Lock;
  std::vector<TLogRecord> Records;
};

// A frame as a meter sends it: 68 A0..A5 68 C L data+33 CS 16, address 000000000001.
inline std::vector<uint8_t> MeterFrame(uint8_t ctrl, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> f = {0x68, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x68, ctrl,
                            static_cast<uint8_t>(data.size())};
  for (uint8_t d : data) f.push_back(static_cast<uint8_t>(d + 0x33));
  uint8_t cs = 0;
  for (uint8_t b : f) cs = static_cast<uint8_t>(cs + b);
  f.push_back(cs);
  f.push_back(0x16);
  return f;
}
