#pragma once
// The client end of the virtual meter's pseudo-terminal, with plain POSIX calls, as a program
// that opens the port would see it.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "protocol/Protocol.h"

class TMeterPeer {
 public:
  using TClock = std::chrono::steady_clock;

  explicit TMeterPeer(const std::string& path) {
    Fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Fd >= 0) {
      termios tio{};
      ::tcgetattr(Fd, &tio);
      ::cfmakeraw(&tio);
      ::tcsetattr(Fd, TCSANOW, &tio);
    }
  }
  ~TMeterPeer() {
    if (Fd >= 0) ::close(Fd);
  }
  TMeterPeer(const TMeterPeer&) = delete;
  TMeterPeer& operator=(const TMeterPeer&) = delete;

  bool IsOpen() const { return Fd >= 0; }

  bool Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(Fd, bytes.data() + done, bytes.size() - done);
      if (n < 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  bool Write(const std::string& text) { return Write(std::vector<uint8_t>(text.begin(), text.end())); }

  // Waits up to `totalMs` for the first byte, then reads until `quietMs` pass without one.
  std::vector<uint8_t> ReadQuiet(int quietMs, int totalMs = 3000) {
    std::vector<uint8_t> bytes;
    auto end = TClock::now() + std::chrono::milliseconds(totalMs);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now()).count();
      if (left <= 0) break;
      int wait = bytes.empty() ? static_cast<int>(left) : std::min(quietMs, static_cast<int>(left));
      if (!ReadSome(bytes, wait)) break;
    }
    return bytes;
  }

  // Reads until `count` bytes arrived or `totalMs` passed.
  std::vector<uint8_t> ReadCount(size_t count, int totalMs = 3000) {
    std::vector<uint8_t> bytes;
    auto end = TClock::now() + std::chrono::milliseconds(totalMs);
    while (bytes.size() < count && TClock::now() < end) ReadSome(bytes, 20);
    return bytes;
  }

  // Reads until one frame (68 .. 16 with the length its L byte says) is complete. `raw` gets every
  // byte read up to the frame's end (preamble and noise included), `frame` the frame alone.
  bool ReadFrame(std::vector<uint8_t>& frame, std::vector<uint8_t>* raw = nullptr, int totalMs = 3000) {
    std::vector<uint8_t> bytes = std::move(Pending);
    Pending.clear();
    auto end = TClock::now() + std::chrono::milliseconds(totalMs);
    for (;;) {
      for (size_t pos = 0; pos < bytes.size(); ++pos) {
        if (bytes[pos] != 0x68) continue;
        if (bytes.size() < pos + 10) break;
        if (bytes[pos + 7] != 0x68) continue;
        size_t len = static_cast<size_t>(bytes[pos + 9]) + 12;
        if (bytes.size() < pos + len) break;
        frame.assign(bytes.begin() + static_cast<long>(pos), bytes.begin() + static_cast<long>(pos + len));
        if (raw) raw->assign(bytes.begin(), bytes.begin() + static_cast<long>(pos + len));
        Pending.assign(bytes.begin() + static_cast<long>(pos + len), bytes.end());
        return true;
      }
      if (TClock::now() >= end) {
        if (raw) *raw = bytes;
        return false;
      }
      ReadSome(bytes, 20);
    }
  }

  // A frame decoded the way the workbench decodes it.
  bool ReadBody(TFrameBody& body, int totalMs = 3000) {
    std::vector<uint8_t> frame;
    if (!ReadFrame(frame, nullptr, totalMs)) return false;
    std::string verdict, error;
    if (TProtocol::CheckFrame(frame.data(), static_cast<int>(frame.size()), verdict) != 0) return false;
    body = TFrameBody();
    return TProtocol::UnPack(frame.data(), static_cast<int>(frame.size()), body, error) == 0;
  }

  // True when nothing at all arrives within `ms`.
  bool Silent(int ms) { return ReadQuiet(ms, ms).empty() && Pending.empty(); }

  int Fd = -1;

 private:
  // Waits up to `ms` for bytes; false when none came.
  bool ReadSome(std::vector<uint8_t>& bytes, int ms) {
    pollfd in{Fd, POLLIN, 0};
    if (::poll(&in, 1, ms) <= 0 || !(in.revents & POLLIN)) return false;
    uint8_t chunk[1024];
    ssize_t n = ::read(Fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    bytes.insert(bytes.end(), chunk, chunk + n);
    return true;
  }
  std::vector<uint8_t> Pending;
};

// A request as the workbench packs it.
inline std::vector<uint8_t> PackRequest(const std::string& address, int ctrl, const std::string& dataHex,
                                        int relayCount = 0) {
  TDltFrame frame;
  frame.CtrlCode = ctrl;
  frame.RelayCount = relayCount;
  std::unique_ptr<uint8_t[]> out;
  int len = 0;
  std::string error;
  if (TProtocol::Pack(address, frame, dataHex, out, len, error) != 0) return {};
  return std::vector<uint8_t>(out.get(), out.get() + len);
}

// "00010000" -> "00000100": display order to wire order, pair by pair.
inline std::string Wire(const std::string& display) {
  std::string out;
  for (size_t i = display.size(); i >= 2; i -= 2) out += display.substr(i - 2, 2);
  return out;
}
