// The day-count date-time the records carry and the texts the grids show of it.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>

#include "protocol/DateParts.h"
#include "protocol/DateTime.h"
#include "protocol/PublicFunc.h"


TEST(DateTimeTest, WellKnownDayNumbers) {
  struct TCase {
    int Y, M, D;
    double Days;
  } cases[] = {
      {1899, 12, 30, 0},     {1899, 12, 31, 1},      {1900, 1, 1, 2},   {1899, 12, 29, -1},
      {1970, 1, 1, 25569},   {2000, 1, 1, 36526},    {2024, 2, 29, 45351},
      {1, 1, 1, -693593},    {9999, 12, 31, 2958465},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Y);
    TDateTime v = -1e9;
    ASSERT_TRUE(TryEncodeDate(c.Y, c.M, c.D, v));
    EXPECT_EQ(v, c.Days);
    TDateParts back = DecodeDateTime(v);
    EXPECT_EQ(back.Year, c.Y);
    EXPECT_EQ(back.Month, c.M);
    EXPECT_EQ(back.Day, c.D);
  }
}

TEST(DateTimeTest, InvalidPartsAreRefused) {
  TDateTime v = 123.0;
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, v));
  EXPECT_FALSE(TryEncodeDate(2100, 2, 29, v));
  EXPECT_FALSE(TryEncodeDate(2023, 4, 31, v));
  EXPECT_FALSE(TryEncodeDate(2023, 0, 1, v));
  EXPECT_FALSE(TryEncodeDate(2023, 13, 1, v));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, v));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, v));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, v));
  EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, v));
  EXPECT_EQ(v, 123.0);
  EXPECT_TRUE(TryEncodeTime(12, 0, 0, 0, v));
  EXPECT_EQ(v, 0.5);
}

TEST(DateTimeTest, LeapYears) {
  for (int y : {1600, 2000, 2004, 2024, 2400}) EXPECT_TRUE(IsLeapYear(y)) << y;
  for (int y : {1700, 1800, 1900, 2023, 2100}) EXPECT_FALSE(IsLeapYear(y)) << y;
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(2100, 2), 28);
  EXPECT_EQ(DaysInMonth(2023, 4), 30);
  EXPECT_EQ(DaysInMonth(2023, 12), 31);
  EXPECT_EQ(DaysInMonth(2023, 0), 0);
  EXPECT_EQ(DaysInMonth(2023, 13), 0);
}

TEST(DateTimeTest, RoundTripsToTheMillisecond) {
  const TDateParts samples[] = {Parts(2026, 12, 8, 13, 5, 26, 7), Parts(1899, 12, 30, 23, 59, 59, 999),
                                Parts(1899, 12, 29, 6, 0, 0, 0), Parts(1850, 7, 1, 18, 30, 0, 250),
                                Parts(9999, 12, 31, 23, 59, 59, 999)};
  for (const TDateParts& p : samples) {
    SCOPED_TRACE(p.Year);
    TDateParts q = DecodeDateTime(EncodeDateTime(p));
    EXPECT_EQ(q.Year, p.Year);
    EXPECT_EQ(q.Month, p.Month);
    EXPECT_EQ(q.Day, p.Day);
    EXPECT_EQ(q.Hour, p.Hour);
    EXPECT_EQ(q.Minute, p.Minute);
    EXPECT_EQ(q.Second, p.Second);
    EXPECT_EQ(q.Millisecond, p.Millisecond);
  }
  // Before day 0 the time of day still counts forward: -1.25 is 29 Dec 1899, 06:00.
  EXPECT_EQ(EncodeDateTime(Parts(1899, 12, 29, 6)), -1.25);
}

TEST(DateTimeTest, TextsOfTheGrids) {
  const TDateTime v = EncodeDateTime(Parts(2026, 3, 8, 9, 5, 7, 999));
  EXPECT_EQ(DateTimeText(v), "2026-03-08 09:05:07");  // milliseconds are cut, not rounded
  EXPECT_EQ(DateText(v), "2026-03-08");
  EXPECT_EQ(TimeText(v), "09:05:07");
  EXPECT_EQ(DateTimeText(0), "1899-12-30 00:00:00");
  // A hair before midnight rounds to the next day rather than to a 24th hour.
  EXPECT_EQ(DateTimeText(1.0 - 1e-12), "1899-12-31 00:00:00");
  // Values no date can hold give a defined text instead of garbage.
  EXPECT_EQ(DateText(std::numeric_limits<double>::quiet_NaN()), "1899-12-30");
  EXPECT_EQ(DateText(1e300), "9999-12-31");
  EXPECT_EQ(DateText(-1e300), "0001-01-01");
}

TEST(DateTimeTest, NowIsLocalTime) {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  const TDateParts now = DecodeDateTime(Now());
  const TDateTime expected = EncodeDateTime(Parts(local.tm_year + 1900, local.tm_mon + 1,
                                                  local.tm_mday, local.tm_hour, local.tm_min,
                                                  local.tm_sec > 59 ? 59 : local.tm_sec));
  const TDateTime got = EncodeDateTime(now);
  EXPECT_LT(std::fabs(got - expected) * 86400.0, 5.0);  // same moment, within a few seconds
}
