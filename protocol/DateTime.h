#pragma once
// The date-time value of the records: a day count since 30 December 1899, the fraction being the
// time of day (local time). Plain double, so records stay plain values.
#include <cstdint>

using TDateTime = double;

struct TDateParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);  // 0 for a month outside 1..12
// False (and `out` untouched) when the parts do not form a valid date/time.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& out);
TDateTime EncodeDateTime(const TDateParts& parts);  // parts must be valid
TDateParts DecodeDateTime(TDateTime value);
TDateTime Now();  // local time
