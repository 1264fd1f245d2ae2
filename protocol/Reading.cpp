// Readings in engineering units: the layout table and the two directions between data bytes and
// reading texts.
#include "protocol/Reading.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <unordered_map>
#include <utility>

#include "protocol/Catalog.h"
#include "protocol/ReadingTable.h"
#include "protocol/StringUtil.h"

namespace {

// One row per identifier or family of identifiers; the first match decides, so data blocks
// (DI1 or DI0 = FF) stand before the rows of their entries.
const std::vector<TReadingFormat> kFormats = {
    // Parameters.
    {"04 00 01 01", "YYMMDDWW", "", "日期及周次", "WW: 0 Sunday .. 6 Saturday", "读写"},
    {"04 00 01 02", "hhmmss", "", "时间", "", "读写"},
    {"04 00 01 03", "NN[min]", "", "最大需量周期", "", "读写"},
    {"04 00 01 04", "NN[min]", "", "滑差时间", "", "读写"},
    {"04 00 01 05", "XXXX[ms]", "", "校表脉冲宽度", "", "读写"},
    {"04 00 01 06", "YYMMDDhhmm", "", "两套时区表切换时间", "", "读写"},
    {"04 00 01 07", "YYMMDDhhmm", "", "两套日时段表切换时间", "", "读写"},
    {"04 00 02 05", "NNNN", "", "公共假日数", "", "读写"},
    {"04 00 02 01~06", "NN", "", "", "numbers of zones, tables, segments, tariffs, harmonics", "读写"},
    {"04 00 03 02", "NN[s]", "", "每屏显示时间", "", "读写"},
    {"04 00 03 01~05", "NN", "", "", "", "读写"},
    {"04 00 04 01", "DIGITS*6", "", "通信地址", "NNNNNNNNNNNN, leading zeros kept", "读写"},
    {"04 00 04 02", "DIGITS*6", "", "表号", "NNNNNNNNNNNN, leading zeros kept", "读写"},
    {"04 00 04 03", "ASCII*32", "", "资产编号", "", "读写"},
    {"04 00 04 04", "ASCII*6", "", "额定电压", "", "读写"},
    {"04 00 04 05", "ASCII*6", "", "额定电流", "", "读写"},
    {"04 00 04 06", "ASCII*6", "", "最大电流", "", "读写"},
    {"04 00 04 07", "ASCII*4", "", "有功准确度等级", "", "读写"},
    {"04 00 04 08", "ASCII*4", "", "无功准确度等级", "", "读写"},
    {"04 00 04 09", "XXXXXX[imp/kWh]", "", "电表有功常数", "", "读写"},
    {"04 00 04 0A", "XXXXXX[imp/kvarh]", "", "电表无功常数", "", "读写"},
    {"04 00 04 0B", "ASCII*10", "", "电表型号", "", "读写"},
    {"04 00 04 0C", "ASCII*10", "", "生产日期", "", "读写"},
    {"04 00 04 0D", "ASCII*16", "", "协议版本号", "", "读写"},
    {"04 00 05 01~07", "WORD*2", "", "电表运行状态字", "", "只读"},
    {"04 00 06 01~03", "WORD*1", "", "", "characteristic words of the combinations", "读写"},
    {"04 00 07 01~05", "WORD*1", "", "", "baud-rate characteristic words: bit 1 600 .. bit 6 19200", "读写"},
    {"04 00 08 01", "WORD*1", "", "周休日特征字", "", "读写"},
    {"04 00 08 02", "NN", "", "周休日采用的日时段表号", "", "读写"},
    {"04 00 09 01~02", "WORD*1", "", "", "mode words", "读写"},
    {"04 00 0A 01", "MMDDhhmm", "", "负荷记录起始时间", "", "读写"},
    {"04 00 0A 02", "NNNN[min]", "", "第1类负荷记录间隔时间", "", "读写"},
    {"04 00 0B 01~03", "DDhh", "", "结算日", "9999: no settlement day", "读写"},
    {"04 00 0C 01~0A", "HEX*4", "", "密码", "write only; level byte PA first in display order", "只写"},
    {"04 00 0E 01", "XX.XXXX[kW]", "", "正向有功功率上限值", "", "读写"},
    {"04 00 0E 02", "XX.XXXX[kW]", "", "反向有功功率上限值", "", "读写"},
    {"04 00 0E 03", "XXX.X[V]", "", "电压上限值", "", "读写"},
    {"04 00 0E 04", "XXX.X[V]", "", "电压下限值", "", "读写"},
    {"04 01 00 00", "MMDDNN", "*14", "第一套时区表数据", "NN: day time-segment table number", "读写"},
    {"04 01 00 01~08", "hhmmNN", "*14", "第一套日时段表数据", "NN: tariff number", "读写"},
    {"04 02 00 00", "MMDDNN", "*14", "第二套时区表数据", "NN: day time-segment table number", "读写"},
    {"04 02 00 01~08", "hhmmNN", "*14", "第二套日时段表数据", "NN: tariff number", "读写"},
    {"04 80 00 01~03", "ASCII*32", "", "", "manufacturer's software, hardware version and number", "只读"},
    // Load records: the blocks as the meter sends them.
    {"06 00~06 00 00~02", "LOADBLOCK", "", "负荷记录", "sections 1..6 laid out as kLoadSections below", "只读"},
};

// The six sections of a load record block, in order.
const char* const kLoadSections[6] = {
    "XXX.X[V] XXX.X[V] XXX.X[V] -XXX.XXX[A] -XXX.XXX[A] -XXX.XXX[A] XX.XX[Hz]",
    "-XX.XXXX[kW] -XX.XXXX[kW] -XX.XXXX[kW] -XX.XXXX[kW] -XX.XXXX[kvar] -XX.XXXX[kvar] -XX.XXXX[kvar] -XX.XXXX[kvar]",
    "-X.XXX -X.XXX -X.XXX -X.XXX",
    "XXXXXX.XX[kWh] XXXXXX.XX[kWh] XXXXXX.XX[kvarh] XXXXXX.XX[kvarh]",
    "XXXXXX.XX[kvarh] XXXXXX.XX[kvarh] XXXXXX.XX[kvarh] XXXXXX.XX[kvarh]",
    "XX.XXXX[kW] XX.XXXX[kvar]",
};

const char* const kWeekDays[7] = {"星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六"};
const char* const kNotSet = "未设置";   // a day and hour of 9999
const char* const kUnused = "未使用";   // an empty entry of a time-zone or time-segment table
const std::string kTotal = "总";        // the first entry of a data block of tariffs
const std::string kTariff = "费率";     // followed by the tariff's number

enum TFieldKind { fkNumber, fkDateWeek, fkTime, fkDateTime, fkMonthDayTime, fkDayHour, fkZone, fkSegment,
                  fkAscii, fkWord, fkHex, fkDigits, fkLoadBlock, fkDateTimeSec, fkHoliday };

struct TField {
  TFieldKind Kind = fkNumber;
  int Bytes = 0;
  int Decimals = 0;
  bool Signed = false;
  std::string Unit;
  std::string Notation;  // as the table writes it, for messages
  int Group = 0;         // the record field it belongs to (its place in the row's Fields)
};

struct TNamedKind {
  const char* Token;
  TFieldKind Kind;
  int Bytes;
};
const TNamedKind kNamedKinds[] = {
    {"YYMMDDWW", fkDateWeek, 4}, {"hhmmss", fkTime, 3},   {"YYMMDDhhmm", fkDateTime, 5},
    {"MMDDhhmm", fkMonthDayTime, 4}, {"DDhh", fkDayHour, 2}, {"MMDDNN", fkZone, 3},
    {"hhmmNN", fkSegment, 3},    {"LOADBLOCK", fkLoadBlock, 0}, {"YYMMDDhhmmss", fkDateTimeSec, 6},
    {"YYMMDDNN", fkHoliday, 4},
};
const TNamedKind kSizedKinds[] = {{"ASCII*", fkAscii, 0}, {"WORD*", fkWord, 0}, {"HEX*", fkHex, 0},
                                  {"DIGITS*", fkDigits, 0}};

TField ParseField(const std::string& token) {
  TField f;
  std::string body = token;
  if (auto open = body.find('['); open != std::string::npos && body.back() == ']') {
    f.Unit = body.substr(open + 1, body.size() - open - 2);
    body.resize(open);
  }
  if (!body.empty() && body[0] == '-') {
    f.Signed = true;
    body.erase(0, 1);
  }
  f.Notation = (f.Signed ? "带符号" : "") + body + (f.Unit.empty() ? "" : " " + f.Unit);
  for (const TNamedKind& k : kNamedKinds) {
    if (body == k.Token) {
      f.Kind = k.Kind;
      f.Bytes = k.Bytes;
      return f;
    }
  }
  for (const TNamedKind& k : kSizedKinds) {
    if (body.rfind(k.Token, 0) == 0) {
      f.Kind = k.Kind;
      f.Bytes = std::atoi(body.c_str() + std::string(k.Token).size());
      return f;
    }
  }
  const size_t point = body.find('.');
  f.Kind = fkNumber;
  f.Bytes = static_cast<int>(body.size() - (point == std::string::npos ? 0 : 1)) / 2;
  f.Decimals = point == std::string::npos ? 0 : static_cast<int>(body.size() - point - 1);
  return f;
}

const std::string kTimes = "×";  // a field repeated: "hhmmNN×14"

// One field of a record: its parts joined by "+", all of it repeated "×n" times.
void AddGroup(const std::string& token, int group, std::vector<TField>& fields) {
  std::string body = token;
  int repeat = 1;
  if (const size_t times = body.find(kTimes); times != std::string::npos) {
    repeat = std::max(1, std::atoi(body.c_str() + times + kTimes.size()));
    body.resize(times);
  }
  std::vector<TField> parts;
  for (size_t pos = 0; pos <= body.size();) {
    const size_t plus = std::min(body.find('+', pos), body.size());
    parts.push_back(ParseField(body.substr(pos, plus - pos)));
    pos = plus + 1;
  }
  for (int i = 0; i < repeat; ++i)
    for (TField f : parts) {
      f.Group = group;
      fields.push_back(f);
    }
}

std::vector<TField> ParseLayout(const std::string& layout) {
  std::vector<TField> fields;
  size_t pos = 0;
  int group = 0;
  while (pos < layout.size()) {
    size_t end = layout.find(' ', pos);
    if (end == std::string::npos) end = layout.size();
    if (end > pos) AddGroup(layout.substr(pos, end - pos), group++, fields);
    pos = end + 1;
  }
  return fields;
}

int EntrySize(const std::vector<TField>& fields) {
  int size = 0;
  for (const TField& f : fields) size += f.Bytes;
  return size;
}

std::string Notation(const std::vector<TField>& fields) {
  std::string text;
  for (const TField& f : fields) text += (text.empty() ? "" : " ") + f.Notation;
  return text;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Two(int value) {
  if (value >= 0 && value <= 99) return {static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
  char text[16];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

std::string HexByte(uint8_t b) { return TStringUtil::BytesToHex(&b, 1); }

// ---- Finding an identifier's row ----------------------------------------------------------

const std::string kEllipsis = "…";

bool ParseIdentifier(const std::string& di, uint32_t& code) {
  if (di.size() != 8) return false;
  code = 0;
  for (char c : di) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    code = code << 4 | static_cast<uint32_t>(std::stoi(std::string(1, c), nullptr, 16));
  }
  return true;
}

std::string CodeText(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", code);
  return text;
}

// A row's pattern: per byte DI3..DI0 the lowest and highest value it allows.
struct TPatternRange {
  unsigned Low[4] = {0, 0, 0, 0};
  unsigned High[4] = {0, 0, 0, 0};
  bool Exact() const { return Low[0] == High[0] && Low[1] == High[1] && Low[2] == High[2] && Low[3] == High[3]; }
  bool Matches(uint32_t code) const {
    for (int b = 0; b < 4; ++b) {
      const unsigned v = code >> (8 * (3 - b)) & 0xFF;
      if (v < Low[b] || v > High[b]) return false;
    }
    return true;
  }
};

TPatternRange ParsePattern(const std::string& pattern) {
  TPatternRange range;
  size_t pos = 0;
  for (int b = 0; b < 4; ++b) {
    size_t end = std::min(pattern.find(' ', pos), pattern.size());
    const std::string part = pattern.substr(pos, end - pos);
    const size_t tilde = part.find('~');
    if (part == "xx") {
      range.High[b] = 0xFF;
    } else {
      range.Low[b] = static_cast<unsigned>(std::stoul(part.substr(0, tilde), nullptr, 16));
      range.High[b] = tilde == std::string::npos ? range.Low[b] : static_cast<unsigned>(std::stoul(part.substr(tilde + 1), nullptr, 16));
    }
    pos = end + 1;
  }
  return range;
}

// The table looked up: exact identifiers in a map, patterns listed under their fixed DI3 DI2
// (key DI3 DI2), under DI3 alone (key 10000H + DI3) or, with DI3 open too, under 20000H.
struct TReadingIndex {
  std::unordered_map<uint32_t, const TReadingFormat*> Exact;
  std::unordered_map<uint32_t, std::vector<std::pair<TPatternRange, const TReadingFormat*>>> Patterns;
  std::unordered_map<const TReadingFormat*, std::vector<TField>> Layouts;  // parsed once
};

const TReadingIndex& Index() {
  static const TReadingIndex index = [] {
    TReadingIndex built;
    for (const TReadingFormat& row : ReadingFormats()) {
      const TPatternRange range = ParsePattern(row.Pattern);
      built.Layouts.emplace(&row, ParseLayout(row.Layout));
      if (range.Exact()) {
        built.Exact.emplace(range.Low[0] << 24 | range.Low[1] << 16 | range.Low[2] << 8 | range.Low[3], &row);
        continue;
      }
      const bool di3 = range.Low[0] == range.High[0], di2 = range.Low[1] == range.High[1];
      const uint32_t key = di3 && di2 ? (range.Low[0] << 8 | range.Low[1]) : di3 ? (0x10000u | range.Low[0]) : 0x20000u;
      built.Patterns[key].emplace_back(range, &row);
    }
    return built;
  }();
  return index;
}

const std::vector<TField>& LayoutOf(const TReadingFormat& row) { return Index().Layouts.at(&row); }

// The decimal numbers of a name with their places: "(上1结算日)正向有功费率1电能" gives 1 at 3, 1 at ...
std::vector<std::pair<int, int>> Numbers(const std::string& text) {
  std::vector<std::pair<int, int>> numbers;
  for (size_t i = 0; i < text.size();) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    numbers.emplace_back(static_cast<int>(i), std::stoi(text.substr(i, end - i)));
    i = end;
  }
  return numbers;
}

// ---- From bytes to text --------------------------------------------------------------------

// A failure while reading: the text after "无法按...解析：".
struct TReadError {
  std::string Why;
};

// The two-digit BCD parts of a field, most significant first (YY, MM, DD, ... in notation order).
std::vector<int> BcdParts(const uint8_t* wire, int bytes) {
  std::vector<int> parts;
  for (int i = bytes - 1; i >= 0; --i) {
    const uint8_t b = wire[i];
    if ((b >> 4) > 9 || (b & 15) > 9) throw TReadError{"字节" + HexByte(b) + "不是BCD码"};
    parts.push_back((b >> 4) * 10 + (b & 15));
  }
  return parts;
}

bool ValidDate(int year, int month, int day) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= days[month - 1] + (month == 2 && leap ? 1 : 0);
}

// 0 = Sunday.
int WeekDay(int year, int month, int day) {
  year -= month <= 2;
  const int era = year / 400, yoe = year - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long days = era * 146097L + yoe * 365L + yoe / 4 - yoe / 100 + doy - 719468L;  // since 1970-01-01
  return static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
}

std::string DateText(int yy, int mm, int dd) {
  if (!ValidDate(2000 + yy, mm, dd)) throw TReadError{"20" + Two(yy) + "-" + Two(mm) + "-" + Two(dd) + "不是有效日期"};
  std::string text = "20";
  text.append(Two(yy)).append("-").append(Two(mm)).append("-").append(Two(dd));
  return text;
}

std::string ClockText(int hh, int mm) {
  if (hh > 23 || mm > 59) throw TReadError{Two(hh) + ":" + Two(mm) + "不是有效时间"};
  return Two(hh) + ":" + Two(mm);
}

std::string NumberText(const TField& f, const uint8_t* wire) {
  std::string digits;
  bool negative = false;
  for (int i = f.Bytes - 1; i >= 0; --i) {
    uint8_t b = wire[i];
    int hi = b >> 4, lo = b & 15;
    if (f.Signed && i == f.Bytes - 1) {
      negative = (hi & 8) != 0;
      hi &= 7;
    }
    if (hi > 9 || lo > 9) throw TReadError{"字节" + HexByte(b) + "不是BCD码"};
    digits += static_cast<char>('0' + hi);
    digits += static_cast<char>('0' + lo);
  }
  std::string whole = digits.substr(0, digits.size() - static_cast<size_t>(f.Decimals));
  const std::string fraction = digits.substr(whole.size());
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
  if (whole.empty()) whole = "0";
  std::string text = whole + (fraction.empty() ? "" : "." + fraction);
  const bool zero = digits.find_first_not_of('0') == std::string::npos;
  return (negative && !zero ? "-" : "") + text;
}

std::string AsciiText(const TField& f, const uint8_t* wire) {
  std::string text;
  for (int i = f.Bytes - 1; i >= 0; --i) {
    const uint8_t c = wire[i];
    if (c == 0) continue;  // padding
    if (c < 0x20 || c > 0x7E) throw TReadError{"字节" + HexByte(c) + "不是可打印的ASCII字符"};
    text += static_cast<char>(c);
  }
  return text;
}

std::string WordText(const TField& f, const uint8_t* wire) {
  std::string hex, bits;
  unsigned long value = 0;
  for (int i = f.Bytes - 1; i >= 0; --i) {
    hex += HexByte(wire[i]);
    value = value << 8 | wire[i];
  }
  for (int bit = 0; bit < 8 * f.Bytes; ++bit)
    if (value >> bit & 1) bits += (bits.empty() ? "" : "、") + std::to_string(bit);
  return hex + "H（" + (bits.empty() ? std::string("无置位") : "第" + bits + "位置位") + "）";
}

std::string FieldText(const TField& f, const uint8_t* wire) {
  switch (f.Kind) {
    case fkNumber: return NumberText(f, wire) + (f.Unit.empty() ? "" : " " + f.Unit);
    case fkDateWeek: {
      std::vector<int> p = BcdParts(wire, 4);
      if (p[3] > 6) throw TReadError{"星期" + Two(p[3]) + "不在00到06之间"};
      return DateText(p[0], p[1], p[2]) + " (" + kWeekDays[p[3]] + ")";
    }
    case fkTime: {
      std::vector<int> p = BcdParts(wire, 3);
      if (p[2] > 59) throw TReadError{Two(p[2]) + "不是有效秒数"};
      return ClockText(p[0], p[1]) + ":" + Two(p[2]);
    }
    case fkDateTime: {
      std::vector<int> p = BcdParts(wire, 5);
      return DateText(p[0], p[1], p[2]) + " " + ClockText(p[3], p[4]);
    }
    case fkDateTimeSec: {
      std::vector<int> p = BcdParts(wire, 6);
      if (p[5] > 59) throw TReadError{Two(p[5]) + "不是有效秒数"};
      return DateText(p[0], p[1], p[2]) + " " + ClockText(p[3], p[4]) + ":" + Two(p[5]);
    }
    case fkHoliday: {
      std::vector<int> p = BcdParts(wire, 4);
      if (p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 0) return kUnused;
      return DateText(p[0], p[1], p[2]).append(" #").append(std::to_string(p[3]));
    }
    case fkMonthDayTime: {
      std::vector<int> p = BcdParts(wire, 4);
      if (!ValidDate(2000, p[0], p[1])) throw TReadError{Two(p[0]) + "-" + Two(p[1]) + "不是有效日期"};
      return Two(p[0]) + "-" + Two(p[1]) + " " + ClockText(p[2], p[3]);
    }
    case fkDayHour: {
      std::vector<int> p = BcdParts(wire, 2);
      if (p[0] == 99 && p[1] == 99) return kNotSet;
      if (p[0] < 1 || p[0] > 31 || p[1] > 23) throw TReadError{Two(p[0]) + "日" + Two(p[1]) + "时超出范围"};
      return Two(p[0]) + "日" + Two(p[1]) + "时";
    }
    case fkZone:
    case fkSegment: {
      std::vector<int> p = BcdParts(wire, 3);
      if (p[0] == 0 && p[1] == 0 && p[2] == 0) return kUnused;
      std::string when;
      if (f.Kind == fkSegment) when = ClockText(p[0], p[1]);
      else if (ValidDate(2000, p[0], p[1])) when = Two(p[0]) + "-" + Two(p[1]);
      else throw TReadError{Two(p[0]) + "-" + Two(p[1]) + "不是有效日期"};
      return when + " #" + std::to_string(p[2]);
    }
    case fkAscii: return AsciiText(f, wire);
    case fkWord: return WordText(f, wire);
    case fkHex: {
      std::string hex;
      for (int i = f.Bytes - 1; i >= 0; --i) hex += HexByte(wire[i]);
      return hex;
    }
    case fkDigits: {
      std::string digits;
      for (int p : BcdParts(wire, f.Bytes)) digits += Two(p);
      return digits;
    }
    case fkLoadBlock: break;
  }
  return "";
}

std::string EntryText(const std::vector<TField>& fields, const uint8_t* wire) {
  std::string text;
  for (const TField& f : fields) {
    text += (text.empty() ? "" : ", ") + FieldText(f, wire);
    wire += f.Bytes;
  }
  return text;
}

// The labels of `count` entries, or false when the row's entries do not allow that count.
bool EntryLabels(const std::string& entries, size_t count, std::vector<std::string>& labels) {
  labels.clear();
  if (entries.empty()) {
    labels.push_back("");
    return count == 1;
  }
  if (entries[0] == '*') {
    labels.assign(count, "");
    return static_cast<int>(count) == std::atoi(entries.c_str() + 1);
  }
  if (entries == "total,T") {
    if (count < 1) return false;
    labels.push_back(kTotal);
    for (size_t i = 1; i < count; ++i) labels.push_back(kTariff + std::to_string(i));
    return true;
  }
  size_t pos = 0;
  while (pos <= entries.size()) {
    size_t end = entries.find(',', pos);
    if (end == std::string::npos) end = entries.size();
    const std::string label = entries.substr(pos, end - pos);
    labels.push_back(label == "total" ? kTotal : label);
    pos = end + 1;
  }
  return labels.size() == count;
}

// The label as earlier versions wrote it ("total", "T1"), still accepted when a reading is typed.
std::string EnglishLabel(const std::string& label) {
  if (label == kTotal) return "total";
  if (label.rfind(kTariff, 0) == 0) return "T" + label.substr(kTariff.size());
  return label;
}

// How many entries a row holds: 1, the number of its labels or of its "*n", 0 for any number.
size_t EntryCount(const std::string& entries) {
  if (entries.empty()) return 1;
  if (entries == "total,T") return 0;
  if (entries[0] == '*') return static_cast<size_t>(std::atoi(entries.c_str() + 1));
  return static_cast<size_t>(std::count(entries.begin(), entries.end(), ',')) + 1;
}

std::string ExpectedCount(const std::string& entries, int entrySize) {
  const size_t count = EntryCount(entries);
  if (count == 0) return "应为" + std::to_string(entrySize) + "字节的整数倍";
  return "应为" + std::to_string(count * static_cast<size_t>(entrySize)) + "字节";
}

std::string LoadBlocksText(const std::vector<uint8_t>& d) {
  static const std::vector<std::vector<TField>> sections = [] {
    std::vector<std::vector<TField>> s;
    for (const char* layout : kLoadSections) s.push_back(ParseLayout(layout));
    return s;
  }();
  static const TField time = ParseField("YYMMDDhhmm");
  std::string text;
  size_t pos = 0;
  if (d.empty()) throw TReadError{"数据中没有记录块"};
  while (pos < d.size()) {
    const std::string at = "第" + std::to_string(pos) + "字节起的记录块";
    if (d.size() - pos < 3 || d[pos] != 0xA0 || d[pos + 1] != 0xA0) throw TReadError{at + "不以A0 A0开头"};
    const size_t len = d[pos + 2], body = pos + 3, end = body + len;
    if (end + 3 > d.size()) throw TReadError{at + "不完整"};
    uint8_t sum = 0;
    for (size_t i = pos; i < end; ++i) sum = static_cast<uint8_t>(sum + d[i]);
    if (d[end] != sum) throw TReadError{at + "校验和为" + HexByte(d[end]) + "，各字节之和为" + HexByte(sum)};
    if (d[end + 1] != 0xE5 || d[end + 2] != 0xE5) throw TReadError{at + "不以E5 E5结尾"};
    if (len < 5) throw TReadError{at + "没有时间"};
    std::string block = FieldText(time, &d[body]);
    size_t p = body + 5;
    for (const std::vector<TField>& section : sections) {
      const size_t close = static_cast<size_t>(std::find(d.begin() + static_cast<long>(p), d.begin() + static_cast<long>(end), 0xAA) - d.begin());
      if (close == end) throw TReadError{at + "不足六个部分"};
      const size_t size = close - p;
      if (size == 0) block += " | -";
      else if (static_cast<int>(size) == EntrySize(section)) block += " | " + EntryText(section, &d[p]);
      else throw TReadError{at + "有一部分为" + std::to_string(size) + "字节，应为" + std::to_string(EntrySize(section)) + "字节"};
      p = close + 1;
    }
    if (p != end) throw TReadError{at + "第六部分之后还有多余字节"};
    text += (text.empty() ? "" : "; ") + block;
    pos = end + 3;
  }
  return text;
}

// A record field by field: "发生时刻 2026-12-09 10:15:00; 操作者代码 12345678; ...". A field that
// does not read says so in its place; the others still read. False when one did not.
bool RecordText(const std::vector<TField>& fields, const std::string& names, const uint8_t* wire,
                std::string& text) {
  std::vector<std::string> labels;
  for (size_t pos = 0; pos <= names.size();) {
    const size_t bar = std::min(names.find('|', pos), names.size());
    labels.push_back(names.substr(pos, bar - pos));
    pos = bar + 1;
  }
  bool ok = true;
  for (size_t i = 0; i < fields.size();) {
    const int group = fields[i].Group;
    std::string value;
    try {
      const uint8_t* at = wire;
      for (size_t k = i; k < fields.size() && fields[k].Group == group; at += fields[k++].Bytes)
        value.append(value.empty() ? "" : ", ").append(FieldText(fields[k], at));
    } catch (const TReadError& e) {
      value = "无法解析：" + e.Why;
      ok = false;
    }
    const std::string label = group < static_cast<int>(labels.size()) ? labels[static_cast<size_t>(group)] : "";
    text.append(text.empty() ? "" : "; ").append(label).append(" ").append(value);
    for (; i < fields.size() && fields[i].Group == group; ++i) wire += fields[i].Bytes;
  }
  return ok;
}

TReading Failed(const std::string& text) {
  TReading r;
  r.Text = text;
  r.Value = text;
  return r;
}

std::string FirstUnit(const std::vector<TField>& fields) {
  for (const TField& f : fields)
    if (f.Kind == fkNumber) return f.Unit;
  return "";
}

// ---- From text to bytes --------------------------------------------------------------------

// Reads `text` against a pattern where each run of '#' is a decimal number of that many digits
// and every other character must stand as it is.
bool Match(const std::string& text, const std::string& pattern, std::vector<int>& numbers) {
  numbers.clear();
  if (text.size() != pattern.size()) return false;
  for (size_t i = 0; i < pattern.size();) {
    if (pattern[i] != '#') {
      if (text[i] != pattern[i]) return false;
      ++i;
      continue;
    }
    int value = 0;
    for (; i < pattern.size() && pattern[i] == '#'; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
      value = value * 10 + (text[i] - '0');
    }
    numbers.push_back(value);
  }
  return true;
}

// BCD bytes of two-digit parts given most significant first, appended in wire order.
void PutParts(const std::vector<int>& parts, std::vector<uint8_t>& out) {
  for (auto it = parts.rbegin(); it != parts.rend(); ++it)
    out.push_back(static_cast<uint8_t>((*it / 10) << 4 | (*it % 10)));
}

std::string Trim(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  size_t pos = 0;
  for (;;) {
    const size_t end = text.find(separator, pos);
    parts.push_back(Trim(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos)));
    if (end == std::string::npos) return parts;
    pos = end + separator.size();
  }
}

