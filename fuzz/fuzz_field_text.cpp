// Text entering a filtered edit field by any way (typing, input method, paste, drop, code): what
// the field keeps passes the same filter unchanged, holds only characters the filter lets
// through (ASCII, upper case where the field raises it, no control characters), is valid UTF-8,
// and is the unlimited result cut at the limit, never shortened in the middle. Hex digits pasted
// without blanks come out spaced as the frame check wants them, with the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "protocol/FieldText.h"
#include "protocol/PublicFunc.h"
#include "protocol/SendCycle.h"

namespace {

const TFieldFilter kFilters[] = {nullptr, FilterDigitKey, FilterHexKey, FilterHexSpaceKey};

// Characters of a valid UTF-8 text; -1 when it is not valid.
long CountCharacters(const std::string& s) {
  long count = 0;
  for (std::size_t i = 0; i < s.size(); ++count) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return -1;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return -1;
    i += n;
  }
  return count;
}

// The first `limit` characters of a valid UTF-8 text.
std::string FirstCharacters(const std::string& s, long limit) {
  std::size_t i = 0;
  for (long k = 0; k < limit && i < s.size(); ++k) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    i += c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
  }
  return s.substr(0, i);
}

// Full-width digits and letters, the ideographic space, control characters, Chinese, broken
// UTF-8 and plain ASCII.
const char* const kPieces[] = {"0", "9", "a", "F", "g", "Z", " ", "\t", "\b", "\x10", "\x7F", "\xC2\x85",
                               "０", "９", "ａ", "Ｆ", "ｇ", "　", "中", "－", "\xE0\x80\xAF", "\xC3", "\xFF", "😀"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2048) return 0;
  FuzzedDataProvider in(data, size);
  const TFieldFilter filter = kFilters[in.ConsumeIntegralInRange(0, 3)];
  const bool upper = in.ConsumeBool();
  const int limit = in.ConsumeIntegralInRange(-1, 40);
  std::string text;
  const int count = in.ConsumeIntegralInRange(0, 30);
  for (int i = 0; i < count; ++i)
    text += in.ConsumeBool() ? kPieces[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kPieces / sizeof *kPieces - 1)]
                             : in.ConsumeBytesAsString(1);

  const std::string kept = NormaliseFieldText(text, filter, upper, limit);
  FUZZ_CHECK(NormaliseFieldText(kept, filter, upper, limit) == kept);
  const long characters = CountCharacters(kept);
  FUZZ_CHECK(characters >= 0);
  if (limit > 0) FUZZ_CHECK(characters <= limit);
  const std::string unlimited = NormaliseFieldText(text, filter, upper, 0);
  FUZZ_CHECK(kept == (limit > 0 ? FirstCharacters(unlimited, limit) : unlimited));
  for (char c : kept) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x80) FUZZ_CHECK(b >= 0x20 && b != 0x7F);
    if (filter) FUZZ_CHECK(b < 0x80 && filter(c) == c);
    if (upper) FUZZ_CHECK(!(c >= 'a' && c <= 'z'));
  }

  // Pasted unspaced hex: spaced as the frame check wants it, the same bytes either way.
  const std::string spaced = SpacedHexText(kept);
  FUZZ_CHECK(TypedBytes(spaced) == TypedBytes(kept));
  if (!kept.empty() && kept.size() % 2 == 0 && filter == FilterHexKey && upper) FUZZ_CHECK(CheckFrameText(spaced));
  if (kept.find(' ') != std::string::npos) FUZZ_CHECK(spaced == kept);
  return 0;
}
