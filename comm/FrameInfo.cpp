// Frames in flight and the locked send queue.
#include "comm/FrameInfo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>

uint32_t TickCount() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

std::string FrameToHex(const TKvFrame& frame) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  if (!frame.Buf || frame.BufLen <= 0) return text;
  text.reserve(static_cast<size_t>(frame.BufLen) * 3);
  for (int i = 0; i < frame.BufLen; ++i) {
    uint8_t b = frame.Buf[i];
    text += digits[b >> 4];
    text += digits[b & 0x0F];
    text += ' ';
  }
  return text;
}

void TFrameBuffer::Add(std::unique_ptr<TKvFrame> frame) {
  if (!frame) return;
  std::lock_guard<std::recursive_mutex> guard(Lock);
  List.push_back(std::move(frame));
}

std::unique_ptr<TKvFrame> TFrameBuffer::Take() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (Count() == 0) return nullptr;
  std::unique_ptr<TKvFrame> frame = std::move(List.front());
  List.pop_front();
  return frame;
}

int TFrameBuffer::Count() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return static_cast<int>(List.size());
}

const TKvFrame& TFrameBuffer::Get(int index) const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (index < 0 || index >= Count()) {
    char text[64];
    std::snprintf(text, sizeof text, "List index out of bounds (%d)", index);
    throw std::out_of_range(text);
  }
  return *List[static_cast<size_t>(index)];
}

std::vector<std::unique_ptr<TKvFrame>> TFrameBuffer::Clear() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  std::vector<std::unique_ptr<TKvFrame>> taken;
  taken.reserve(List.size());
  for (auto& frame : List) taken.push_back(std::move(frame));
  List.clear();
  return taken;
}

void TLineTiming::Sent(TClock::time_point lastByteOut) {
  *this = TLineTiming();
  Out = lastByteOut;
}

void TLineTiming::Arrived(TClock::time_point now) {
  if (First == TClock::time_point{}) First = now;
  else MaxGap = std::max(MaxGap, now - Last);
  Last = now;
}

double TLineTiming::FirstByteMs() const {
  if (First == TClock::time_point{}) return -1;
  return std::max(0.0, std::chrono::duration<double, std::milli>(First - Out).count());
}

double TLineTiming::MaxGapMs() const { return std::chrono::duration<double, std::milli>(MaxGap).count(); }
