// Bytes that cross the program's edge as text (settings, log, saved files, the command window's
// line), in both directions: a GBK text that decodes cleanly encodes back to the same bytes, a
// UTF-8 text that encodes cleanly decodes back to itself, every result of decoding is valid
// UTF-8, a failure always leaves its '?' mark, and line ends come out as CR LF only.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "services/TextCodec.h"

namespace {

bool ValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    const unsigned char d = static_cast<unsigned char>(s[i + 1 < s.size() ? i + 1 : i]);
    if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d > 0x8F))
      return false;  // overlong, surrogate or beyond U+10FFFF
    i += n;
  }
  return true;
}

std::string WithoutLineEnds(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

void CheckGbkInput(const std::string& gbk) {
  bool ok = false;
  const std::string utf8 = GbkToUtf8(gbk, &ok);
  FUZZ_CHECK(ValidUtf8(utf8));
  if (ok) {
    bool back = false;
    FUZZ_CHECK(Utf8ToGbk(utf8, &back) == gbk);
    FUZZ_CHECK(back);
    FUZZ_CHECK(GbkLength(utf8) == gbk.size());
  } else {
    FUZZ_CHECK(utf8.find('?') != std::string::npos);
  }
}

void CheckUtf8Input(const std::string& utf8) {
  bool ok = false;
  const std::string gbk = Utf8ToGbk(utf8, &ok);
  FUZZ_CHECK(GbkLength(utf8) == gbk.size());
  if (ok) {
    FUZZ_CHECK(ValidUtf8(utf8));
    bool back = false;
    FUZZ_CHECK(GbkToUtf8(gbk, &back) == utf8);
    FUZZ_CHECK(back);
  } else {
    FUZZ_CHECK(gbk.find('?') != std::string::npos);
  }
}

void CheckLineEnds(const std::string& text) {
  const std::string crlf = ToCrLf(text);
  for (std::size_t i = 0; i < crlf.size(); ++i) {
    if (crlf[i] == '\r') FUZZ_CHECK(i + 1 < crlf.size() && crlf[i + 1] == '\n');
    if (crlf[i] == '\n') FUZZ_CHECK(i > 0 && crlf[i - 1] == '\r');
  }
  FUZZ_CHECK(ToCrLf(crlf) == crlf);
  FUZZ_CHECK(WithoutLineEnds(crlf) == WithoutLineEnds(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckGbkInput(text);
  CheckUtf8Input(text);
  CheckLineEnds(text);
  return 0;
}
