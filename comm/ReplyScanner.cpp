#include "comm/ReplyScanner.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint8_t kStart = 0x68;
constexpr uint8_t kEnd = 0x16;
}  // namespace

TReplyScanner::TReplyScanner(int capacity)
    : Cap(capacity < 1 ? 1 : capacity), Buf(new uint8_t[static_cast<size_t>(Cap)]) {}

void TReplyScanner::Reset() { Size = 0; }

bool TReplyScanner::Next(std::vector<uint8_t>& frame) { return Size > 0 && Scan(frame); }

bool TReplyScanner::Feed(const uint8_t* data, int count, int& used, std::vector<uint8_t>& frame,
                         int& dropped) {
  used = 0;
  if (!data) return false;
  while (used < count) {
    if (Size == Cap) dropped += MakeRoom();
    int n = std::min(count - used, Cap - Size);
    std::memcpy(Buf.get() + Size, data + used, static_cast<size_t>(n));
    Size += n;
    used += n;
    if (Scan(frame)) return true;
  }
  return false;
}

namespace {

enum class TCandidate { NoFrame, Incomplete, Frame };

// What the bytes from the 68H at `pos` are: no frame, a candidate still waiting for bytes, or a
// frame of `len` bytes.
TCandidate Candidate(const uint8_t* b, int size, int pos, int& len) {
  if (size < pos + 8) return TCandidate::Incomplete;
  if (b[pos + 7] != kStart) return TCandidate::NoFrame;
  if (size < pos + 10) return TCandidate::Incomplete;
  len = b[pos + 9] + 12;
  if (size < pos + len) return TCandidate::Incomplete;
  return b[pos + len - 1] == kEnd ? TCandidate::Frame : TCandidate::NoFrame;
}

}  // namespace

// Every 68H starts a candidate. A candidate that turns out wrong (no second 68H, no 16H where
// its length puts it) gives up only its first byte, so a frame that follows noise in the same
// bytes is still found. An incomplete candidate keeps its bytes for the next call, but frames
// that are already complete behind it are still looked for. Of several complete frames the one
// that ends first is taken: the frame a byte-by-byte arrival completes first, so the same bytes
// give the same frames however the port splits them.
bool TReplyScanner::Scan(std::vector<uint8_t>& frame) {
  const uint8_t* b = Buf.get();
  int keepFrom = -1;  // first incomplete candidate
  int best = -1, bestEnd = 0;
  for (int pos = 0; pos < Size && (best < 0 || pos + 12 < bestEnd); ++pos) {
    if (b[pos] != kStart) continue;
    int len = 0;
    const TCandidate c = Candidate(b, Size, pos, len);
    if (c == TCandidate::Incomplete && keepFrom < 0) keepFrom = pos;
    if (c == TCandidate::Frame && (best < 0 || pos + len < bestEnd)) {
      best = pos;
      bestEnd = pos + len;
    }
  }
  if (best >= 0) frame.assign(b + best, b + bestEnd);
  // Bytes behind a complete frame stay: when that frame is not the answer the wait goes on,
  // and the answer may already be among them (Next finds it).
  const int discard = best >= 0 ? bestEnd : (keepFrom >= 0 ? keepFrom : Size);
  if (discard > 0) {
    std::memmove(Buf.get(), Buf.get() + discard, static_cast<size_t>(Size - discard));
    Size -= discard;
  }
  return best >= 0;
}

// The buffer is full and holds no frame: keep the last candidate that may still complete
// (from the last 68H on) and give up everything before it.
int TReplyScanner::MakeRoom() {
  const uint8_t* b = Buf.get();
  int last = -1;
  for (int i = Size - 1; i > 0; --i) {
    if (b[i] == kStart) {
      last = i;
      break;
    }
  }
  int drop = last > 0 ? last : Size;
  std::memmove(Buf.get(), Buf.get() + drop, static_cast<size_t>(Size - drop));
  Size -= drop;
  return drop;
}
