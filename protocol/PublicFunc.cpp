#include "protocol/PublicFunc.h"

#include <cstdio>

namespace {
std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool IsHexChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

constexpr char kBackspace = 8;
constexpr char kCtrlP = 16;  // let through by every filter, as the fields always have
}  // namespace

std::string ReverseHex(const std::string& text) {
  const std::string even = text.size() % 2 ? "0" + text : text;
  std::string out;
  out.reserve(even.size());
  for (size_t i = even.size(); i >= 2; i -= 2) out.append(even, i - 2, 2);
  return out;
}

std::string ReverseDI(const std::string& text) {
  if (text.size() != 8) return std::string();
  return ReverseHex(text);
}

std::string ReverseAddress(const std::string& text) {
  if (text.size() < 12) return std::string();
  return ReverseHex(text.substr(0, 12));
}

std::string PadAddress(const std::string& text) {
  const std::string padded = "000000000000" + text;
  return padded.substr(padded.size() - 12);
}

std::string DateTimeText(TDateTime value) { return DateText(value) + " " + TimeText(value); }

std::string DateText(TDateTime value) {
  const TDateParts p = DecodeDateTime(value);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
  return buf;
}

std::string TimeText(TDateTime value) {
  const TDateParts p = DecodeDateTime(value);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.Hour, p.Minute, p.Second);
  return buf;
}

char FilterHexSpaceKey(char key) {
  return IsHexChar(key) || key == ' ' || key == kBackspace || key == kCtrlP ? key : '\0';
}

char FilterHexKey(char key) {
  return IsHexChar(key) || key == kBackspace || key == kCtrlP ? key : '\0';
}

char FilterDigitKey(char key) {
  return (key >= '0' && key <= '9') || key == kBackspace || key == kCtrlP ? key : '\0';
}

// Letters are assigned with assign(1, c): GCC 12 at -O2 warns falsely (-Wrestrict) on a literal.
void ParityLetter(const std::string& parity, std::string& result) {
  const std::string upper = UpperAscii(parity);
  if (upper == "NONE" || parity == "无校验") {
    result.assign(1, 'N');
  } else if (upper == "EVEN" || parity == "偶校验") {
    result.assign(1, 'E');
  } else if (upper == "ODD" || parity == "奇校验") {
    result.assign(1, 'O');
  }
}

std::string CommSettingsText(const TComInfo& info) {
  std::string letter;
  ParityLetter(info.Parity, letter);
  std::string text = info.BaudRate + "," + letter + "," + info.DataBits + "," + info.StopBits;
  if (!info.Rs485) return text;
  text += ",RS485";
  if (info.Rs485BeforeMs != 0 || info.Rs485AfterMs != 0)
    text += ":" + std::to_string(info.Rs485BeforeMs) + ":" + std::to_string(info.Rs485AfterMs);
  return text;
}

int SelectComboItem(const std::vector<std::string>& items, const std::string& text) {
  const std::string wanted = UpperAscii(text);
  for (size_t i = 0; i < items.size(); ++i) {
    if (UpperAscii(items[i]) == wanted) return static_cast<int>(i);
  }
  return -1;
}
