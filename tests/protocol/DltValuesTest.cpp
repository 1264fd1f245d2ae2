// Error words, baud-rate codes and the tariff table conversions of the table editors.
#include <gtest/gtest.h>

#include <string>

#include "protocol/DLT.h"
#include "protocol/DateParts.h"
#include "protocol/DateTime.h"


TEST(ErrorTextTest, WholeBytesOnly) {
  struct TCase {
    uint8_t Word;
    const char* Text;
  } cases[] = {
      {0x00, ""},         {0x02, "无请求数据"}, {0x04, "密码错"}, {0x08, "通信速率不能更改"},
      {0x10, "年时区数超"}, {0x20, "日时段数超"}, {0x40, "费率数超"}, {0x01, "其它错误"},
      {0x80, "其它错误"}, {0x06, "其它错误"}, {0x0C, "其它错误"}, {0xFF, "其它错误"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Word));
    EXPECT_EQ(TDLT::ErrorText(c.Word), c.Text);
  }
}

TEST(BaudTest, BothDirections) {
  struct TCase {
    int Baud;
    const char* Code;
  } rates[] = {{600, "02"}, {1200, "04"}, {2400, "08"}, {4800, "10"}, {9600, "20"}, {19200, "40"}};
  for (const TCase& c : rates) {
    SCOPED_TRACE(c.Baud);
    std::string code = "xx";
    EXPECT_TRUE(TDLT::BaudToCode(c.Baud, code));
    EXPECT_EQ(code, c.Code);
    EXPECT_EQ(TDLT::BaudCodeToText(c.Code), std::to_string(c.Baud));
  }
  for (int baud : {300, 14400, 33600, 0, -9600, 38400}) {
    SCOPED_TRACE(baud);
    std::string code = "xx";
    EXPECT_FALSE(TDLT::BaudToCode(baud, code));
    EXPECT_EQ(code, "00");
  }
  for (const char* other : {"03", "00", "80", "", "2", "200", "ZZ"}) {
    EXPECT_EQ(TDLT::BaudCodeToText(other), other);
  }
}

TEST(TableEntryTest, SetZoneDateKeepsTheYear) {
  struct TCase {
    TDateTime Start;
    const char* MMDD;
    bool Ok;
    TDateTime Expected;  // the value afterwards
  } cases[] = {
      {At(2024, 5, 6, 13, 14, 15), "0229", true, At(2024, 2, 29)},   // leap year
      {At(2023, 5, 6, 13, 14, 15), "0229", false, At(2023, 5, 6, 13, 14, 15)},
      {At(2000, 1, 1), "0229", true, At(2000, 2, 29)},               // divisible by 400
      {At(1900, 1, 1), "0229", false, At(1900, 1, 1)},               // divisible by 100 only
      {At(2023, 5, 6), "1231", true, At(2023, 12, 31)},
      {At(2023, 5, 6), "0101", true, At(2023, 1, 1)},
      {At(2023, 5, 6), "0431", false, At(2023, 5, 6)},               // 30-day month
      {At(2023, 5, 6), "0001", false, At(2023, 5, 6)},
      {At(2023, 5, 6), "1301", false, At(2023, 5, 6)},
      {At(2023, 5, 6), "0100", false, At(2023, 5, 6)},
      {At(2023, 5, 6), "AB01", false, At(2023, 5, 6)},
      {At(2023, 5, 6), "", false, At(2023, 5, 6)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.MMDD);
    TDateTime value = c.Start;
    EXPECT_EQ(TDLT::SetZoneDate(value, c.MMDD), c.Ok);
    EXPECT_EQ(value, c.Expected);
  }
}

TEST(TableEntryTest, SetSegmentTimeKeepsSecondsAndDropsTheDate) {
  struct TCase {
    TDateTime Start;
    const char* HHMM;
    bool Ok;
    TDateTime Expected;
  } cases[] = {
      {At(2023, 5, 6, 13, 14, 15, 500), "0730", true, At(1899, 12, 30, 7, 30, 15, 500)},
      {At(2023, 5, 6, 13, 14, 15), "0000", true, At(1899, 12, 30, 0, 0, 15)},
      {At(2023, 5, 6, 13, 14, 15), "2359", true, At(1899, 12, 30, 23, 59, 15)},
      {At(2023, 5, 6, 13, 14, 15), "2400", false, At(2023, 5, 6, 13, 14, 15)},
      {At(2023, 5, 6, 13, 14, 15), "1260", false, At(2023, 5, 6, 13, 14, 15)},
      {At(2023, 5, 6, 13, 14, 15), "12:3", false, At(2023, 5, 6, 13, 14, 15)},
      {At(2023, 5, 6, 13, 14, 15), "", false, At(2023, 5, 6, 13, 14, 15)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.HHMM);
    TDateTime value = c.Start;
    EXPECT_EQ(TDLT::SetSegmentTime(value, c.HHMM), c.Ok);
    EXPECT_EQ(value, c.Expected);
  }
}