bool PutNumber(const TField& f, std::string text, std::vector<uint8_t>& out, std::string& error) {
  if (!f.Unit.empty() && text.size() > f.Unit.size() &&
      text.compare(text.size() - f.Unit.size(), f.Unit.size(), f.Unit) == 0)
    text = Trim(text.substr(0, text.size() - f.Unit.size()));
  bool negative = !text.empty() && text[0] == '-';
  if (negative || (!text.empty() && text[0] == '+')) text.erase(0, 1);
  const size_t point = text.find('.');
  std::string whole = text.substr(0, point), fraction = point == std::string::npos ? "" : text.substr(point + 1);
  auto digitsOnly = [](const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
  };
  const int wholeDigits = 2 * f.Bytes - f.Decimals;
  if ((whole.empty() && fraction.empty()) || !digitsOnly(whole) || !digitsOnly(fraction)) {
    error = "'" + text + "' is not a number";
    return false;
  }
  if (negative && !f.Signed) {
    error = f.Notation + " cannot be negative";
    return false;
  }
  if (static_cast<int>(fraction.size()) > f.Decimals) {
    error = "'" + text + "' has more than " + std::to_string(f.Decimals) + " decimals";
    return false;
  }
  whole.erase(0, whole.find_first_not_of('0') == std::string::npos ? whole.size() : whole.find_first_not_of('0'));
  if (static_cast<int>(whole.size()) > wholeDigits) {
    error = "'" + text + "' does not fit " + f.Notation;
    return false;
  }
  std::string digits = std::string(static_cast<size_t>(wholeDigits) - whole.size(), '0') + whole + fraction +
                       std::string(static_cast<size_t>(f.Decimals) - fraction.size(), '0');
  if (f.Signed && digits[0] > '7') {
    error = "'" + text + "' does not fit " + f.Notation;
    return false;
  }
  std::vector<int> parts;
  for (size_t i = 0; i < digits.size(); i += 2) parts.push_back((digits[i] - '0') * 10 + (digits[i + 1] - '0'));
  if (negative && digits.find_first_not_of('0') != std::string::npos) parts[0] += 80;  // sign bit: 0x80 = "8" in the top digit
  PutParts(parts, out);
  return true;
}

