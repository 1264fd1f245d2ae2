// Readings of reply data in engineering units. Every expected text is worked out by hand from the
// layouts of DL/T 645-2007 Appendix A; the data is written in wire order (least significant byte
// first), as it follows the identifier in a reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "protocol/Catalog.h"
#include "protocol/Reading.h"

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Join(std::initializer_list<TBytes> parts) {
  TBytes out;
  for (const TBytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct TCase {
  const char* DI;
  TBytes Data;
  std::string Reading;
};

std::string Unused(int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += "; 未使用";
  return text;
}

// One load record block of class 1 (voltages, currents, frequency), the other sections empty.
TBytes LoadBlock() {
  TBytes body = {0x15, 0x10, 0x09, 0x12, 0x26,                       // 2026-12-09 10:15
                 0x00, 0x22, 0x98, 0x21, 0x03, 0x22,                 // 220.0 219.8 220.3 V
                 0x00, 0x50, 0x00, 0x80, 0x49, 0x00, 0x20, 0x50, 0x80,  // 5.000 4.980 -5.020 A
                 0x00, 0x50,                                         // 50.00 Hz
                 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  TBytes block = Join({{0xA0, 0xA0, static_cast<uint8_t>(body.size())}, body});
  block.push_back(static_cast<uint8_t>(std::accumulate(block.begin(), block.end(), 0)));
  block.push_back(0xE5);
  block.push_back(0xE5);
  return block;
}

}  // namespace

TEST(Reading, EveryLayoutAndUnitReadsAsTheStandardDefines) {
  const TCase cases[] = {
      {"00010000", {0x56, 0x34, 0x12, 0x00}, "1234.56 kWh"},
      {"00020001", {0x05, 0x00, 0x00, 0x00}, "0.05 kWh"},
      {"02010100", {0x01, 0x22}, "220.1 V"},
      {"02020100", {0x34, 0x12, 0x80}, "-1.234 A"},
      {"02020300", {0x00, 0x50, 0x00}, "5.000 A"},
      {"02020100", {0x00, 0x00, 0x80}, "0.000 A"},  // sign bit with a zero value: no minus
      {"02030000", {0x56, 0x34, 0x92}, "-12.3456 kW"},
      {"02040100", {0x00, 0x50, 0x01}, "1.5000 kvar"},
      {"02050000", {0x00, 0x00, 0x03}, "3.0000 kVA"},
      {"02060000", {0x87, 0x09}, "0.987"},
      {"02060200", {0x00, 0x85}, "-0.500"},
      {"02800001", {0x10, 0x00, 0x00}, "0.010 A"},
      {"02800002", {0x00, 0x50}, "50.00 Hz"},
      {"02800007", {0x55, 0x80}, "-5.5 °C"},
      {"02800008", {0x60, 0x03}, "3.60 V"},
      {"0280000A", {0x45, 0x23, 0x01, 0x00}, "12345 min"},
      {"01010000", {0x45, 0x23, 0x01, 0x15, 0x10, 0x09, 0x12, 0x26}, "1.2345 kW, 2026-12-09 10:15"},
      {"04000101", {0x03, 0x09, 0x12, 0x26}, "2026-12-09 (星期三)"},
      {"04000101", {0x00, 0x29, 0x02, 0x04}, "2004-02-29 (星期日)"},
      {"04000102", {0x00, 0x15, 0x10}, "10:15:00"},
      {"04000103", {0x15}, "15 min"},
      {"04000105", {0x80, 0x00}, "80 ms"},
      {"04000106", {0x00, 0x00, 0x01, 0x01, 0x25}, "2025-01-01 00:00"},
      {"04000204", {0x04}, "4"},
      {"04000302", {0x05}, "5 s"},
      {"04000401", {0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, "000000000001"},
      {"04000404", {0x00, 0x00, 0x56, 0x30, 0x32, 0x32}, "220V"},
      {"04000409", {0x00, 0x12, 0x00}, "1200 imp/kWh"},
      {"0400040A", {0x00, 0x08, 0x00}, "800 imp/kvarh"},
      {"04000501", {0x14, 0x00}, "0014H（第2、4位置位）"},
      {"04000703", {0x08}, "08H（第3位置位）"},
      {"04000901", {0x00}, "00H（无置位）"},
      {"04000A01", {0x15, 0x10, 0x09, 0x12}, "12-09 10:15"},
      {"04000A02", {0x15, 0x00}, "15 min"},
      {"04000B01", {0x00, 0x01}, "01日00时"},
      {"04000B02", {0x99, 0x99}, "未设置"},
      {"04000C01", {0x56, 0x34, 0x12, 0x02}, "02123456"},
      {"04000E03", {0x40, 0x26}, "264.0 V"},
      {"04010000", Join({{0x01, 0x01, 0x01, 0x02, 0x01, 0x05}, TBytes(36, 0)}), "01-01 #1; 05-01 #2" + Unused(12)},
      {"04020003", Join({{0x02, 0x00, 0x08, 0x12, 0x30, 0x21}, TBytes(36, 0)}), "08:00 #2; 21:30 #12" + Unused(12)},
      {"0001FF00", {0x00, 0x00, 0x01, 0x00, 0x00, 0x40, 0x00, 0x00}, "总 100.00 kWh; 费率1 40.00 kWh"},
      {"0201FF00", {0x00, 0x22, 0x98, 0x21, 0x03, 0x22}, "A 220.0 V; B 219.8 V; C 220.3 V"},
      {"03010000", Join({{0x03, 0, 0, 0x75, 0, 0}, {0x02, 0, 0, 0x50, 0, 0}, TBytes(6, 0)}),
       "A 3, 75 min; B 2, 50 min; C 0, 0 min"},
      {"06010002", LoadBlock(),
       "2026-12-09 10:15 | 220.0 V, 219.8 V, 220.3 V, 5.000 A, 4.980 A, -5.020 A, 50.00 Hz | - | - | - | - | -"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.DI);
    TReading r = FormatReading(c.DI, c.Data);
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.Text, c.Reading);
  }
  EXPECT_EQ(FormatReading("04000105", {0x80, 0x00}).Value, "80");
  EXPECT_EQ(FormatReading("04000105", {0x80, 0x00}).Unit, "ms");
  EXPECT_EQ(FormatReading("01010000", TBytes{0x45, 0x23, 0x01, 0x15, 0x10, 0x09, 0x12, 0x26}).Unit, "kW");
}

TEST(Reading, DataThatDoesNotFitGivesAReasonInsteadOfANumber) {
  const TCase cases[] = {
      {"00010000", {0x56, 0x34, 0x12}, "无法按XXXXXX.XX kWh解析：数据为3字节，应为4字节"},
      {"00010000", {0x56, 0x34, 0x12, 0x00, 0x00}, "无法按XXXXXX.XX kWh解析：数据为5字节，应为4字节"},
      {"00010000", {0x5A, 0x34, 0x12, 0x00}, "无法按XXXXXX.XX kWh解析：字节5A不是BCD码"},
      {"02020100", {0x34, 0x12, 0x8A}, "无法按带符号XXX.XXX A解析：字节8A不是BCD码"},
      {"04000401", {0x0A, 0x00, 0x00, 0x00, 0x00, 0x00}, "无法按DIGITS*6解析：字节0A不是BCD码"},
      {"04000101", {0x01, 0x30, 0x02, 0x26}, "无法按YYMMDDWW解析：2026-02-30不是有效日期"},
      {"04000101", {0x07, 0x09, 0x12, 0x26}, "无法按YYMMDDWW解析：星期07不在00到06之间"},
      {"04000102", {0x00, 0x60, 0x10}, "无法按hhmmss解析：10:60不是有效时间"},
      {"04000404", {0x01, 0x00, 0x56, 0x30, 0x32, 0x32}, "无法按ASCII*6解析：字节01不是可打印的ASCII字符"},
      {"0001FF00", {0x00, 0x00, 0x01, 0x00, 0x00}, "无法按XXXXXX.XX kWh解析：数据为5字节，应为4字节的整数倍"},
      {"0201FF00", {0x00, 0x22, 0x98, 0x21}, "无法按XXX.X V解析：数据为4字节，应为6字节"},
      {"05070101", {0x00}, "无法解析：标识05070101没有已知的数据格式"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.DI);
    TReading r = FormatReading(c.DI, c.Data);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Text, c.Reading);
  }
  TBytes badSum = LoadBlock();
  badSum[badSum.size() - 3] ^= 1;
  EXPECT_NE(FormatReading("06000002", badSum).Text.find("无法按LOADBLOCK解析：第0字节起的记录块校验和为"),
            std::string::npos);
  TBytes cut = LoadBlock();
  cut.resize(cut.size() - 4);
  EXPECT_EQ(FormatReading("06000002", cut).Text, "无法按LOADBLOCK解析：第0字节起的记录块不完整");
}

// Every entry of the picker's catalogue has a layout, of the catalogue's own length.
TEST(Reading, EveryCatalogueEntryHasALayoutOfItsLength) {
  int entries = 0;
  for (const TCatalogList& list : CatalogLists()) {
    for (const std::string& row : list.Rows) {
      if (IsSeparatorRow(row)) continue;
      ++entries;
      const std::string di = row.substr(0, 8);
      SCOPED_TRACE(row);
      ASSERT_NE(FindReadingFormat(di), nullptr);
      EXPECT_FALSE(IdentifierName(di).empty());
      const bool variable = row.back() == 'x' || di.rfind("06", 0) == 0;  // load records: parameter length
      if (!variable) {
        EXPECT_EQ(ReadingLength(di), std::stoi(row.substr(row.size() - 2)));
      }
    }
  }
  EXPECT_EQ(entries, 164);
  EXPECT_EQ(IdentifierName("00010000"), "(当前)正向有功总电量");
  EXPECT_EQ(IdentifierName("02800002"), "电网频率");
  EXPECT_EQ(ReadingTip("02010100", {0x01, 0x22}), "02010100 A相电压: 220.1 V");
  EXPECT_EQ(ReadingTip("0201FF00", {0x00, 0x22, 0x98, 0x21, 0x03, 0x22}),
            "0201FF00 电压数据块:\r\nA 220.0 V\r\nB 219.8 V\r\nC 220.3 V");
  TFrameBody reply;  // a normal 11H reply: identifier 00010000 in wire order, then 1234.56
  reply.Dir = 1;
  reply.Normal = reply.LastFrame = true;
  reply.FuncCode = 0x11;
  reply.Data = "0000010056341200";
  EXPECT_EQ(ReplyReadingTip(reply), "00010000 (当前)正向有功总电量: 1234.56 kWh");
  reply.Normal = false;
  EXPECT_EQ(ReplyReadingTip(reply), "");
}

TEST(Reading, AReadingTypedInItsOwnFormGivesItsBytes) {
  const TCase cases[] = {
      {"00010000", {0x56, 0x34, 0x12, 0x00}, "1234.56"},
      {"00010000", {0x56, 0x34, 0x12, 0x00}, "1234.56 kWh"},
      {"00010000", {0x00, 0x34, 0x12, 0x00}, "1234"},
      {"02020100", {0x34, 0x12, 0x80}, "-1.234"},
      {"02060100", {0x00, 0x85}, "-0.5"},
      {"04000101", {0x03, 0x09, 0x12, 0x26}, "2026-12-09"},
      {"04000101", {0x03, 0x09, 0x12, 0x26}, "2026-12-09 (星期三)"},
      {"04000102", {0x00, 0x15, 0x10}, "10:15:00"},
      {"01010000", {0x45, 0x23, 0x01, 0x15, 0x10, 0x09, 0x12, 0x26}, "1.2345 kW, 2026-12-09 10:15"},
      {"04000404", {0x00, 0x00, 0x56, 0x30, 0x32, 0x32}, "220V"},
      {"04000401", {0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, "000000000001"},
      {"04000501", {0x14, 0x00}, "0014H"},
      {"04000B02", {0x99, 0x99}, "未设置"},
      {"04000B02", {0x99, 0x99}, "not set"},  // as earlier versions wrote it
      {"0001FF00", {0x00, 0x00, 0x01, 0x00, 0x00, 0x40, 0x00, 0x00}, "总 100.00 kWh; 费率1 40.00 kWh"},
      {"0001FF00", {0x00, 0x00, 0x01, 0x00, 0x00, 0x40, 0x00, 0x00}, "total 100.00 kWh; T1 40.00 kWh"},
      {"0201FF00", {0x00, 0x22, 0x98, 0x21, 0x03, 0x22}, "A 220.0 V; B 219.8 V; C 220.3 V"},
      {"04010001", Join({{0x02, 0x00, 0x08}, TBytes(39, 0)}), "08:00 #2" + Unused(13)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.DI) + " " + c.Reading);
    TBytes data;
    std::string error;
    EXPECT_TRUE(ParseReading(c.DI, c.Reading, data, error)) << error;
    EXPECT_EQ(data, c.Data);
  }
  const std::pair<const char*, const char*> refused[] = {
      {"02010100", "-220.0"}, {"02010100", "220.05"}, {"02020100", "800.000"}, {"00010000", "12a"},
      {"04000101", "2026-02-30"}, {"04000102", "24:00:00"}, {"0201FF00", "A 220.0 V"},
      {"06000002", "1"}, {"05060101", "1"}, {"00010000", ""},
  };
  for (const auto& [di, text] : refused) {
    TBytes data;
    std::string error;
    EXPECT_FALSE(ParseReading(di, text, data, error)) << di << " " << text;
    EXPECT_FALSE(error.empty());
  }
}

// Appendix A tables A.1 to A.3 and the event counters of A.4: units, sign rules (the most
// significant bit is a sign only for combined energies, currents, powers, power factors and the
// temperature) and the patterns of tariff 00..3F, settlement 00..0C, phase and harmonic order.
TEST(Reading, AppendixIdentifiersReadWithTheirUnitsAndSigns) {
  const TBytes time = {0x15, 0x10, 0x09, 0x12, 0x26};  // 2026-12-09 10:15
  const TCase cases[] = {
      {"00000000", {0x67, 0x45, 0x23, 0x81}, "-12345.67 kWh"},   // combined active: signed
      {"00010000", {0x67, 0x45, 0x23, 0x81}, "812345.67 kWh"},   // forward active: never negative
      {"00030000", {0x00, 0x10, 0x00, 0x80}, "-10.00 kvarh"},    // combined reactive 1: signed
      {"00050000", {0x00, 0x10, 0x00, 0x80}, "800010.00 kvarh"}, // quadrant I: unsigned
      {"00090000", {0x01, 0x00, 0x00, 0x00}, "0.01 kVAh"},
      {"00150000", {0x00, 0x00, 0x01, 0x00}, "100.00 kWh"},      // phase A forward active
      {"00013F0C", {0x12, 0x00, 0x00, 0x00}, "0.12 kWh"},        // tariff 63, 12th settlement
      {"01030000", Join({{0x00, 0x50, 0x81}, time}), "-1.5000 kvar, 2026-12-09 10:15"},
      {"01050000", Join({{0x00, 0x50, 0x81}, time}), "81.5000 kvar, 2026-12-09 10:15"},
      {"01090000", Join({{0x00, 0x00, 0x02}, time}), "2.0000 kVA, 2026-12-09 10:15"},
      {"02070100", {0x05, 0x12}, "120.5 °"},
      {"02080100", {0x34, 0x02}, "2.34 %"},
      {"020A0102", {0x50, 0x01}, "1.50 %"},
      {"020B0315", {0x01, 0x00}, "0.01 %"},                      // harmonic 21
      {"02800003", {0x00, 0x00, 0x81}, "81.0000 kW"},            // one-minute average: unsigned
      {"02800004", {0x00, 0x00, 0x81}, "-1.0000 kW"},            // current demand: signed
      {"02800009", {0x60, 0x03}, "3.60 V"},
      {"03050000", {0x12, 0x00, 0x00, 0x34, 0x12, 0x00}, "12, 1234 min"},
      {"03110000", {0x05, 0x00, 0x00}, "5"},
      {"03300000", {0x07, 0x00, 0x00}, "7"},
      {"03120000", {1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 5, 0, 0, 6, 0, 0}, "1; 2; 3; 4; 5; 6"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.DI);
    TReading r = FormatReading(c.DI, c.Data);
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.Text, c.Reading);
  }
  const std::pair<const char*, int> lengths[] = {
      {"03050000", 6}, {"03110000", 3}, {"03300000", 3}, {"03010000", 18}, {"03120000", 18},
      {"03300001", 50}, {"03300801", 1026}, {"03010101", 131}, {"030B0101", 115}, {"00000000", 4},
      {"02800004", 3}, {"020A01FF", 42}, {"0000FF00", 0}};
  for (const auto& [di, length] : lengths) EXPECT_EQ(ReadingLength(di), length) << di;
}

