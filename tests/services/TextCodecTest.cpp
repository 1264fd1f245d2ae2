#include "services/TextCodec.h"

#include <gtest/gtest.h>

#include "GbkTexts.h"

TEST(TextCodec, ChineseTextsBecomeTheirGbkBytesAndBack) {
  const std::pair<std::string, std::string> cases[] = {
      {kLabelNormal, kLabelNormalGbk},   {kLabelDebug, kLabelDebugGbk},
      {kLabelError, kLabelErrorGbk},     {kLabelException, kLabelExceptionGbk},
      {kLabelAlarm, kLabelAlarmGbk},     {kFrameSentPrefix, kFrameSentPrefixGbk},
      {kParityEven, kParityEvenGbk},     {kTransferText, kTransferTextGbk},
  };
  for (const auto& [utf8, gbk] : cases) {
    bool ok = false;
    EXPECT_EQ(Utf8ToGbk(utf8, &ok), gbk) << utf8;
    EXPECT_TRUE(ok);
    EXPECT_EQ(GbkToUtf8(gbk, &ok), utf8);
    EXPECT_TRUE(ok);
    EXPECT_EQ(GbkLength(utf8), gbk.size());
  }
  // Mixed with ASCII, and long enough to outgrow the first output buffer.
  std::string utf8, gbk;
  for (int i = 0; i < 500; ++i) {
    utf8 += "ab" + kFrameSentPrefix + "68AA";
    gbk += "ab" + kFrameSentPrefixGbk + "68AA";
  }
  EXPECT_EQ(Utf8ToGbk(utf8), gbk);
  EXPECT_EQ(GbkToUtf8(gbk), utf8);
  EXPECT_EQ(Utf8ToGbk(""), "");
}

TEST(TextCodec, CharactersGbkLacksBecomeQuestionMarks) {
  bool ok = true;
  // U+1F600 (emoji) and U+0E01 (Thai) are not in GBK; the text around them survives.
  EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80" "b\xE0\xB8\x81" + kParityEven, &ok),
            "a?b?" + kParityEvenGbk);
  EXPECT_FALSE(ok);
}

TEST(TextCodec, InvalidUtf8GivesDefinedResult) {
  bool ok = true;
  // A stray byte, a lead byte followed by ASCII, a cut-off character at the end.
  EXPECT_EQ(Utf8ToGbk("a\xFF" "b\xC3" "c\xE4\xB8", &ok), "a?b?c?");
  EXPECT_FALSE(ok);
  EXPECT_EQ(Utf8ToGbk("\xED\xA0\x80x", &ok), "?x");  // an encoded surrogate
  EXPECT_FALSE(ok);
}

TEST(TextCodec, InvalidGbkGivesDefinedResult) {
  bool ok = true;
  // 0xFF is never valid; a lead byte before ASCII keeps the ASCII; a lead byte at the end.
  EXPECT_EQ(GbkToUtf8("\xFF" "a\xFF" "b\x81" "0" + kParityEvenGbk + "\xD6", &ok),
            "?a?b?0" + kParityEven + "?");
  EXPECT_FALSE(ok);
  GbkToUtf8(kParityEvenGbk, &ok);
  EXPECT_TRUE(ok);
}

TEST(TextCodec, AllByteValuesNeverCrash) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  for (int i = 255; i >= 0; --i) all.push_back(static_cast<char>(i));
  std::string utf8 = GbkToUtf8(all);
  std::string back = Utf8ToGbk(utf8);
  // Every ASCII byte goes through both directions untouched.
  for (int i = 0; i < 0x80; ++i) EXPECT_NE(back.find(static_cast<char>(i)), std::string::npos);
  Utf8ToGbk(all);
}

TEST(TextCodec, LineEndsBecomeCrLf) {
  EXPECT_EQ(ToCrLf("a\nb\r\nc\rd\n\n"), "a\r\nb\r\nc\r\nd\r\n\r\n");
  EXPECT_EQ(ToCrLf("x\r\n"), "x\r\n");
  EXPECT_EQ(ToCrLf(""), "");
}