bool PutField(const TField& f, const std::string& text, std::vector<uint8_t>& out, std::string& error) {
  std::vector<int> n;
  const std::string bad = "'" + text + "' is not " + f.Notation;
  auto fail = [&](const std::string& why) {
    error = why;
    return false;
  };
  switch (f.Kind) {
    case fkNumber: return PutNumber(f, text, out, error);
    case fkDateWeek: {
      const std::string date = text.substr(0, std::min<size_t>(text.size(), 10));
      if (!Match(date, "####-##-##", n) || n[0] < 2000 || n[0] > 2099 || !ValidDate(n[0], n[1], n[2]))
        return fail("'" + text + "' is not a date 2000-01-01 to 2099-12-31");
      PutParts({n[0] - 2000, n[1], n[2], WeekDay(n[0], n[1], n[2])}, out);
      return true;
    }
    case fkTime:
      if (!Match(text, "##:##:##", n) || n[0] > 23 || n[1] > 59 || n[2] > 59) return fail("'" + text + "' is not a time hh:mm:ss");
      PutParts(n, out);
      return true;
    case fkDateTime:
      if (!Match(text, "####-##-## ##:##", n) || n[0] < 2000 || n[0] > 2099 || !ValidDate(n[0], n[1], n[2]) ||
          n[3] > 23 || n[4] > 59)
        return fail("'" + text + "' is not a date and time YYYY-MM-DD hh:mm");
      n[0] -= 2000;
      PutParts(n, out);
      return true;
    case fkMonthDayTime:
      if (!Match(text, "##-## ##:##", n) || !ValidDate(2000, n[0], n[1]) || n[2] > 23 || n[3] > 59)
        return fail("'" + text + "' is not MM-DD hh:mm");
      PutParts(n, out);
      return true;
    case fkDayHour:
      if (text == kNotSet || text == "not set") n = {99, 99};
      else if ((!Match(text, "##日##时", n) && !Match(text, "day ## ##h", n)) || n[0] < 1 || n[0] > 31 || n[1] > 23)
        return fail("'" + text + "' is not 'DD日hh时' or '" + kNotSet + "'");
      PutParts(n, out);
      return true;
    case fkZone:
    case fkSegment: {
      if (text == kUnused || text == "unused") {
        PutParts({0, 0, 0}, out);
        return true;
      }
      const std::string head = f.Kind == fkZone ? "##-## " : "##:## ";
      const std::string number = text.size() > head.size() + 1 ? text.substr(head.size() + 1) : "";
      if (!Match(text.substr(0, std::min(text.size(), head.size())), head, n) || text[head.size()] != '#' ||
          number.empty() || number.size() > 2 ||
          !std::all_of(number.begin(), number.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
        return fail(bad);
      if (f.Kind == fkZone ? !ValidDate(2000, n[0], n[1]) : (n[0] > 23 || n[1] > 59)) return fail(bad);
      n.push_back(std::atoi(number.c_str()));
      PutParts(n, out);
      return true;
    }
    case fkAscii: {
      if (static_cast<int>(text.size()) > f.Bytes) return fail("'" + text + "' is longer than " + std::to_string(f.Bytes) + " characters");
      for (char c : text)
        if (c < 0x20 || c > 0x7E) return fail("'" + text + "' is not printable ASCII");
      std::vector<uint8_t> value(text.begin(), text.end());
      value.resize(static_cast<size_t>(f.Bytes), 0);
      out.insert(out.end(), value.rbegin(), value.rend());
      return true;
    }
    case fkWord:
    case fkHex:
    case fkDigits: {
      const size_t digits = 2 * static_cast<size_t>(f.Bytes);
      std::string hex = text.substr(0, std::min(text.size(), digits));
      const std::string rest = text.substr(hex.size());
      bool ok = hex.size() == digits && (rest.empty() || (f.Kind == fkWord && rest[0] == 'H'));
      for (char c : hex)
        ok = ok && (f.Kind == fkDigits ? std::isdigit(static_cast<unsigned char>(c)) : std::isxdigit(static_cast<unsigned char>(c)));
      if (!ok) return fail("'" + text + "' is not " + std::to_string(digits) + (f.Kind == fkDigits ? " digits" : " hex digits"));
      for (size_t i = digits; i >= 2; i -= 2) {
        uint8_t b = 0;
        TStringUtil::TryHexPair(hex.substr(i - 2, 2), b);
        out.push_back(b);
      }
      return true;
    }
    case fkLoadBlock:
    case fkDateTimeSec:
    case fkHoliday: return fail("records are made by the meter and cannot be given");
  }
  return fail(bad);
}

}  // namespace

const std::vector<TReadingFormat>& ReadingFormats() {
  static const std::vector<TReadingFormat> rows = [] {
    std::vector<TReadingFormat> all = AppendixRows();
    all.insert(all.end(), kFormats.begin(), kFormats.end());
    return all;
  }();
  return rows;
}

const TReadingFormat* FindReadingFormat(const std::string& di) {
  uint32_t code = 0;
  if (!ParseIdentifier(di, code)) return nullptr;
  const TReadingIndex& index = Index();
  if (auto exact = index.Exact.find(code); exact != index.Exact.end()) return exact->second;
  for (uint32_t key : {code >> 16, (code >> 24) | 0x10000u, 0x20000u}) {
    auto rows = index.Patterns.find(key);
    if (rows == index.Patterns.end()) continue;
    for (const auto& [range, row] : rows->second)
      if (range.Matches(code)) return row;
  }
  return nullptr;
}

std::vector<std::string> RowIdentifiers(const TReadingFormat& row) {
  std::vector<std::string> members;
  const TPatternRange range = ParsePattern(row.Pattern);
  std::vector<uint32_t> codes = {0};
  for (int b = 0; b < 4; ++b) {
    std::vector<uint32_t> next;
    for (uint32_t c : codes)
      for (unsigned v = range.Low[b]; v <= range.High[b]; ++v) next.push_back(c << 8 | v);
    codes.swap(next);
  }
  for (uint32_t c : codes) members.push_back(CodeText(c));
  return members;
}

std::string RowMemberName(const TReadingFormat& row, const std::string& di) {
  const std::string name = row.Name;
  const size_t ellipsis = name.find(kEllipsis);
  uint32_t code = 0;
  if (ellipsis == std::string::npos || !ParseIdentifier(di, code)) return name;
  const std::vector<std::pair<int, int>> first = Numbers(name.substr(0, ellipsis));
  const std::vector<std::pair<int, int>> last = Numbers(name.substr(ellipsis + kEllipsis.size()));
  const TPatternRange range = ParsePattern(row.Pattern);
  std::string member = name.substr(0, ellipsis);
  // Each number that runs from a range's first to its last member is that byte's value.
  for (size_t n = first.size(); n-- > 0;) {
    if (n >= last.size()) continue;
    for (int b = 0; b < 4; ++b) {
      if (range.Low[b] == range.High[b] || static_cast<int>(range.Low[b]) != first[n].second ||
          static_cast<int>(range.High[b]) != last[n].second)
        continue;
      const unsigned value = code >> (8 * (3 - b)) & 0xFF;
      member.replace(static_cast<size_t>(first[n].first), std::to_string(first[n].second).size(), std::to_string(value));
      break;
    }
  }
  return member;
}

std::string IdentifierName(const std::string& di) {
  const std::string code = Upper(di);
  for (const TCatalogList& list : CatalogLists()) {
    for (const std::string& row : list.Rows) {
      if (IsSeparatorRow(row) || row.compare(0, 8, code) != 0) continue;
      std::string label = ShowRow(row).Label;
      return label.empty() ? label : label.substr(1);  // without the hyphen
    }
  }
  const TReadingFormat* row = FindReadingFormat(code);
  return row ? RowMemberName(*row, code) : "";
}

TReading FormatReading(const std::string& di, const std::vector<uint8_t>& data) {
  const TReadingFormat* row = FindReadingFormat(di);
  if (!row) return Failed("无法解析：标识" + Upper(di) + "没有已知的数据格式");
  const std::vector<TField>& fields = LayoutOf(*row);
  const std::string as = "无法按" + (*row->Fields ? "记录格式" : Notation(fields)) + "解析";
  TReading reading;
  reading.Unit = FirstUnit(fields);
  try {
    if (fields.size() == 1 && fields[0].Kind == fkLoadBlock) {
      reading.Text = LoadBlocksText(data);
    } else if (*row->Fields) {
      const size_t size = static_cast<size_t>(EntrySize(fields));
      if (data.size() != size)
        return Failed(as + "：数据为" + std::to_string(data.size()) + "字节，应为" + std::to_string(size) + "字节");
      if (!RecordText(fields, row->Fields, data.data(), reading.Text)) return Failed(reading.Text);
    } else {
      const size_t size = static_cast<size_t>(EntrySize(fields));
      std::vector<std::string> labels;
      if (size == 0 || data.size() % size != 0 || !EntryLabels(row->Entries, data.size() / size, labels)) {
        return Failed(as + "：数据为" + std::to_string(data.size()) + "字节，" + ExpectedCount(row->Entries, static_cast<int>(size)));
      }
      for (size_t i = 0; i < labels.size(); ++i) {
        const std::string entry = EntryText(fields, data.data() + i * size);
        reading.Text += (i ? "; " : "") + (labels[i].empty() ? "" : labels[i] + " ") + entry;
      }
    }
  } catch (const TReadError& e) {
    return Failed(as + "：" + e.Why);
  }
  reading.Ok = true;
  const bool single = fields.size() == 1 && fields[0].Kind == fkNumber && std::string(row->Entries).empty();
  reading.Value = single && !reading.Unit.empty() ? reading.Text.substr(0, reading.Text.size() - reading.Unit.size() - 1)
                                                   : reading.Text;
  return reading;
}

TReading ReplyReading(const TFrameBody& body) {
  if (body.Dir != 1 || !body.Normal || body.FuncCode != 0x11 || body.Data.size() < 8) return Failed("无法解析：不是读数据应答");
  // The identifier comes first on the wire, DI0 first.
  std::string di;
  for (int i = 3; i >= 0; --i) di += body.Data.substr(static_cast<size_t>(2 * i), 2);
  std::vector<uint8_t> data;
  for (size_t i = 8; i + 1 < body.Data.size(); i += 2) {
    uint8_t b = 0;
    if (!TStringUtil::TryHexPair(body.Data.substr(i, 2), b)) return Failed("无法解析：数据不是十六进制");
    data.push_back(b);
  }
  if (!body.LastFrame) return Failed("暂无法解析：还有后续数据帧");
  return FormatReading(di, data);
}

std::string ReadingTip(const std::string& di, const std::vector<uint8_t>& data) {
  const std::string name = IdentifierName(di);
  return Upper(di) + (name.empty() ? "" : " " + name) + ": " + FormatReading(di, data).Text;
}

std::string ReplyReadingTip(const TFrameBody& body) {
  if (body.Dir != 1 || !body.Normal || body.FuncCode != 0x11 || body.Data.size() < 8) return "";
  std::string di;
  for (int i = 3; i >= 0; --i) di += body.Data.substr(static_cast<size_t>(2 * i), 2);
  const std::string name = IdentifierName(di);
  return Upper(di) + (name.empty() ? "" : " " + name) + ": " + ReplyReading(body).Text;
}

bool ParseReading(const std::string& di, const std::string& text, std::vector<uint8_t>& data, std::string& error) {
  data.clear();
  const TReadingFormat* row = FindReadingFormat(di);
  if (!row) {
    error = "no layout known for identifier " + Upper(di);
    return false;
  }
  if (*row->Fields) {
    error = "records are made by the meter and cannot be given";
    return false;
  }
  const std::vector<TField>& fields = LayoutOf(*row);
  const bool ascii = fields.size() == 1 && fields[0].Kind == fkAscii;
  std::vector<std::string> entries = ascii ? std::vector<std::string>{text} : Split(text, "; ");
  std::vector<std::string> labels;
  if (!EntryLabels(row->Entries, entries.size(), labels)) {
    error = "'" + text + "' does not have the entries " + (std::string(row->Entries).empty() ? "of one reading" : row->Entries);
    return false;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    std::string entry = entries[i];
    if (!labels[i].empty()) {
      const std::string label = entry.rfind(labels[i] + " ", 0) == 0 ? labels[i] : EnglishLabel(labels[i]);
      if (entry.rfind(label + " ", 0) != 0) {
        error = "entry '" + entry + "' does not start with " + labels[i];
        return false;
      }
      entry = Trim(entry.substr(label.size() + 1));
    }
    std::vector<std::string> values = ascii ? std::vector<std::string>{entry} : Split(entry, ", ");
    if (values.size() != fields.size()) {
      error = "'" + entry + "' does not have the " + std::to_string(fields.size()) + " parts of " + Notation(fields);
      return false;
    }
    for (size_t k = 0; k < fields.size(); ++k)
      if (!PutField(fields[k], values[k], data, error)) return false;
  }
  return true;
}

int ReadingLength(const std::string& di) {
  const TReadingFormat* row = FindReadingFormat(di);
  if (!row) return 0;
  const std::vector<TField>& fields = LayoutOf(*row);
  const std::string entries = row->Entries;
  if (entries == "total,T" || (fields.size() == 1 && fields[0].Kind == fkLoadBlock)) return 0;
  const size_t count = EntryCount(entries);
  return static_cast<int>(count) * EntrySize(fields);
}
