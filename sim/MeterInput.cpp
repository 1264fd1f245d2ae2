// Frame and text-line assembly on the virtual meter's side of the line.
#include "sim/MeterInput.h"

#include <algorithm>

namespace {
bool Printable(uint8_t b) { return b == '\t' || (b >= 0x20 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE); }
}  // namespace

void TMeterInput::Feed(const uint8_t* bytes, size_t count, TClock::time_point now) {
  if (count == 0) return;
  Buffer.insert(Buffer.end(), bytes, bytes + count);
  if (Buffer.size() > MaxBuffered) Buffer.erase(Buffer.begin(), Buffer.end() - MaxBuffered);
  LastByte = now;
}

bool TMeterInput::Next(TEvent& event, TClock::time_point now) {
  const bool stalled = now - LastByte >= StallTime;
  while (!Buffer.empty()) {
    const size_t before = Buffer.size();
    if (Buffer[0] == 0x68) {
      const size_t size = Buffer.size();
      bool frame = size < 8 || Buffer[7] == 0x68;
      if (frame) {
        const size_t need = size >= 10 ? static_cast<size_t>(Buffer[9]) + 12 : 0;
        if (need == 0 || size < need) {
          if (!stalled) return false;
          frame = false;  // what has come of it cannot be completed: read it as text
        } else if (Buffer[need - 1] == 0x16) {
          uint8_t sum = 0;
          for (size_t i = 0; i + 2 < need; ++i) sum = static_cast<uint8_t>(sum + Buffer[i]);
          event.Kind = sum == Buffer[need - 2] ? ikFrame : ikBadFrame;
          event.Bytes.assign(Buffer.begin(), Buffer.begin() + static_cast<long>(need));
          Buffer.erase(Buffer.begin(), Buffer.begin() + static_cast<long>(need));
          return true;
        }
      }
      if (TakeText(event, stalled)) return true;
    } else if (!Printable(Buffer[0])) {  // preamble, noise, a lone CR or LF
      Buffer.erase(Buffer.begin());
    } else if (TakeText(event, stalled)) {
      return true;
    }
    if (Buffer.size() == before) return false;  // an unfinished line: wait for its CR
  }
  return false;
}

// The buffer starts with something that is not a frame: a text line closed by CR, noise in front
// of a frame, or a line still coming.
bool TMeterInput::TakeText(TEvent& event, bool stalled) {
  auto cr = std::find(Buffer.begin(), Buffer.end(), static_cast<uint8_t>('\r'));
  if (cr != Buffer.end() && cr != Buffer.begin() && std::all_of(Buffer.begin(), cr, Printable)) {
    event.Kind = ikText;
    event.Bytes.assign(Buffer.begin(), cr);
    Buffer.erase(Buffer.begin(), cr + 1);
    return true;
  }
  for (size_t j = 1; j < Buffer.size(); ++j) {
    if (Buffer[j] == 0x68 && (j + 7 >= Buffer.size() || Buffer[j + 7] == 0x68)) {
      Buffer.erase(Buffer.begin(), Buffer.begin() + static_cast<long>(j));  // noise before a frame
      return false;
    }
  }
  if (cr != Buffer.end()) {
    Buffer.erase(Buffer.begin(), cr + 1);  // a line of garbage
  } else if (!std::all_of(Buffer.begin(), Buffer.end(), Printable) || (stalled && Buffer.size() >= MaxBuffered / 2)) {
    Buffer.erase(Buffer.begin());
  }
  return false;
}
