// Hex texts, byte-order reversals, key filters and serial settings text as the windows use them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/PublicFunc.h"
#include "protocol/StringUtil.h"
#include "protocol/UtilsUnit.h"

TEST(HexTextTest, BytesToText) {
  const uint8_t bytes[] = {0x68, 0x16, 0x00, 0xAB, 0xFF};
  EXPECT_EQ(TStringUtil::BytesToHex(bytes, 2), "6816");
  EXPECT_EQ(TStringUtil::BytesToHexSpaced(bytes, 2), "68 16 ");
  EXPECT_EQ(TStringUtil::BytesToHex(bytes, 5), "681600ABFF");
  EXPECT_EQ(TStringUtil::BytesToHexSpaced(bytes, 5), "68 16 00 AB FF ");
  for (int count : {0, -1, -100}) {
    EXPECT_EQ(TStringUtil::BytesToHex(bytes, count), "");
    EXPECT_EQ(TStringUtil::BytesToHexSpaced(bytes, count), "");
    EXPECT_EQ(TUtils::BytesToStr(bytes, count), "");
  }
  EXPECT_EQ(TStringUtil::BytesToHex(nullptr, 3), "");
  EXPECT_EQ(TUtils::BytesToStr(nullptr, 3), "");
  const uint8_t text[] = {'O', 'K', 0x00, 0xC4, '\r'};
  EXPECT_EQ(TUtils::BytesToStr(text, 5), std::string("OK\0\xC4\r", 5));
}

TEST(HexTextTest, Reversals) {
  struct TCase {
    const char* In;
    const char* Hex;      // ReverseHex
    const char* DI;       // ReverseDI
    const char* Address;  // ReverseAddress
  } cases[] = {
      {"", "", "", ""},
      {"A", "0A", "", ""},
      {"123", "2301", "", ""},
      {"0A1B2C3D", "3D2C1B0A", "3D2C1B0A", ""},
      {"04000101", "01010004", "01010004", ""},
      {"0400010", "10004000", "", ""},                // 7 characters
      {"040001011", "1110004000", "", ""},             // 9 characters
      {"00000000001", "010000000000", "", ""},        // 11 characters
      {"000000000001", "010000000000", "", "010000000000"},
      {"1234567890123", "23018967452301", "", "129078563412"},  // 13: first 12 only
      {"zz 1", " 1zz", "", ""},                       // moved, never validated
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.In);
    EXPECT_EQ(ReverseHex(c.In), c.Hex);
    EXPECT_EQ(ReverseDI(c.In), c.DI);
    EXPECT_EQ(ReverseAddress(c.In), c.Address);
  }
}

TEST(HexTextTest, PadAddress) {
  EXPECT_EQ(PadAddress("1"), "000000000001");
  EXPECT_EQ(PadAddress(""), "000000000000");
  EXPECT_EQ(PadAddress("123456789012"), "123456789012");
  EXPECT_EQ(PadAddress("1234567890123"), "234567890123");
  EXPECT_EQ(PadAddress("AAAAAAAAAAAA"), "AAAAAAAAAAAA");
}

TEST(IntegerTextTest, ReadsLikeTheSettingsAlwaysHave) {
  struct TCase {
    const char* Text;
    bool Ok;
    int Value;
  } cases[] = {
      {"0", true, 0},         {"07", true, 7},          {" 7", true, 7},
      {"+7", true, 7},        {"-12", true, -12},       {"$1F", true, 31},
      {"0x1f", true, 31},     {"$FFFFFFFF", true, -1},  {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"", false, 0},         {" ", false, 0},          {"7 ", false, 0},
      {"$", false, 0},        {"$ 1", false, 0},        {"1G", false, 0},
      {"2147483648", false, 0}, {"$100000000", false, 0}, {"--1", false, 0},
      {"1.5", false, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    int value = 12345;
    EXPECT_EQ(TStringUtil::TryStrToInt(c.Text, value), c.Ok);
    EXPECT_EQ(value, c.Ok ? c.Value : 12345);
  }
  uint8_t b = 0;
  EXPECT_TRUE(TStringUtil::TryHexPair("1", b));
  EXPECT_EQ(b, 1);
  EXPECT_TRUE(TStringUtil::TryHexPair("fE", b));
  EXPECT_EQ(b, 0xFE);
  for (const char* bad : {"", "123", "G1", " 1", "-1", "$1"}) {
    EXPECT_FALSE(TStringUtil::TryHexPair(bad, b)) << bad;
  }
}

TEST(KeyFilterTest, WhatEachFieldLetsThrough) {
  // Columns: hex+space, hex, digits.
  struct TCase {
    char Key;
    bool HexSpace, Hex, Digit;
  } cases[] = {
      {'0', true, true, true},    {'9', true, true, true},    {'A', true, true, false},
      {'F', true, true, false},   {'a', true, true, false},   {'f', true, true, false},
      {'G', false, false, false}, {'g', false, false, false}, {' ', true, false, false},
      {8, true, true, true},      {16, true, true, true},     {13, false, false, false},
      {'-', false, false, false}, {'$', false, false, false}, {'\x80', false, false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Key));
    EXPECT_EQ(FilterHexSpaceKey(c.Key), c.HexSpace ? c.Key : '\0');
    EXPECT_EQ(FilterHexKey(c.Key), c.Hex ? c.Key : '\0');
    EXPECT_EQ(FilterDigitKey(c.Key), c.Digit ? c.Key : '\0');
  }
}

TEST(SerialTextTest, ParityLetter) {
  struct TCase {
    const char* Name;
    const char* Letter;  // from a fresh (empty) result
  } cases[] = {
      {"NONE", "N"}, {"None", "N"}, {"none", "N"}, {"无校验", "N"},
      {"EVEN", "E"}, {"Even", "E"}, {"偶校验", "E"},
      {"ODD", "O"},  {"odd", "O"},  {"奇校验", "O"},
      {"Mark", ""},  {"", ""},      {" None", ""}, {"N", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string result;
    ParityLetter(c.Name, result);
    EXPECT_EQ(result, c.Letter);
  }
  std::string kept = "E";
  ParityLetter("Space", kept);
  EXPECT_EQ(kept, "E");
}

TEST(SerialTextTest, CommSettingsText) {
  TComInfo info;
  info.Port = "/dev/ttyUSB0";
  info.BaudRate = "9600";
  info.DataBits = "8";
  info.Parity = "None";
  info.StopBits = "1";
  EXPECT_EQ(CommSettingsText(info), "9600,N,8,1");
  info.BaudRate = "2400";
  info.Parity = "偶校验";
  info.DataBits = "7";
  info.StopBits = "1.5";
  EXPECT_EQ(CommSettingsText(info), "2400,E,7,1.5");
  info.Parity = "Mark";
  EXPECT_EQ(CommSettingsText(info), "2400,,7,1.5");
}

TEST(ComboTest, SelectComboItemIgnoresLetterCase) {
  const std::vector<std::string> items{"1200", "None", "Odd", "none"};
  EXPECT_EQ(SelectComboItem(items, "NONE"), 1);  // the first match
  EXPECT_EQ(SelectComboItem(items, "odd"), 2);
  EXPECT_EQ(SelectComboItem(items, "1200"), 0);
  EXPECT_EQ(SelectComboItem(items, "Even"), -1);
  EXPECT_EQ(SelectComboItem(items, ""), -1);
  EXPECT_EQ(SelectComboItem({}, "None"), -1);
}
