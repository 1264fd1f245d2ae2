#include "services/TextCodec.h"

#include <iconv.h>

#include <cerrno>

namespace {

// One conversion descriptor per thread and direction: an iconv_t must not be shared between
// threads, and opening one per call would dominate the cost of writing a log entry.
class TConverter {
 public:
  TConverter(const char* to, const char* from) : Cd(iconv_open(to, from)) {}
  ~TConverter() {
    if (Valid()) iconv_close(Cd);
  }
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;
  bool Valid() const { return Cd != reinterpret_cast<iconv_t>(-1); }
  iconv_t Handle() const { return Cd; }

 private:
  iconv_t Cd;
};

bool IsAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

// Length of the malformed or unencodable UTF-8 sequence at `p`: the lead byte and the
// continuation bytes that follow it (at most as many as the lead byte announces).
std::size_t Utf8SkipLength(const unsigned char* p, std::size_t left) {
  std::size_t expected = 1;
  if (p[0] >= 0xC2 && p[0] <= 0xDF)
    expected = 2;
  else if (p[0] >= 0xE0 && p[0] <= 0xEF)
    expected = 3;
  else if (p[0] >= 0xF0 && p[0] <= 0xF4)
    expected = 4;
  std::size_t n = 1;
  while (n < expected && n < left && (p[n] & 0xC0) == 0x80) ++n;
  return n;
}

// Length of the invalid GBK sequence at `p`: a lead byte with a trail byte in range counts as one
// (unmapped) pair, anything else as a single byte so that a following ASCII byte survives.
std::size_t GbkSkipLength(const unsigned char* p, std::size_t left) {
  if (p[0] >= 0x81 && p[0] <= 0xFE && left >= 2 && p[1] >= 0x40 && p[1] <= 0xFE && p[1] != 0x7F)
    return 2;
  return 1;
}

using TSkipFn = std::size_t (*)(const unsigned char*, std::size_t);

std::string Convert(TConverter& conv, const std::string& text, TSkipFn skip, bool* ok) {
  bool good = true;
  std::string out;
  if (!conv.Valid()) {
    // No converter available: keep ASCII, replace the rest.
    for (unsigned char c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    if (ok) *ok = false;
    return out;
  }
  iconv_t cd = conv.Handle();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out.resize(text.size() * 2 + 16);
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  std::size_t used = 0;
  while (inLeft > 0) {
    char* outPtr = out.data() + used;
    std::size_t outLeft = out.size() - used;
    std::size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    used = out.size() - outLeft;
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ (invalid or unencodable) or EINVAL (incomplete sequence at the end).
    good = false;
    std::size_t n = skip(reinterpret_cast<const unsigned char*>(in), inLeft);
    if (errno == EINVAL) n = inLeft;
    in += n;
    inLeft -= n;
    if (used >= out.size()) out.resize(out.size() * 2);
    out[used++] = '?';
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(used);
  if (ok) *ok = good;
  return out;
}

}  // namespace

std::string Utf8ToGbk(const std::string& text, bool* ok) {
  if (IsAscii(text)) {
    if (ok) *ok = true;
    return text;
  }
  thread_local TConverter conv("GBK", "UTF-8");
  return Convert(conv, text, Utf8SkipLength, ok);
}

std::string GbkToUtf8(const std::string& text, bool* ok) {
  if (IsAscii(text)) {
    if (ok) *ok = true;
    return text;
  }
  thread_local TConverter conv("UTF-8", "GBK");
  return Convert(conv, text, GbkSkipLength, ok);
}

std::string ToCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::size_t GbkLength(const std::string& text) {
  if (IsAscii(text)) return text.size();
  return Utf8ToGbk(text).size();
}
