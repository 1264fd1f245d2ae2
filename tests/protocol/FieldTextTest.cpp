// What a filtered edit field keeps of a text entering it by any way.
#include "protocol/FieldText.h"

#include <gtest/gtest.h>

#include "protocol/PublicFunc.h"

TEST(FieldText, FilterWidthCaseAndLimit) {
  const struct {
    const char* Text;
    TFieldFilter Filter;
    bool Upper;
    int Limit;
    const char* Kept;
  } cases[] = {
      {"１２３４５６７８９０１２３", FilterDigitKey, false, 12, "123456789012"},  // 13 full-width digits
      {"12ab34", FilterDigitKey, false, 0, "1234"},
      {"１２电表ａｂ", FilterDigitKey, false, 0, "12"},                       // Chinese and letters dropped
      {"ｆｅ０Ａzz", FilterHexKey, true, 8, "FE0A"},                           // full-width hex, upper case
      {"00\t01\r\n02", FilterHexKey, false, 0, "000102"},                     // control characters
      {"68　11 2", FilterHexSpaceKey, true, 0, "68 11 2"},                    // the ideographic space
      {"\xFF\xC0\x80" "12\xE4\xB8", FilterDigitKey, false, 0, "12"},          // not UTF-8
      {"操作ＡＢ", nullptr, false, 3, "操作A"},                                  // no filter: kept, limit 3
  };
  for (const auto& c : cases) EXPECT_EQ(NormaliseFieldText(c.Text, c.Filter, c.Upper, c.Limit), c.Kept) << c.Text;
}

TEST(FieldText, UnspacedHexGetsItsBlanks) {
  EXPECT_EQ(SpacedHexText("6801000000000068110433333433"), "68 01 00 00 00 00 00 68 11 04 33 33 34 33");
  EXPECT_EQ(SpacedHexText("681"), "68 1");
  EXPECT_EQ(SpacedHexText("68 11"), "68 11");
  EXPECT_EQ(SpacedHexText("68X1"), "68X1");
}