// Past the last tariff (3F), settlement period (0C), harmonic (21 = 15H) or record (10 = 0AH)
// an identifier has no layout.
TEST(Reading, PatternsEndWhereTheStandardsRangesEnd) {
  for (const char* di : {"00014000", "0001000D", "020A0116", "0311000B", "00FF0000", "0207FF01"})
    EXPECT_EQ(FindReadingFormat(di), nullptr) << di;
  for (const char* di : {"00013F00", "0001000C", "020A0115", "0311000A", "0207FF00"})
    EXPECT_NE(FindReadingFormat(di), nullptr) << di;
  EXPECT_EQ(IdentifierName("00013F0C"), "(上12结算日)正向有功费率63电能");
  EXPECT_EQ(IdentifierName("020A0102"), "A相电压2次谐波含量");
  EXPECT_EQ(IdentifierName("03300103"), "(上3次)电表清零记录");
  EXPECT_EQ(IdentifierName("02800009"), "停电抄表电池电压(外部)");
}

// A record reads field by field; a field with invalid BCD says so and the others still read.
TEST(Reading, EventRecordsReadFieldByField) {
  const TBytes at = {0x00, 0x15, 0x10, 0x09, 0x12, 0x26};  // 2026-12-09 10:15:00
  TBytes programming = Join({at, {0x78, 0x56, 0x34, 0x12}, {0x01, 0x01, 0x00, 0x04}, TBytes(36, 0xFF)});
  std::string ids = "04000101";
  for (int i = 0; i < 9; ++i) ids += ", FFFFFFFF";
  TReading r = FormatReading("03300001", programming);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Text, "发生时刻 2026-12-09 10:15:00; 操作者代码 12345678; 编程的前10个数据标识码(不足补FFFFFFFFH) " + ids);
  r = FormatReading("03110001", Join({at, {0x00, 0x5A, 0x10, 0x09, 0x12, 0x26}}));
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Text, "发生时刻 2026-12-09 10:15:00; 结束时刻 无法解析：字节5A不是BCD码");
  EXPECT_EQ(FormatReading("03110001", at).Text, "无法按记录格式解析：数据为6字节，应为12字节");
  EXPECT_EQ(FormatReading("03050000", TBytes(18, 0)).Text,
            "无法按XXXXXX XXXXXX min解析：数据为18字节，应为6字节");
}

