#pragma once
// Splits what arrives on the meter's line into DL/T 645 frames and text lines. Frames may be
// preceded by FEH preamble bytes or noise; text lines are printable characters (ASCII or GBK)
// closed by CR. A line that starts with 68H is taken as a frame unless it cannot be one.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

class TMeterInput {
 public:
  using TClock = std::chrono::steady_clock;
  enum TKind { ikFrame, ikBadFrame, ikText };
  struct TEvent {
    TKind Kind = ikFrame;
    std::vector<uint8_t> Bytes;  // the frame (68 .. 16), or the line without its CR
  };

  // How long an incomplete frame may wait for its missing bytes before its first byte is read
  // as text (a text line may start with 'h', which is 68H).
  static constexpr std::chrono::milliseconds StallTime{300};
  static constexpr size_t MaxBuffered = 8192;

  void Feed(const uint8_t* bytes, size_t count, TClock::time_point now);
  // The next frame or line, or false when more bytes (or more time) are needed.
  bool Next(TEvent& event, TClock::time_point now);
  bool Empty() const { return Buffer.empty(); }

 private:
  bool TakeText(TEvent& event, bool stalled);
  std::vector<uint8_t> Buffer;
  TClock::time_point LastByte{};
};
