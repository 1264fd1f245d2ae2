#pragma once
// Frames in flight and the locked send queue.
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/DLT.h"

uint32_t TickCount();  // milliseconds since an arbitrary start, wraps at 2^32

// The line's timing of one exchange, as the channel reads the port: when the request's last byte
// left (taken just before the write, so that a writer put aside by the scheduler never makes an
// answer look early, plus the time the line takes to carry the request), the first arrival
// after it and the longest pause between two arrivals. The channel reads whatever is waiting as
// soon as its wait wakes, so an arrival is timed to well under a millisecond; bytes read
// together count as one arrival.
class TLineTiming {
 public:
  using TClock = std::chrono::steady_clock;
  void Sent(TClock::time_point lastByteOut);
  void Arrived(TClock::time_point now);
  double FirstByteMs() const;  // from the last byte out to the first back; -1: nothing came
  double MaxGapMs() const;

 private:
  TClock::time_point Out{}, First{}, Last{};
  TClock::duration MaxGap = TClock::duration::zero();
};

class TKvFrame {
 public:
  std::unique_ptr<uint8_t[]> Buf;  // owned
  int BufLen = 0;
  uint32_t Tick = 0;
  std::chrono::steady_clock::time_point Stamp{};  // taken with Tick, for sub-millisecond round trips
  TDltFrame DltFrame;
  // The exchange number the channel gave the frame when it accepted it (1, 2, 3, ... per
  // channel); a received frame carries the number of the frame it came in answer to.
  uint64_t Serial = 0;
  TLineTiming Timing;  // of a sent frame: its exchange's line timing (sending thread)
};

std::string FrameToHex(const TKvFrame& frame);  // "68 16 "

class TFrameBuffer {
 public:
  void Add(std::unique_ptr<TKvFrame> frame);
  std::unique_ptr<TKvFrame> Take();  // nullptr when empty
  int Count() const;
  const TKvFrame& Get(int index) const;  // throws std::out_of_range "List index out of bounds (%d)"
  // Empties the queue and hands back the frames it held, oldest first, so that the caller can
  // report them (after the lock is released) before they are destroyed.
  std::vector<std::unique_ptr<TKvFrame>> Clear();

 private:
  mutable std::recursive_mutex Lock;
  std::deque<std::unique_ptr<TKvFrame>> List;
};
