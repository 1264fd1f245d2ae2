// Day-count date-times: whole days since 30 December 1899, the fraction being the time of day.
// Values before that day are negative; their fraction still counts forward from midnight
// (-1.25 is 29 December 1899, 06:00), as in the usual desktop date-time format.
#include "protocol/DateTime.h"

#include <sys/time.h>

#include <cmath>
#include <cstdint>
#include <ctime>

namespace {
constexpr int64_t kMsPerDay = 86400000;
// Day 0 of our count, 30 December 1899, is 25569 days before 1 January 1970.
constexpr int64_t kDelphiEpochFromUnix = -25569;
// Supported range: 1 January 0001 .. 31 December 9999.
constexpr double kMinValue = -693593.0;
constexpr double kMaxValue = 2958466.0;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}
}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
  if (day < 1 || day > DaysInMonth(year, month)) return false;
  out = static_cast<double>(DaysFromCivil(year, month, day) - kDelphiEpochFromUnix);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& out) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    return false;
  }
  const int64_t ms = ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
  out = static_cast<double>(ms) / kMsPerDay;
  return true;
}

TDateTime EncodeDateTime(const TDateParts& parts) {
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(parts.Year, parts.Month, parts.Day, date)) date = 0;
  if (!TryEncodeTime(parts.Hour, parts.Minute, parts.Second, parts.Millisecond, time)) time = 0;
  // Before the epoch the time of day still runs forward, so it is subtracted from the
  // (negative) day count.
  return date < 0 ? date - time : date + time;
}

TDateParts DecodeDateTime(TDateTime value) {
  if (!std::isfinite(value)) value = 0;
  if (value < kMinValue) value = kMinValue;
  if (value >= kMaxValue) value = kMaxValue - 1.0 / kMsPerDay;
  // Round to the millisecond first, so 23:59:59.9999 becomes the next midnight rather than a
  // 24th hour.
  const int64_t total = std::llround(value * kMsPerDay);
  int64_t days = total / kMsPerDay;  // truncated toward zero
  int64_t msOfDay = total % kMsPerDay;
  if (msOfDay < 0) msOfDay = -msOfDay;
  TDateParts p;
  CivilFromDays(days + kDelphiEpochFromUnix, p.Year, p.Month, p.Day);
  p.Millisecond = static_cast<int>(msOfDay % 1000);
  int64_t seconds = msOfDay / 1000;
  p.Second = static_cast<int>(seconds % 60);
  p.Minute = static_cast<int>(seconds / 60 % 60);
  p.Hour = static_cast<int>(seconds / 3600);
  return p;
}

TDateTime Now() {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  std::tm local{};
  time_t secs = tv.tv_sec;
  ::localtime_r(&secs, &local);
  TDateParts p;
  p.Year = local.tm_year + 1900;
  p.Month = local.tm_mon + 1;
  p.Day = local.tm_mday;
  p.Hour = local.tm_hour;
  p.Minute = local.tm_min;
  p.Second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second stays in its minute
  p.Millisecond = static_cast<int>(tv.tv_usec / 1000);
  return EncodeDateTime(p);
}
