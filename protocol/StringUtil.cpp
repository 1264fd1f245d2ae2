#include "protocol/StringUtil.h"

#include <cstdint>

namespace {
const char kHexDigits[] = "0123456789ABCDEF";
}  // namespace

std::string TStringUtil::BytesToHex(const uint8_t* buf, int count) {
  std::string out;
  if (buf == nullptr || count <= 0) return out;
  out.resize(static_cast<size_t>(count) * 2);
  for (int i = 0; i < count; ++i) {
    out[2 * i] = kHexDigits[buf[i] >> 4];
    out[2 * i + 1] = kHexDigits[buf[i] & 0x0F];
  }
  return out;
}

std::string TStringUtil::BytesToHexSpaced(const uint8_t* buf, int count) {
  std::string out;
  if (buf == nullptr || count <= 0) return out;
  out.resize(static_cast<size_t>(count) * 3);
  for (int i = 0; i < count; ++i) {
    out[3 * i] = kHexDigits[buf[i] >> 4];
    out[3 * i + 1] = kHexDigits[buf[i] & 0x0F];
    out[3 * i + 2] = ' ';
  }
  return out;
}

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

bool TStringUtil::TryStrToInt(const std::string& text, int& value) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < n && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  } else if (i < n && (text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  }
  if (i >= n) return false;
  int64_t acc = 0;
  // A hexadecimal text may spell the full 32-bit pattern ($FFFFFFFF is -1); decimal must fit.
  const int64_t limit = base == 16 ? 0xFFFFFFFFLL : (negative ? 2147483648LL : 2147483647LL);
  for (; i < n; ++i) {
    int d = base == 16 ? HexValue(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (d < 0) return false;
    acc = acc * base + d;
    if (acc > limit) return false;
  }
  int64_t signedValue = base == 16 ? static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(acc))) : acc;
  if (negative) signedValue = -signedValue;
  if (signedValue < INT32_MIN || signedValue > INT32_MAX) return false;
  value = static_cast<int>(signedValue);
  return true;
}

bool TStringUtil::TryHexPair(const std::string& pair, uint8_t& value) {
  if (pair.empty() || pair.size() > 2) return false;
  int v = 0;
  for (char c : pair) {
    int d = HexValue(c);
    if (d < 0) return false;
    v = v * 16 + d;
  }
  value = static_cast<uint8_t>(v);
  return true;
}