// Tables A.5 (parameters), A.6 (freeze data) and A.7 (load records) entry by entry: names,
// values and units as the standard's formats give them.
TEST(Reading, ParametersFreezesAndLoadRecordsReadEntryByEntry) {
  const TBytes time = {0x00, 0x00, 0x09, 0x12, 0x26};  // 2026-12-09 00:00
  const std::pair<TCase, std::vector<std::string>> cases[] = {
      {{"04000D01", {0x34, 0x12}, "1.234"}, {"1.234"}},  // A相电导系数 N.NNN
      {{"04000A03", {0x30, 0x00}, "30 min"}, {"30 min"}},
      {{"04030002", {0x01, 0x01, 0x10, 0x27}, "2027-10-01 #1"}, {"2027-10-01 #1"}},  // holiday: date, day table
      {{"040401FE", {0x00, 0x00, 0x01, 0x00}, "00010000"}, {"00010000"}},  // display item: an identifier
      {{"040005FF", Join({{0x14, 0x00}, TBytes(12, 0)}), "0014H（第2、4位置位）" + std::string(6, ' ')},
       {"0014H（第2、4位置位）", "0000H（无置位）"}},
      {{"05060001", time, "2026-12-09 00:00"}, {"2026-12-09 00:00"}},
      {{"0506093E", Join({{0x45, 0x23, 0x01}, time, {0x00, 0x50, 0x00}, time}), ""},
       {"总 1.2345 kW, 2026-12-09 00:00", "费率1 0.5000 kW, 2026-12-09 00:00"}},
      {{"05061001", Join({{0x56, 0x34, 0x92}, TBytes(21, 0)}), ""}, {"总有功功率 -12.3456 kW", "C相无功功率 0.0000 kvar"}},
      {{"0504FF01", Join({time, {0x67, 0x45, 0x23, 0x81}, {0x01, 0x00, 0x00, 0x00}}), ""},
       {"整点冻结时间 2026-12-09 00:00", "整点冻结正向有功总电能 812345.67 kWh", "整点冻结反向有功总电能 0.01 kWh"}},
      {{"06010000", LoadBlock(), ""}, {"记录块1 负荷记录存储时间 2026-12-09 10:15", "记录块1 B相电流 4.980 A"}},
  };
  for (const auto& [c, entries] : cases) {
    SCOPED_TRACE(c.DI);
    const TReading r = FormatReading(c.DI, c.Data);
    EXPECT_TRUE(r.Ok) << r.Text;
    std::vector<std::string> shown;
    for (const TReadingEntry& e : r.Entries) shown.push_back(e.Name.empty() ? e.Text : e.Name + " " + e.Text);
    for (const std::string& entry : entries)
      EXPECT_NE(std::find(shown.begin(), shown.end(), entry), shown.end()) << entry << " in " << r.Text;
  }
  EXPECT_EQ(ReadingLength("040005FF"), 14);
  EXPECT_EQ(ReadingLength("04030001"), 4);
  EXPECT_EQ(IdentifierName("05060101"), "(上1次)日冻结正向有功电能数据");
  EXPECT_EQ(IdentifierName("04030002"), "第2公共假日日期及日时段表号");
}

