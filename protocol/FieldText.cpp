#include "protocol/FieldText.h"

#include <cstdint>

namespace {

// The next code point of `text` from `pos`, which it advances; -1 for a byte that does not start
// a well-formed UTF-8 sequence (that byte alone is skipped).
long NextCodePoint(const std::string& text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(pos);
  int extra = 0;
  long cp = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07;
  } else {
    ++pos;
    return -1;
  }
  if (pos + static_cast<std::size_t>(extra) >= text.size()) {  // the sequence is cut short
    ++pos;
    return -1;
  }
  for (int i = 1; i <= extra; ++i) {
    const uint8_t next = byte(pos + static_cast<std::size_t>(i));
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return -1;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  static const long kSmallest[] = {0, 0x80, 0x800, 0x10000};
  pos += static_cast<std::size_t>(extra) + 1;
  if (cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  return cp;
}

void AppendUtf8(std::string& out, long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Full-width forms (U+FF01..U+FF5E) and the ideographic space as their ASCII forms.
long Narrowed(long cp) {
  if (cp >= 0xFF01 && cp <= 0xFF5E) return cp - 0xFF01 + 0x21;
  if (cp == 0x3000) return ' ';
  return cp;
}

bool IsControl(long cp) { return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0); }

}  // namespace

std::string NormaliseFieldText(const std::string& text, TFieldFilter filter, bool upperCase, int maxLength) {
  std::string out;
  int kept = 0;
  for (std::size_t pos = 0; pos < text.size() && (maxLength <= 0 || kept < maxLength);) {
    long cp = NextCodePoint(text, pos);
    if (cp < 0) continue;
    cp = Narrowed(cp);
    if (IsControl(cp)) continue;
    if (upperCase && cp >= 'a' && cp <= 'z') cp -= 'a' - 'A';
    if (filter && (cp >= 0x80 || filter(static_cast<char>(cp)) == '\0')) continue;
    AppendUtf8(out, cp);
    ++kept;
  }
  return out;
}

std::string SpacedHexText(const std::string& text) {
  for (char c : text) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    if (!hex) return text;
  }
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    if (i) out += ' ';
    out += text.substr(i, 2);
  }
  return out;
}
