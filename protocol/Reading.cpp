// Readings in engineering units: the layout table and the two directions between data bytes and
// reading texts.
#include "protocol/Reading.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "protocol/Catalog.h"
#include "protocol/ReadingTable.h"
#include "protocol/StringUtil.h"

namespace {

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
                  fkAscii, fkWord, fkHex, fkDigits, fkLoadBlock, fkDateTimeSec, fkHoliday, fkFreezeBlock };

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
    {"YYMMDDNN", fkHoliday, 4}, {"FREEZEBLOCK", fkFreezeBlock, 0},
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

// The two-digit BCD parts of a field of up to six bytes, most significant first (YY, MM, DD, ...
// in notation order).
struct TParts {
  int V[6] = {0, 0, 0, 0, 0, 0};
  int operator[](int i) const { return V[i]; }
  bool Zero(int count) const { return std::all_of(V, V + count, [](int v) { return v == 0; }); }
};

TParts BcdParts(const uint8_t* wire, int bytes) {
  TParts parts;
  for (int i = bytes - 1, k = 0; i >= 0; --i, ++k) {
    const uint8_t b = wire[i];
    if ((b >> 4) > 9 || (b & 15) > 9) throw TReadError{"字节" + HexByte(b) + "不是BCD码"};
    parts.V[k] = (b >> 4) * 10 + (b & 15);
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

// Two digits of a BCD part (0..99).
void AppendTwo(std::string& out, int value) {
  out += static_cast<char>('0' + value / 10);
  out += static_cast<char>('0' + value % 10);
}

void AppendDate(std::string& out, int yy, int mm, int dd) {
  if (!ValidDate(2000 + yy, mm, dd)) throw TReadError{"20" + Two(yy) + "-" + Two(mm) + "-" + Two(dd) + "不是有效日期"};
  out += "20";
  AppendTwo(out, yy);
  out += '-';
  AppendTwo(out, mm);
  out += '-';
  AppendTwo(out, dd);
}

void AppendClock(std::string& out, int hh, int mm) {
  if (hh > 23 || mm > 59) throw TReadError{Two(hh) + ":" + Two(mm) + "不是有效时间"};
  AppendTwo(out, hh);
  out += ':';
  AppendTwo(out, mm);
}

void AppendSeconds(std::string& out, int ss) {
  if (ss > 59) throw TReadError{Two(ss) + "不是有效秒数"};
  out += ':';
  AppendTwo(out, ss);
}

void AppendNumber(std::string& out, const TField& f, const uint8_t* wire) {
  char digits[32];
  int count = 0;
  bool negative = false;
  for (int i = f.Bytes - 1; i >= 0; --i) {
    const uint8_t b = wire[i];
    int hi = b >> 4;
    const int lo = b & 15;
    if (f.Signed && i == f.Bytes - 1) {
      negative = (hi & 8) != 0;
      hi &= 7;
    }
    if (hi > 9 || lo > 9) throw TReadError{"字节" + HexByte(b) + "不是BCD码"};
    digits[count++] = static_cast<char>('0' + hi);
    digits[count++] = static_cast<char>('0' + lo);
  }
  const int wholeEnd = count - f.Decimals;
  int first = 0;
  while (first < wholeEnd - 1 && digits[first] == '0') ++first;
  const bool zero = std::all_of(digits, digits + count, [](char c) { return c == '0'; });
  if (negative && !zero) out += '-';
  if (wholeEnd <= 0) out += '0';
  else out.append(digits + first, static_cast<size_t>(wholeEnd - first));
  if (f.Decimals > 0) out.append(".").append(digits + std::max(0, wholeEnd), static_cast<size_t>(f.Decimals));
  if (!f.Unit.empty()) out.append(" ").append(f.Unit);
}

void AppendAscii(std::string& out, const TField& f, const uint8_t* wire) {
  for (int i = f.Bytes - 1; i >= 0; --i) {
    const uint8_t c = wire[i];
    if (c == 0) continue;  // padding
    if (c < 0x20 || c > 0x7E) throw TReadError{"字节" + HexByte(c) + "不是可打印的ASCII字符"};
    out += static_cast<char>(c);
  }
}

void AppendWord(std::string& out, const TField& f, const uint8_t* wire) {
  std::string bits;
  unsigned long value = 0;
  for (int i = f.Bytes - 1; i >= 0; --i) {
    out += HexByte(wire[i]);
    value = value << 8 | wire[i];
  }
  for (int bit = 0; bit < 8 * f.Bytes; ++bit)
    if (value >> bit & 1) bits += (bits.empty() ? "" : "、") + std::to_string(bit);
  out += "H（" + (bits.empty() ? std::string("无置位") : "第" + bits + "位置位") + "）";
}

// " #NN" after a table entry's date or time: the number without a leading zero.
void AppendTableNumber(std::string& out, int number) {
  out += " #";
  if (number >= 10) out += static_cast<char>('0' + number / 10);
  out += static_cast<char>('0' + number % 10);
}

void AppendDateWeek(std::string& out, const uint8_t* wire) {
  const TParts p = BcdParts(wire, 4);
  if (p[3] > 6) throw TReadError{"星期" + Two(p[3]) + "不在00到06之间"};
  AppendDate(out, p[0], p[1], p[2]);
  out.append(" (").append(kWeekDays[p[3]]).append(")");
}

void AppendHoliday(std::string& out, const uint8_t* wire) {
  const TParts p = BcdParts(wire, 4);
  if (p.Zero(4)) {
    out += kUnused;
    return;
  }
  AppendDate(out, p[0], p[1], p[2]);
  AppendTableNumber(out, p[3]);
}

void AppendMonthDayTime(std::string& out, const uint8_t* wire) {
  const TParts p = BcdParts(wire, 4);
  if (!ValidDate(2000, p[0], p[1])) throw TReadError{Two(p[0]) + "-" + Two(p[1]) + "不是有效日期"};
  AppendTwo(out, p[0]);
  out += '-';
  AppendTwo(out, p[1]);
  out += ' ';
  AppendClock(out, p[2], p[3]);
}

void AppendDayHour(std::string& out, const uint8_t* wire) {
  const TParts p = BcdParts(wire, 2);
  if (p[0] == 99 && p[1] == 99) {
    out += kNotSet;
    return;
  }
  if (p[0] < 1 || p[0] > 31 || p[1] > 23) throw TReadError{Two(p[0]) + "日" + Two(p[1]) + "时超出范围"};
  out.append(Two(p[0])).append("日").append(Two(p[1])).append("时");
}

// One entry of a time-zone table (MM-DD #NN) or of a day time-segment table (hh:mm #NN).
void AppendTableEntry(std::string& out, const TField& f, const uint8_t* wire) {
  const TParts p = BcdParts(wire, 3);
  if (p.Zero(3)) {
    out += kUnused;
    return;
  }
  if (f.Kind == fkSegment) {
    AppendClock(out, p[0], p[1]);
  } else if (ValidDate(2000, p[0], p[1])) {
    AppendTwo(out, p[0]);
    out += '-';
    AppendTwo(out, p[1]);
  } else {
    throw TReadError{Two(p[0]) + "-" + Two(p[1]) + "不是有效日期"};
  }
  AppendTableNumber(out, p[2]);
}

void AppendField(std::string& out, const TField& f, const uint8_t* wire) {
  switch (f.Kind) {
    case fkNumber: return AppendNumber(out, f, wire);
    case fkDateWeek: return AppendDateWeek(out, wire);
    case fkTime: {
      const TParts p = BcdParts(wire, 3);
      AppendClock(out, p[0], p[1]);
      return AppendSeconds(out, p[2]);
    }
    case fkDateTime:
    case fkDateTimeSec: {
      const TParts p = BcdParts(wire, f.Bytes);
      AppendDate(out, p[0], p[1], p[2]);
      out += ' ';
      AppendClock(out, p[3], p[4]);
      if (f.Kind == fkDateTimeSec) AppendSeconds(out, p[5]);
      return;
    }
    case fkHoliday: return AppendHoliday(out, wire);
    case fkMonthDayTime: return AppendMonthDayTime(out, wire);
    case fkDayHour: return AppendDayHour(out, wire);
    case fkZone:
    case fkSegment: return AppendTableEntry(out, f, wire);
    case fkAscii: return AppendAscii(out, f, wire);
    case fkWord: return AppendWord(out, f, wire);
    case fkHex:
      for (int i = f.Bytes - 1; i >= 0; --i) out += HexByte(wire[i]);
      return;
    case fkDigits:
      for (int i = f.Bytes - 1; i >= 0; --i) AppendTwo(out, BcdParts(wire + i, 1)[0]);
      return;
    case fkLoadBlock:
    case fkFreezeBlock: return;
  }
}

std::string EntryText(const std::vector<TField>& fields, const uint8_t* wire) {
  std::string text;
  for (const TField& f : fields) {
    if (!text.empty()) text += ", ";
    AppendField(text, f, wire);
    wire += f.Bytes;
  }
  return text;
}

std::string FirstUnit(const std::vector<TField>& fields) {
  for (const TField& f : fields)
    if (f.Kind == fkNumber) return f.Unit;
  return "";
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

std::vector<std::string> SplitNames(const std::string& names) {
  std::vector<std::string> labels;
  for (size_t pos = 0; pos <= names.size();) {
    const size_t bar = std::min(names.find('|', pos), names.size());
    labels.push_back(names.substr(pos, bar - pos));
    pos = bar + 1;
  }
  return labels;
}

std::string JoinEntries(const std::vector<TReadingEntry>& entries) {
  std::string text;
  for (const TReadingEntry& e : entries) {
    if (!text.empty()) text += "; ";
    if (!e.Name.empty()) text.append(e.Name).append(" ");
    text += e.Text;
  }
  return text;
}

// ---- Load records ----

// The six sections of a load record block, in order; the row's Fields name the time first, then
// the values of the sections one after the other.
const std::vector<std::vector<TField>>& LoadSections() {
  static const std::vector<std::vector<TField>> sections = [] {
    std::vector<std::vector<TField>> s;
    for (const char* layout : kLoadSections) s.push_back(ParseLayout(layout));
    return s;
  }();
  return sections;
}

// Where the block at `pos` ends (the byte after its E5 E5), after checking its frame.
size_t CheckLoadBlock(const std::vector<uint8_t>& d, size_t pos, const std::string& at) {
  if (d.size() - pos < 3 || d[pos] != 0xA0 || d[pos + 1] != 0xA0) throw TReadError{at + "不以A0 A0开头"};
  const size_t end = pos + 3 + d[pos + 2];
  if (end + 3 > d.size()) throw TReadError{at + "不完整"};
  uint8_t sum = 0;
  for (size_t i = pos; i < end; ++i) sum = static_cast<uint8_t>(sum + d[i]);
  if (d[end] != sum) throw TReadError{at + "校验和为" + HexByte(d[end]) + "，各字节之和为" + HexByte(sum)};
  if (d[end + 1] != 0xE5 || d[end + 2] != 0xE5) throw TReadError{at + "不以E5 E5结尾"};
  if (d[pos + 2] < 5) throw TReadError{at + "没有时间"};
  return end;
}

// One named field read on its own: a field that does not read says why in its place.
TReadingEntry FieldEntry(const std::string& name, const TField& f, const uint8_t* wire) {
  TReadingEntry entry{name, "", f.Kind == fkNumber ? f.Unit : "", true};
  try {
    AppendField(entry.Text, f, wire);
  } catch (const TReadError& e) {
    entry.Text = "无法解析：" + e.Why;
    entry.Ok = false;
  }
  return entry;
}

// One block: its summary ("time | section | - | ...") and its values as named entries; a value
// that does not read says so in its place and the others still read.
std::string LoadBlockText(const std::vector<uint8_t>& d, size_t body, size_t end, const std::string& at,
                          const std::vector<std::string>& names, const std::string& point,
                          std::vector<TReadingEntry>& entries) {
  static const TField time = ParseField("YYMMDDhhmm");
  entries.push_back(FieldEntry(point + (names.empty() ? "" : names[0]), time, &d[body]));
  std::string block = entries.back().Text;
  size_t p = body + 5, name = 1;
  for (const std::vector<TField>& section : LoadSections()) {
    const size_t close = static_cast<size_t>(std::find(d.begin() + static_cast<long>(p), d.begin() + static_cast<long>(end), 0xAA) - d.begin());
    if (close == end) throw TReadError{at + "不足六个部分"};
    const size_t size = close - p;
    if (size != 0 && static_cast<int>(size) != EntrySize(section))
      throw TReadError{at + "有一部分为" + std::to_string(size) + "字节，应为" + std::to_string(EntrySize(section)) + "字节"};
    block += size == 0 ? " | -" : " | ";
    const uint8_t* wire = &d[p];
    for (size_t k = 0; size != 0 && k < section.size(); wire += section[k++].Bytes) {
      const std::string label = name + k < names.size() ? names[name + k] : "";
      entries.push_back(FieldEntry(point + label, section[k], wire));
      block.append(k ? ", " : "").append(entries.back().Text);
    }
    name += section.size();
    p = close + 1;
  }
  if (p != end) throw TReadError{at + "第六部分之后还有多余字节"};
  return block;
}

std::string LoadBlocksText(const std::vector<uint8_t>& d, const std::string& fieldNames,
                           std::vector<TReadingEntry>& entries) {
  const std::vector<std::string> names = SplitNames(fieldNames);
  std::string text;
  if (d.empty()) throw TReadError{"数据中没有记录块"};
  for (size_t pos = 0, n = 1; pos < d.size(); ++n) {
    const std::string at = "第" + std::to_string(pos) + "字节起的记录块";
    const size_t end = CheckLoadBlock(d, pos, at);
    const std::string point = "记录块" + std::to_string(n) + " ";
    text += (text.empty() ? "" : "; ") + LoadBlockText(d, pos + 3, end, at, names, point, entries);
    pos = end + 3;
  }
  return text;
}

// ---- Records ----

// A record field by field: "发生时刻 2026-12-09 10:15:00; 操作者代码 12345678; ...". A field that
// does not read says so in its place; the others still read. False when one did not.
bool RecordEntries(const std::vector<TField>& fields, const std::string& names, const uint8_t* wire,
                   std::vector<TReadingEntry>& entries) {
  const std::vector<std::string> labels = SplitNames(names);
  bool ok = true;
  for (size_t i = 0; i < fields.size();) {
    const int group = fields[i].Group;
    TReadingEntry entry;
    entry.Name = group < static_cast<int>(labels.size()) ? labels[static_cast<size_t>(group)] : "";
    entry.Unit = fields[i].Kind == fkNumber ? fields[i].Unit : "";
    size_t parts = i;
    while (parts < fields.size() && fields[parts].Group == group) ++parts;
    entry.Text.reserve(16 * (parts - i));
    try {
      const uint8_t* at = wire;
      for (size_t k = i; k < fields.size() && fields[k].Group == group; at += fields[k++].Bytes) {
        if (k > i) entry.Text += ", ";
        AppendField(entry.Text, fields[k], at);
      }
    } catch (const TReadError& e) {
      entry.Text = "无法解析：" + e.Why;
      entry.Ok = ok = false;
    }
    entries.push_back(std::move(entry));
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
    error = "“" + text + "”不是数字";
    return false;
  }
  if (negative && !f.Signed) {
    error = f.Notation + "不能为负数";
    return false;
  }
  if (static_cast<int>(fraction.size()) > f.Decimals) {
    error = "“" + text + "”的小数超过" + std::to_string(f.Decimals) + "位";
    return false;
  }
  whole.erase(0, whole.find_first_not_of('0') == std::string::npos ? whole.size() : whole.find_first_not_of('0'));
  if (static_cast<int>(whole.size()) > wholeDigits) {
    error = "“" + text + "”超出" + f.Notation + "的范围";
    return false;
  }
  std::string digits = std::string(static_cast<size_t>(wholeDigits) - whole.size(), '0') + whole + fraction +
                       std::string(static_cast<size_t>(f.Decimals) - fraction.size(), '0');
  if (f.Signed && digits[0] > '7') {
    error = "“" + text + "”超出" + f.Notation + "的范围";
    return false;
  }
  std::vector<int> parts;
  for (size_t i = 0; i < digits.size(); i += 2) parts.push_back((digits[i] - '0') * 10 + (digits[i + 1] - '0'));
  if (negative && digits.find_first_not_of('0') != std::string::npos) parts[0] += 80;  // sign bit: 0x80 = "8" in the top digit
  PutParts(parts, out);
  return true;
}

// Each PutX writes one field typed as FormatReading shows it, or says why the text does not fit.
struct TPut {
  const TField& F;
  const std::string& Text;
  std::vector<uint8_t>& Out;
  std::string& Error;
  bool Fail(const std::string& why) const {
    Error = why;
    return false;
  }
  bool Bad() const { return Fail("“" + Text + "”不符合" + F.Notation); }
};

bool IsDigits(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

// "YYYY-MM-DD" at the start of the text: the date's numbers, or false.
bool MatchDate(const std::string& text, std::vector<int>& n) {
  return Match(text.substr(0, std::min<size_t>(text.size(), 10)), "####-##-##", n) && n[0] >= 2000 && n[0] <= 2099 &&
         ValidDate(n[0], n[1], n[2]);
}

bool PutDateWeek(const TPut& p) {
  std::vector<int> n;
  if (!MatchDate(p.Text, n)) return p.Fail("“" + p.Text + "”不是2000-01-01到2099-12-31之间的日期");
  PutParts({n[0] - 2000, n[1], n[2], WeekDay(n[0], n[1], n[2])}, p.Out);
  return true;
}

bool PutTime(const TPut& p) {
  std::vector<int> n;
  if (!Match(p.Text, "##:##:##", n) || n[0] > 23 || n[1] > 59 || n[2] > 59) return p.Fail("“" + p.Text + "”不是hh:mm:ss格式的时间");
  PutParts(n, p.Out);
  return true;
}

// YYYY-MM-DD hh:mm, with ":ss" when the field holds seconds.
bool PutDateTime(const TPut& p) {
  std::vector<int> n;
  const bool seconds = p.F.Kind == fkDateTimeSec;
  if (!Match(p.Text, seconds ? "####-##-## ##:##:##" : "####-##-## ##:##", n) || n[0] < 2000 || n[0] > 2099 ||
      !ValidDate(n[0], n[1], n[2]) || n[3] > 23 || n[4] > 59 || (seconds && n[5] > 59))
    return p.Fail("“" + p.Text + "”不是YYYY-MM-DD hh:mm" + (seconds ? ":ss" : "") + "格式的日期时间");
  n[0] -= 2000;
  PutParts(n, p.Out);
  return true;
}

bool PutMonthDayTime(const TPut& p) {
  std::vector<int> n;
  if (!Match(p.Text, "##-## ##:##", n) || !ValidDate(2000, n[0], n[1]) || n[2] > 23 || n[3] > 59)
    return p.Fail("“" + p.Text + "”不是MM-DD hh:mm格式");
  PutParts(n, p.Out);
  return true;
}

bool PutDayHour(const TPut& p) {
  std::vector<int> n;
  if (p.Text == kNotSet || p.Text == "not set") n = {99, 99};
  else if ((!Match(p.Text, "##日##时", n) && !Match(p.Text, "day ## ##h", n)) || n[0] < 1 || n[0] > 31 || n[1] > 23)
    return p.Fail("“" + p.Text + "”应为“DD日hh时”或“" + kNotSet + "”");
  PutParts(n, p.Out);
  return true;
}

// The number after " #" that ends a table entry or a holiday: one or two digits.
bool TableNumber(const std::string& text, size_t head, int& number) {
  if (text.size() < head + 3 || text.compare(head, 2, " #") != 0) return false;
  const std::string digits = text.substr(head + 2);
  if (digits.empty() || digits.size() > 2 || !IsDigits(digits)) return false;
  number = std::atoi(digits.c_str());
  return true;
}

// MM-DD #NN (time zone), hh:mm #NN (time segment) or YYYY-MM-DD #NN (holiday); 未使用 for zeros.
bool PutTableEntry(const TPut& p) {
  const int parts = p.F.Kind == fkHoliday ? 4 : 3;
  if (p.Text == kUnused || p.Text == "unused") {
    PutParts(std::vector<int>(static_cast<size_t>(parts), 0), p.Out);
    return true;
  }
  std::vector<int> n;
  int number = 0;
  bool ok = false;
  if (p.F.Kind == fkHoliday) ok = MatchDate(p.Text, n) && TableNumber(p.Text, 10, number);
  else if (p.F.Kind == fkZone) ok = Match(p.Text.substr(0, 5), "##-##", n) && ValidDate(2000, n[0], n[1]) && TableNumber(p.Text, 5, number);
  else ok = Match(p.Text.substr(0, 5), "##:##", n) && n[0] <= 23 && n[1] <= 59 && TableNumber(p.Text, 5, number);
  if (!ok) return p.Bad();
  if (p.F.Kind == fkHoliday) n[0] -= 2000;
  n.push_back(number);
  PutParts(n, p.Out);
  return true;
}

bool PutAscii(const TPut& p) {
  if (static_cast<int>(p.Text.size()) > p.F.Bytes) return p.Fail("“" + p.Text + "”超过" + std::to_string(p.F.Bytes) + "个字符");
  for (char c : p.Text)
    if (c < 0x20 || c > 0x7E) return p.Fail("“" + p.Text + "”只能含可打印的ASCII字符");
  std::vector<uint8_t> value(p.Text.begin(), p.Text.end());
  value.resize(static_cast<size_t>(p.F.Bytes), 0);
  p.Out.insert(p.Out.end(), value.rbegin(), value.rend());
  return true;
}

// Words, hexadecimal and digits: two digits a byte, most significant first (a word may end in H
// and its set bits as FormatReading shows them).
bool PutHex(const TPut& p) {
  const TField& f = p.F;
  const size_t digits = 2 * static_cast<size_t>(f.Bytes);
  const std::string hex = p.Text.substr(0, std::min(p.Text.size(), digits));
  const std::string rest = p.Text.substr(hex.size());
  bool ok = hex.size() == digits && (rest.empty() || (f.Kind == fkWord && rest[0] == 'H'));
  for (char c : hex)
    ok = ok && (f.Kind == fkDigits ? std::isdigit(static_cast<unsigned char>(c)) : std::isxdigit(static_cast<unsigned char>(c)));
  if (!ok) return p.Fail("“" + p.Text + "”不是" + std::to_string(digits) + (f.Kind == fkDigits ? "位数字" : "位十六进制数字"));
  for (size_t i = digits; i >= 2; i -= 2) {
    uint8_t b = 0;
    TStringUtil::TryHexPair(hex.substr(i - 2, 2), b);
    p.Out.push_back(b);
  }
  return true;
}

bool PutField(const TField& f, const std::string& text, std::vector<uint8_t>& out, std::string& error) {
  const TPut p{f, text, out, error};
  switch (f.Kind) {
    case fkNumber: return PutNumber(f, text, out, error);
    case fkDateWeek: return PutDateWeek(p);
    case fkTime: return PutTime(p);
    case fkDateTime:
    case fkDateTimeSec: return PutDateTime(p);
    case fkMonthDayTime: return PutMonthDayTime(p);
    case fkDayHour: return PutDayHour(p);
    case fkZone:
    case fkSegment:
    case fkHoliday: return PutTableEntry(p);
    case fkAscii: return PutAscii(p);
    case fkWord:
    case fkHex:
    case fkDigits: return PutHex(p);
    case fkLoadBlock:
    case fkFreezeBlock: return p.Fail("负荷记录和冻结数据块由电表生成，不能设定");
  }
  return p.Bad();
}

// A record typed as FormatReading shows it: "发生时刻 2026-12-09 10:15:00; 结束时刻 ...", each
// field after its name, the parts of a field (and its repeats) separated by ", ".
bool PutRecord(const TReadingFormat& row, const std::vector<TField>& fields, const std::string& text,
               std::vector<uint8_t>& out, std::string& error) {
  const std::vector<std::string> names = SplitNames(row.Fields), values = Split(text, "; ");
  if (values.size() != names.size()) {
    error = "“" + text + "”没有记录的" + std::to_string(names.size()) + "个字段";
    return false;
  }
  size_t k = 0;
  for (size_t group = 0; group < names.size(); ++group) {
    const std::string& value = values[group];
    if (value.rfind(names[group] + " ", 0) != 0) {
      error = "字段“" + value + "”不是以" + names[group] + "开头";
      return false;
    }
    const std::vector<std::string> parts = Split(value.substr(names[group].size() + 1), ", ");
    for (const std::string& part : parts) {
      if (k == fields.size() || fields[k].Group != static_cast<int>(group)) {
        error = "字段“" + value + "”的部分多于其格式";
        return false;
      }
      if (!PutField(fields[k++], part, out, error)) return false;
    }
    if (k < fields.size() && fields[k].Group == static_cast<int>(group)) {
      error = "字段“" + value + "”的部分少于其格式";
      return false;
    }
  }
  return true;
}

}  // namespace

const std::vector<TReadingFormat>& ReadingFormats() {
  static const std::vector<TReadingFormat> rows = [] {
    return AppendixRows();
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

namespace {

// A data block of entries (or one value): every entry read, labelled as the row labels them.
void ReadEntries(const TReadingFormat& row, const std::vector<TField>& fields, const std::vector<uint8_t>& data,
                 TReading& reading) {
  const size_t size = static_cast<size_t>(EntrySize(fields));
  std::vector<std::string> labels;
  if (size == 0 || data.size() % size != 0 || !EntryLabels(row.Entries, data.size() / size, labels))
    throw TReadError{"数据为" + std::to_string(data.size()) + "字节，" + ExpectedCount(row.Entries, static_cast<int>(size))};
  const std::string unit = FirstUnit(fields);
  for (size_t i = 0; i < labels.size(); ++i)
    reading.Entries.push_back({labels[i], EntryText(fields, data.data() + i * size), unit, true});
}

// The items of a freeze data block, in the order they follow each other: DI1 = 00 (the time),
// 01..08 (energies), 09, 0A (demands), 10 (variables).
const uint8_t kFreezeItems[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x10};

// A freeze data block: each item read as its own identifier reads, its entries named by the
// item. The energy and demand items carry total and k tariffs: 29 + 48 × (k + 1) bytes in all.
bool ReadFreezeBlock(const std::string& di, const std::vector<uint8_t>& data, TReading& reading) {
  if (data.size() < 29 + 48 || (data.size() - 29) % 48 != 0)
    throw TReadError{"数据为" + std::to_string(data.size()) + "字节，应为29+48×(k+1)字节"};
  const size_t tariffs = (data.size() - 29) / 48;  // k + 1
  bool ok = true;
  size_t pos = 0;
  for (uint8_t di1 : kFreezeItems) {
    const std::string item = di.substr(0, 4) + HexByte(di1) + di.substr(6, 2);
    const TReadingFormat* row = FindReadingFormat(item);
    if (!row) throw TReadError{"数据块的项" + item + "没有已知的数据格式"};
    const int fixed = ReadingLength(item);
    const size_t size = fixed > 0 ? static_cast<size_t>(fixed) : tariffs * static_cast<size_t>(EntrySize(LayoutOf(*row)));
    const TReading part = FormatReading(item, std::vector<uint8_t>(data.begin() + static_cast<long>(pos),
                                                                   data.begin() + static_cast<long>(pos + size)));
    const std::string name = RowMemberName(*row, item);
    if (part.Entries.empty()) reading.Entries.push_back({name, part.Text, "", false});
    for (const TReadingEntry& e : part.Entries)
      reading.Entries.push_back({name + (e.Name.empty() ? "" : " " + e.Name), e.Text, e.Unit, e.Ok});
    ok = ok && part.Ok;
    pos += size;
  }
  return ok;
}

// The whole reading of `data` by the row; false when a record's field did not read.
bool ReadByRow(const std::string& di, const TReadingFormat& row, const std::vector<TField>& fields,
               const std::vector<uint8_t>& data, TReading& reading) {
  if (fields.size() == 1 && fields[0].Kind == fkLoadBlock) {
    reading.Text = LoadBlocksText(data, row.Fields, reading.Entries);
    return std::all_of(reading.Entries.begin(), reading.Entries.end(), [](const TReadingEntry& e) { return e.Ok; });
  }
  if (fields.size() == 1 && fields[0].Kind == fkFreezeBlock) return ReadFreezeBlock(di, data, reading);
  if (*row.Fields) {
    const size_t size = static_cast<size_t>(EntrySize(fields));
    if (data.size() != size)
      throw TReadError{"数据为" + std::to_string(data.size()) + "字节，应为" + std::to_string(size) + "字节"};
    return RecordEntries(fields, row.Fields, data.data(), reading.Entries);
  }
  ReadEntries(row, fields, data, reading);
  return true;
}

// The data of a normal read reply (11H, or 12H without its sequence number) after the identifier.
bool ReplyData(const TFrameBody& body, std::string& di, std::vector<uint8_t>& data, std::string& why) {
  for (int i = 3; i >= 0; --i) di += body.Data.substr(static_cast<size_t>(2 * i), 2);
  const size_t end = body.Data.size() - (body.FuncCode == 0x12 ? 2 : 0);
  for (size_t i = 8; i + 1 < end; i += 2) {
    uint8_t b = 0;
    if (!TStringUtil::TryHexPair(body.Data.substr(i, 2), b)) {
      why = "无法解析：数据不是十六进制";
      return false;
    }
    data.push_back(b);
  }
  return true;
}

TReading AddressReading(const TFrameBody& body) {
  std::vector<uint8_t> wire;
  for (size_t i = 0; i + 1 < body.Data.size(); i += 2) {
    uint8_t b = 0;
    if (!TStringUtil::TryHexPair(body.Data.substr(i, 2), b)) return Failed("无法解析：数据不是十六进制");
    wire.push_back(b);
  }
  if (wire.size() != 6) return Failed("无法解析：通信地址应为6字节，数据为" + std::to_string(wire.size()) + "字节");
  TReading r;
  for (auto it = wire.rbegin(); it != wire.rend(); ++it) r.Text += HexByte(*it);
  r.Value = r.Text;
  r.Ok = true;
  r.Entries.push_back({"", r.Text, "", true});
  return r;
}

}  // namespace

TReading FormatReading(const std::string& di, const std::vector<uint8_t>& data) {
  const TReadingFormat* row = FindReadingFormat(di);
  if (!row) return Failed("无法解析：标识" + Upper(di) + "没有已知的数据格式");
  const std::vector<TField>& fields = LayoutOf(*row);
  const bool record = (*row->Fields && fields[0].Kind != fkLoadBlock) || fields[0].Kind == fkFreezeBlock;
  const std::string as = "无法按" + (record ? std::string("记录格式") : Notation(fields)) + "解析";
  TReading reading;
  reading.Unit = FirstUnit(fields);
  try {
    reading.Ok = ReadByRow(di, *row, fields, data, reading);
  } catch (const TReadError& e) {
    return Failed(as + "：" + e.Why);
  }
  if (reading.Text.empty()) reading.Text = JoinEntries(reading.Entries);
  const bool single = fields.size() == 1 && fields[0].Kind == fkNumber && std::string(row->Entries).empty();
  reading.Value = reading.Ok && single && !reading.Unit.empty()
                      ? reading.Text.substr(0, reading.Text.size() - reading.Unit.size() - 1)
                      : reading.Text;
  return reading;
}

TReading RequestReading(const std::string& di, const std::vector<uint8_t>& data) {
  static const std::string kNames = "记录块数|给定时间";  // NN, YYMMDDhhmm
  const TReadingFormat* row = FindReadingFormat(di);
  if (!row || !*row->Request) return Failed("无法解析：标识" + Upper(di) + "读取时不带数据");
  const std::vector<TField> fields = ParseLayout(row->Request);
  const size_t size = static_cast<size_t>(EntrySize(fields));
  if (data.size() != size)
    return Failed("无法按" + Notation(fields) + "解析：数据为" + std::to_string(data.size()) + "字节，应为" +
                  std::to_string(size) + "字节");
  TReading reading;
  reading.Ok = RecordEntries(fields, kNames, data.data(), reading.Entries);
  reading.Text = reading.Value = JoinEntries(reading.Entries);
  return reading;
}

TReading ReplyReading(const TFrameBody& body) {
  if (body.Dir == 1 && body.Normal && body.FuncCode == 0x13) return AddressReading(body);
  const bool read = body.FuncCode == 0x11 || body.FuncCode == 0x12;
  const size_t least = body.FuncCode == 0x12 ? 10 : 8;
  if (body.Dir != 1 || !body.Normal || !read || body.Data.size() < least) return Failed("无法解析：不是读数据应答");
  std::string di, why;
  std::vector<uint8_t> data;
  if (!ReplyData(body, di, data, why)) return Failed(why);
  if (!body.LastFrame) return Failed("暂无法解析：还有后续数据帧");
  return FormatReading(di, data);
}

namespace {
// "DI name: reading"; a record or a block entry by entry, one line each.
std::string TipText(const std::string& di, const TReading& reading) {
  const std::string name = IdentifierName(di);
  std::string tip = Upper(di) + (name.empty() ? "" : " " + name) + ":";
  if (reading.Entries.size() <= 1) return tip + " " + reading.Text;
  for (const TReadingEntry& e : reading.Entries) tip.append("\r\n").append(e.Name.empty() ? e.Text : e.Name + " " + e.Text);
  return tip;
}
}  // namespace

std::string ReadingTip(const std::string& di, const std::vector<uint8_t>& data) {
  return TipText(di, FormatReading(di, data));
}

std::string ReplyReadingTip(const TFrameBody& body) {
  if (body.Dir != 1 || !body.Normal || body.FuncCode != 0x11 || body.Data.size() < 8) return "";
  std::string di;
  for (int i = 3; i >= 0; --i) di += body.Data.substr(static_cast<size_t>(2 * i), 2);
  return TipText(di, ReplyReading(body));
}

bool ParseReading(const std::string& di, const std::string& text, std::vector<uint8_t>& data, std::string& error) {
  data.clear();
  const TReadingFormat* row = FindReadingFormat(di);
  if (!row) {
    error = "标识" + Upper(di) + "没有已知的数据格式";
    return false;
  }
  const std::vector<TField>& fields = LayoutOf(*row);
  if (*row->Fields && fields[0].Kind != fkLoadBlock) return PutRecord(*row, fields, text, data, error);
  const bool ascii = fields.size() == 1 && fields[0].Kind == fkAscii;
  std::vector<std::string> entries = ascii ? std::vector<std::string>{text} : Split(text, "; ");
  std::vector<std::string> labels;
  if (!EntryLabels(row->Entries, entries.size(), labels)) {
    error = "“" + text + "”不符合" + (std::string(row->Entries).empty() ? "单个读数" : row->Entries) + "的各项";
    return false;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    std::string entry = entries[i];
    if (!labels[i].empty()) {
      const std::string label = entry.rfind(labels[i] + " ", 0) == 0 ? labels[i] : EnglishLabel(labels[i]);
      if (entry.rfind(label + " ", 0) != 0) {
        error = "项“" + entry + "”不是以" + labels[i] + "开头";
        return false;
      }
      entry = Trim(entry.substr(label.size() + 1));
    }
    std::vector<std::string> values = ascii ? std::vector<std::string>{entry} : Split(entry, ", ");
    if (values.size() != fields.size()) {
      error = "“" + entry + "”没有" + Notation(fields) + "的" + std::to_string(fields.size()) + "个部分";
      return false;
    }
    for (size_t k = 0; k < fields.size(); ++k)
      if (!PutField(fields[k], values[k], data, error)) return false;
  }
  return true;
}

std::vector<TLayoutField> LayoutFields(const std::string& di) {
  std::vector<TLayoutField> out;
  const TReadingFormat* row = FindReadingFormat(di);
  if (!row) return out;
  for (const TField& f : LayoutOf(*row)) {
    std::string kind = "number";
    for (const TNamedKind& k : kNamedKinds)
      if (k.Kind == f.Kind) kind = k.Token;
    for (const TNamedKind& k : kSizedKinds)
      if (k.Kind == f.Kind) kind = std::string(k.Token, std::strlen(k.Token) - 1);
    out.push_back({kind, f.Bytes, f.Decimals, f.Signed, f.Group});
  }
  return out;
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