// A freeze data block (05 DI2 FF DI0) is its items one after the other: time, eight energies and
// two demands of total and k tariffs, the eight powers; 29 + 48 × (k + 1) bytes.
TEST(Reading, AFreezeBlockReadsItemByItem) {
  TBytes block = {0x00, 0x00, 0x09, 0x12, 0x26};         // 2026-12-09 00:00
  block.insert(block.end(), {0x00, 0x00, 0x01, 0x00});   // forward active total 100.00 kWh
  block.insert(block.end(), {0x00, 0x40, 0x00, 0x00});   // forward active tariff 1 40.00 kWh
  block.insert(block.end(), 7 * 8, 0x00);                // the seven other energies, k = 1
  block.insert(block.end(), 2 * 16, 0x00);               // the two demands: 0.0000 kW at a zero time
  for (int i = 0; i < 2 * 16; i += 8) std::copy_n(TBytes{0, 0, 0, 0x00, 0x00, 0x01, 0x01, 0x26}.begin(), 8, block.end() - 32 + i);
  block.insert(block.end(), 24, 0x00);                   // powers
  const TReading r = FormatReading("0506FF01", block);
  ASSERT_TRUE(r.Ok) << r.Text;
  EXPECT_EQ(r.Entries.size(), 1u + 8 * 2 + 2 * 2 + 8);
  EXPECT_EQ(r.Entries[0].Name + " " + r.Entries[0].Text, "(上1次)日冻结时间 2026-12-09 00:00");
  EXPECT_EQ(r.Entries[2].Name + " " + r.Entries[2].Text, "(上1次)日冻结正向有功电能数据 费率1 40.00 kWh");
  EXPECT_EQ(r.Entries[17].Name + " " + r.Entries[17].Text, "(上1次)日冻结正向有功最大需量及发生时间数据 总 0.0000 kW, 2026-01-01 00:00");
  block.pop_back();
  EXPECT_EQ(FormatReading("0506FF01", block).Text, "无法按记录格式解析：数据为124字节，应为29+48×(k+1)字节");
}

