#include "protocol/DLT.h"

#include "protocol/StringUtil.h"

namespace {
struct TBaudEntry {
  uint8_t Code;
  int Baud;
};
// The baud-rate characteristic byte of the change-baud-rate command (17H).
const TBaudEntry kBauds[] = {{0x02, 600}, {0x04, 1200}, {0x08, 2400},
                             {0x10, 4800}, {0x20, 9600}, {0x40, 19200}};

// The first and the last two characters of a four-character table text, read as numbers.
bool ReadTwoNumbers(const std::string& text, int& first, int& last) {
  const std::string head = text.substr(0, 2);
  const std::string tail = text.size() >= 2 ? text.substr(text.size() - 2) : text;
  return TStringUtil::TryStrToInt(head, first) && TStringUtil::TryStrToInt(tail, last);
}
}  // namespace

std::string TDLT::ErrorText(uint8_t errorWord) {
  // Whole bytes: a word with several bits set is not one of the specific errors.
  switch (errorWord) {
    case 0x00: return std::string();
    case 0x02: return "无请求数据";
    case 0x04: return "密码错";
    case 0x08: return "通信速率不能更改";
    case 0x10: return "年时区数超";
    case 0x20: return "日时段数超";
    case 0x40: return "费率数超";
    default: return "其它错误";
  }
}

std::string TDLT::BaudCodeToText(const std::string& code) {
  uint8_t value = 0;
  if (code.size() == 2 && TStringUtil::TryHexPair(code, value)) {
    for (const TBaudEntry& e : kBauds) {
      if (e.Code == value) return std::to_string(e.Baud);
    }
  }
  return code;
}

bool TDLT::BaudToCode(int baud, std::string& code) {
  for (const TBaudEntry& e : kBauds) {
    if (e.Baud == baud) {
      code = TStringUtil::BytesToHex(&e.Code, 1);
      return true;
    }
  }
  code = "00";
  return false;
}

bool TDLT::SetSegmentTime(TDateTime& value, const std::string& hhmm) {
  int hour = 0, minute = 0;
  if (!ReadTwoNumbers(hhmm, hour, minute)) return false;
  const TDateParts old = DecodeDateTime(value);
  TDateTime time = 0;
  if (!TryEncodeTime(hour, minute, old.Second, old.Millisecond, time)) return false;
  value = time;  // the date part becomes 0
  return true;
}

bool TDLT::SetZoneDate(TDateTime& value, const std::string& mmdd) {
  int month = 0, day = 0;
  if (!ReadTwoNumbers(mmdd, month, day)) return false;
  const TDateParts old = DecodeDateTime(value);
  TDateTime date = 0;
  if (!TryEncodeDate(old.Year, month, day, date)) return false;
  value = date;  // at midnight
  return true;
}
