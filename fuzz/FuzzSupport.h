#pragma once
// What the fuzz targets share: a property check that names the failed property before it stops
// the run, and texts drawn from the characters that matter to our parsers (GBK characters whose
// second byte is ']', '[', '\\', '{', '|' or an ASCII letter, separators, blanks, line breaks).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <string>

#define FUZZ_CHECK(cond)                                                                   \
  do {                                                                                     \
    if (!(cond)) {                                                                         \
      std::fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      __builtin_trap();                                                                    \
    }                                                                                      \
  } while (0)

namespace fuzz {

// UTF-8 pieces, every one of them encodable in GBK. The GBK codes: 乚 815DH, 癩 B05DH, 乕 815BH,
// 亄 817BH, 丂 8140H, 乣 8160H, 亅 817CH, 癧 B05BH; 中 D6D0H, 文 CEC4H, 偶 C5BCH; Ａ A3C1H.
inline const char* const kPieces[] = {
    "A", "b", "Z", "q", "x", "_", "1", "9", " ", "\t", "=", ";", "#", "[", "]", "\\", ".", "-",
    "乚", "癩", "乕", "亄", "丂", "乣", "亅", "癧", "中", "文", "偶", "Ａ", "\r", "\n",
};
inline constexpr int kPieceCount = sizeof kPieces / sizeof kPieces[0];

// A text of up to `maxPieces` pieces; `lineBreaks` false leaves out CR and LF.
inline std::string PieceText(FuzzedDataProvider& in, int maxPieces, bool lineBreaks) {
  std::string text;
  const int count = in.ConsumeIntegralInRange(0, maxPieces);
  const int last = lineBreaks ? kPieceCount - 1 : kPieceCount - 3;
  for (int i = 0; i < count; ++i) text += kPieces[in.ConsumeIntegralInRange(0, last)];
  return text;
}

inline bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

inline std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// ASCII letters in upper case; in UTF-8 no byte of a longer character is ASCII, so this is the
// case rule of INI names applied to whole characters.
inline std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

}  // namespace fuzz