// Bad replies: a record one byte short or long, invalid BCD in one field of a load record,
// identifiers just past a range (holiday FF, daily freeze 3F, load record DI0 03).
TEST(Reading, BadRecordsAndIdentifiersPastARangeSaySo) {
  EXPECT_EQ(FormatReading("03110001", TBytes(13, 0x01)).Text, "无法按记录格式解析：数据为13字节，应为12字节");
  EXPECT_EQ(FormatReading("0504FF01", TBytes(12, 0x01)).Text, "无法按记录格式解析：数据为12字节，应为13字节");
  TBytes bad = LoadBlock();
  bad[8] = 0x2A;  // the A phase voltage 2A00H is not BCD; fix the checksum so that only it is wrong
  bad[bad.size() - 3] = static_cast<uint8_t>(bad[bad.size() - 3] + 0x2A);
  const TReading r = FormatReading("06010000", bad);
  EXPECT_FALSE(r.Ok);
  ASSERT_GE(r.Entries.size(), 3u);
  EXPECT_EQ(r.Entries[1].Name + " " + r.Entries[1].Text, "记录块1 A相电压 无法解析：字节2A不是BCD码");
  EXPECT_EQ(r.Entries[2].Name + " " + r.Entries[2].Text, "记录块1 B相电压 219.8 V");
  for (const char* di : {"040300FF", "0506013F", "06000003", "05000010", "0504FF00", "04040300"})
    EXPECT_EQ(FindReadingFormat(di), nullptr) << di;
  TFrameBody address;  // 93H with five bytes instead of six
  address.Dir = 1;
  address.Normal = address.LastFrame = true;
  address.FuncCode = 0x13;
  address.Data = "1290785634";
  EXPECT_EQ(ReplyReading(address).Text, "无法解析：通信地址应为6字节，数据为5字节");
  EXPECT_EQ(RequestReading("06000001", {0x02, 0x15, 0x10, 0x09, 0x12}).Text,
            "无法按NN YYMMDDhhmm解析：数据为5字节，应为6字节");
  EXPECT_EQ(RequestReading("06000001", {0x02, 0x15, 0x10, 0x32, 0x12, 0x26}).Text,
            "记录块数 2; 给定时间 无法解析：2026-12-32不是有效日期");
}

// A record typed as it reads gives its bytes back (the meter's --set of a record).
TEST(Reading, ARecordTypedAsItReadsGivesItsBytes) {
  const TBytes cut = {0x00, 0x15, 0x10, 0x09, 0x12, 0x26, 0x30, 0x16, 0x10, 0x09, 0x12, 0x26};
  TBytes data;
  std::string error;
  EXPECT_TRUE(ParseReading("03110001", "发生时刻 2026-12-09 10:15:00; 结束时刻 2026-12-09 10:16:30", data, error)) << error;
  EXPECT_EQ(data, cut);
  EXPECT_FALSE(ParseReading("03110001", "发生时刻 2026-12-09 10:15:00", data, error));
  EXPECT_FALSE(ParseReading("03110001", "发生时刻 2026-12-09 10:15:00; 开始 2026-12-09 10:16:30", data, error));
  EXPECT_TRUE(ParseReading("04030001", "2027-10-01 #1", data, error)) << error;
  EXPECT_EQ(data, (TBytes{0x01, 0x01, 0x10, 0x27}));
}
