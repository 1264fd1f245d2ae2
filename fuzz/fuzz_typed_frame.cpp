// A frame typed (or pasted) into the frame field as hexadecimal text: the format check passes
// exactly the texts laid out as "XX XX XX" (a last blank allowed); the bytes Send puts on the line
// are the typed bytes closed by their checksum and 16H, or the typed bytes alone when they already
// are a whole frame, so a frame typed with or without its checksum goes out as the same bytes; a
// frame whose L does not count its data is refused; and a frame taken back from a grid row for
// editing goes out again as the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "protocol/SendCycle.h"
#include "protocol/StringUtil.h"

namespace {

// The spaced text of `bytes`, with or without the blank after the last byte.
std::string Spaced(const std::vector<uint8_t>& bytes, bool lastBlank) {
  std::string text = TStringUtil::BytesToHexSpaced(bytes.data(), static_cast<int>(bytes.size()));
  if (!lastBlank && !text.empty()) text.pop_back();
  return text;
}

// Whether `text` is the spaced text of the bytes its pairs name: rebuilt from those pairs, it is
// the same text.
bool LaidOutAsBytes(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 3) {
    const std::string pair = text.substr(i, 2);
    for (char c : pair)
      if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    uint8_t b = 0;
    TStringUtil::TryHexPair(pair, b);
    bytes.push_back(b);
  }
  return text == Spaced(bytes, false) || text == Spaced(bytes, true);
}

void CheckClosed(const std::vector<uint8_t>& typed, const std::vector<uint8_t>& sent) {
  FUZZ_CHECK(sent.size() == typed.size() + 2);
  uint8_t sum = 0;
  for (std::size_t i = 0; i < typed.size(); ++i) {
    FUZZ_CHECK(sent[i] == typed[i]);
    sum = static_cast<uint8_t>(sum + typed[i]);
  }
  FUZZ_CHECK(sent[typed.size()] == sum && sent.back() == 0x16);
}

// What Send puts on the line for `typed`: the bytes as typed when they are a whole frame.
void CheckSent(const std::vector<uint8_t>& typed, const std::vector<uint8_t>& sent) {
  if (TypedFrameKind(typed) == TTypedFrameKind::Complete) FUZZ_CHECK(sent == typed);
  else CheckClosed(typed, sent);
}

// A whole frame typed with and without its checksum and 16H gives the same bytes.
void CheckWholeFrame(FuzzedDataProvider& in) {
  std::vector<uint8_t> open(in.ConsumeIntegralInRange(0, 2), 0xFE);
  const std::size_t head = open.size();
  open.push_back(0x68);
  for (int i = 0; i < 6; ++i) open.push_back(in.ConsumeIntegral<uint8_t>());
  open.push_back(0x68);
  open.push_back(in.ConsumeIntegral<uint8_t>());
  const std::vector<uint8_t> data = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 40));
  const bool wrongLength = in.ConsumeIntegralInRange(0, 7) == 0;
  open.push_back(static_cast<uint8_t>(data.size() + (wrongLength ? 1 : 0)));
  open.insert(open.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (std::size_t i = head; i < open.size(); ++i) sum = static_cast<uint8_t>(sum + open[i]);
  std::vector<uint8_t> whole = open;
  whole.push_back(sum);
  whole.push_back(0x16);
  const std::string text = Spaced(whole, in.ConsumeBool());
  if (wrongLength) {
    FUZZ_CHECK(!TypedFrameRefusal(text).empty());
    return;
  }
  FUZZ_CHECK(TypedFrameRefusal(text).empty());
  FUZZ_CHECK(TypedFrameBytes(text) == whole);
  if (head == 0) FUZZ_CHECK(TypedFrameBytes(Spaced(open, false)) == whole);
}

const char kTyped[] = "0123456789ABCDEFabcdef  G:-\t";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1024) return 0;
  FuzzedDataProvider in(data, size);
  const bool lastBlank = in.ConsumeBool();
  const std::vector<uint8_t> typed = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 300));

  // A well-formed text passes and goes out as its bytes, checksum and 16H.
  const std::string text = Spaced(typed, lastBlank);
  FUZZ_CHECK(CheckFrameText(text));
  CheckSent(typed, TypedFrameBytes(text));
  CheckWholeFrame(in);

  // The frame of a sent row, taken back for editing, goes out again unchanged.
  const std::vector<uint8_t> sent = TypedFrameBytes(text);
  std::string again;
  FUZZ_CHECK(RowFrameForEditing(SentRow("", Spaced(sent, true), 0, ""), again));
  FUZZ_CHECK(TypedFrameBytes(again) == sent);

  // An edited text passes exactly when it is still laid out as bytes.
  std::string edited = text;
  const int edits = in.ConsumeIntegralInRange(0, 3);
  for (int i = 0; i < edits; ++i) {
    const char c = kTyped[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kTyped - 2)];
    const std::size_t at = in.ConsumeIntegralInRange<std::size_t>(0, edited.size());
    switch (in.ConsumeIntegralInRange(0, 2)) {
      case 0: edited.insert(at, 1, c); break;
      case 1: if (at < edited.size()) edited[at] = c; break;
      default: if (at < edited.size()) edited.erase(at, 1); break;
    }
  }
  FUZZ_CHECK(CheckFrameText(edited) == LaidOutAsBytes(edited));

  // Whatever the text, the bytes sent are its pairs closed by their checksum and 16H.
  const std::string raw = in.ConsumeRemainingBytesAsString();
  std::string digits;
  for (char c : raw)
    if (c != ' ') digits += c;
  std::vector<uint8_t> pairs;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    uint8_t b = 0;
    pairs.push_back(TStringUtil::TryHexPair(digits.substr(i, 2), b) ? b : 0);
  }
  FUZZ_CHECK(TypedBytes(raw) == pairs);
  CheckSent(pairs, TypedFrameBytes(raw));
  return 0;
}
