#include "protocol/TariffTable.h"

#include <algorithm>
#include <cstdio>

#include "protocol/DLT.h"
#include "protocol/StringUtil.h"

namespace {

// Zone dates live in a leap year: month and day are all the table holds, and 29 February is a
// valid start whatever year it is now.
constexpr int ZoneBaseYear = 2000;

// The value part of an entry as hour and minute (month and day), or false when it is not one.
bool ReadValue(TTariffKind kind, const std::string& part, TTariffRow& row) {
  TDateTime value = 0;
  if (kind == TTariffKind::Zone && !TryEncodeDate(ZoneBaseYear, 1, 1, value)) return false;
  const bool ok = kind == TTariffKind::Segment ? TDLT::SetSegmentTime(value, part) : TDLT::SetZoneDate(value, part);
  if (!ok) return false;
  const TDateParts parts = DecodeDateTime(value);
  row.High = kind == TTariffKind::Segment ? parts.Hour : parts.Month;
  row.Low = kind == TTariffKind::Segment ? parts.Minute : parts.Day;
  return true;
}

// The number part as a list entry: 0 (none) unless it reads as 1..count.
int ReadNumber(TTariffKind kind, const std::string& part) {
  int number = -1;
  if (!TStringUtil::TryStrToInt(part, number)) number = -1;
  return number >= 1 && number <= TariffNumberCount(kind) ? number : 0;
}

std::string EntryText(const TTariffRow& row) {
  char text[40];
  std::snprintf(text, sizeof text, "%02d%02d%02d", row.High % 100, row.Low % 100, row.Number % 100);
  return text;
}

}  // namespace

int TariffNumberCount(TTariffKind kind) { return kind == TTariffKind::Segment ? 63 : 14; }

int LoadRows(TTariffKind kind, const std::string& text, TTariffRows& rows) {
  const int entries = std::min<int>(static_cast<int>(text.size() / TariffEntryLength), TariffRowCount);
  for (int i = 0; i < entries; ++i) {
    const std::size_t start = static_cast<std::size_t>(i) * TariffEntryLength;
    TTariffRow row;
    if (!ReadValue(kind, text.substr(start, 4), row)) return i;
    row.Number = ReadNumber(kind, text.substr(start + 4, 2));
    rows[static_cast<std::size_t>(i)] = row;
  }
  return entries;
}

std::string BuildTableText(TTariffKind kind, const TTariffRows& rows) {
  std::string result, last;
  for (const TTariffRow& row : rows) {
    if (row.Number >= 1 && row.Number <= TariffNumberCount(kind)) {
      last = EntryText(row);
    } else if (last.empty()) {
      break;  // no row before this one had a number
    }
    result += last;
  }
  return result;
}
