// Bytes from the serial line in whatever pieces the port hands them over: the reply scanner
// must find the same frames in the same order however the bytes are split, whether a caller
// feeds on after a frame (waiting for the real answer behind a stale one) or not, and every frame
// it hands out must be laid out as one (68H, six bytes, 68H, C, L, L bytes, CS, 16H) and taken
// from the bytes in the order they came.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "comm/ReplyScanner.h"

namespace {

using TFrames = std::vector<std::vector<uint8_t>>;

// Feeds `stream` in pieces of the given sizes (cycled; none: all at once), taking every frame
// (Next finds those behind the first) and feeding on, as a caller that waits for the answer does.
TFrames FeedAll(const std::vector<uint8_t>& stream, const std::vector<int>& pieces, int capacity) {
  TReplyScanner scanner(capacity);
  TFrames frames;
  std::size_t offset = 0, next = 0;
  int dropped = 0;
  while (offset < stream.size()) {
    int size = pieces.empty() ? 0 : pieces[next++ % pieces.size()];
    const int left = static_cast<int>(stream.size() - offset);
    if (size <= 0 || size > left) size = left;
    int done = 0;
    while (done < size) {
      int used = -1;
      const int offered = size - done;
      std::vector<uint8_t> frame;
      bool found = scanner.Feed(stream.data() + offset + done, offered, used, frame, dropped);
      FUZZ_CHECK(used >= 0 && used <= offered);
      FUZZ_CHECK(found || used == offered);  // without a frame every byte is taken
      FUZZ_CHECK(!found || used > 0);
      done += used;
      for (; found; found = scanner.Next(frame)) {
        FUZZ_CHECK(frame.size() >= 12 && frame.size() == static_cast<std::size_t>(frame[9]) + 12);
        FUZZ_CHECK(frame[0] == 0x68 && frame[7] == 0x68 && frame.back() == 0x16);
        FUZZ_CHECK(scanner.Count() <= scanner.Capacity());
        frames.push_back(frame);
      }
    }
    offset += static_cast<std::size_t>(size);
  }
  return frames;
}

// Each frame appears in the stream, each after the one before.
void CheckTakenInOrder(const std::vector<uint8_t>& stream, const TFrames& frames) {
  auto from = stream.begin();
  for (const auto& frame : frames) {
    auto at = std::search(from, stream.end(), frame.begin(), frame.end());
    FUZZ_CHECK(at != stream.end());
    from = at + static_cast<long>(frame.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 2048) return 0;
  FuzzedDataProvider in(data, size);
  std::vector<int> pieces;
  const int pieceCount = in.ConsumeIntegralInRange(1, 8);
  for (int i = 0; i < pieceCount; ++i) pieces.push_back(in.ConsumeIntegralInRange(1, 40));
  const std::vector<uint8_t> stream = in.ConsumeRemainingBytes<uint8_t>();

  // The channel's buffer holds far more than one stream here: nothing is ever dropped.
  const TFrames whole = FeedAll(stream, {}, 65536);
  const TFrames split = FeedAll(stream, pieces, 65536);
  const TFrames bytewise = FeedAll(stream, {1}, 65536);
  FUZZ_CHECK(split == whole);
  FUZZ_CHECK(bytewise == whole);
  CheckTakenInOrder(stream, whole);

  // A buffer smaller than the stream gives up old bytes, but stays inside itself and hands out
  // only frames that the bytes hold.
  CheckTakenInOrder(stream, FeedAll(stream, pieces, 16 + pieces[0]));
  return 0;
}
