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
