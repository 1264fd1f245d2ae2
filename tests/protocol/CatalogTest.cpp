// The identifier catalogue: list contents, the picker's selection rules and the typed look-up.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>

#include "protocol/Catalog.h"

namespace {

struct TListShape {
  const char* Name;
  const char* Title;
  size_t Rows, Entries, Separators, Dashes;
};

const TListShape Shapes[] = {
    {"lbxEnergy", "电能量数据标识编码表", 24, 21, 3, 29},
    {"lbxMD", "最大需量数据标识编码表", 19, 16, 3, 29},
    {"lbxVar", "变量数据标识编码表", 9, 8, 1, 28},
    {"lbxParam", "参变量数据标识编码表", 105, 90, 15, 22},
    {"lbxEvent", "事件记录数据标识编码表", 9, 8, 1, 29},
    {"lbxPower", "负荷记录数据标识编码表", 27, 21, 6, 29},
};

const std::string LengthLabel = "长度：";
const std::string BytesLabel = " 字节";

// The row of a catalogue entry, searched for by its code.
std::string RowOf(const std::string& code) {
  for (const auto& list : CatalogLists())
    for (const auto& row : list.Rows)
      if (!IsSeparatorRow(row) && row.compare(0, 8, code) == 0) return row;
  ADD_FAILURE() << "no row for " << code;
  return "";
}

TIdentifierDlt Given(const std::string& di, uint8_t access) {
  TIdentifierDlt id;
  id.DI = di;
  id.Access = access;
  return id;
}

bool IsHex(char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'); }

}  // namespace

TEST(Catalog, ListsHaveTheirTitlesCountsAndSeparators) {
  const auto& lists = CatalogLists();
  ASSERT_EQ(lists.size(), 6u);
  for (size_t i = 0; i < lists.size(); ++i) {
    const TListShape& shape = Shapes[i];
    SCOPED_TRACE(shape.Name);
    EXPECT_EQ(lists[i].Name, shape.Name);
    EXPECT_EQ(lists[i].Title, shape.Title);
    EXPECT_EQ(&CatalogList(static_cast<TCatalogListId>(i)), &lists[i]);
    ASSERT_EQ(lists[i].Rows.size(), shape.Rows);
    size_t separators = 0;
    for (const auto& row : lists[i].Rows) {
      if (!IsSeparatorRow(row)) continue;
      ++separators;
      EXPECT_EQ(row, std::string(shape.Dashes, '-'));
    }
    EXPECT_EQ(separators, shape.Separators);
    EXPECT_EQ(lists[i].Rows.size() - separators, shape.Entries);
    EXPECT_FALSE(IsSeparatorRow(lists[i].Rows.front()));
    EXPECT_FALSE(IsSeparatorRow(lists[i].Rows.back()));
  }
}

TEST(Catalog, EveryEntryFollowsTheRowLayout) {
  const std::set<std::string> accesses = {"R ", "RW", " W"};
  for (const auto& list : CatalogLists()) {
    for (const auto& row : list.Rows) {
      if (IsSeparatorRow(row)) continue;
      SCOPED_TRACE(row);
      ASSERT_GT(row.size(), 14u);
      for (int i = 0; i < 8; ++i) EXPECT_TRUE(IsHex(row[i]));
      EXPECT_EQ(row[8], '-');
      EXPECT_EQ(row[row.size() - 5], ' ');
      EXPECT_NE(row[row.size() - 6], ' ');  // the name ends before the single blank
      EXPECT_EQ(accesses.count(row.substr(row.size() - 4, 2)), 1u);
      const std::string len = row.substr(row.size() - 2);
      const bool digits = (len[0] == ' ' || std::isdigit(static_cast<unsigned char>(len[0]))) &&
                          std::isdigit(static_cast<unsigned char>(len[1]));
      EXPECT_TRUE(digits || len == " x");
      EXPECT_NE(len, "00");
      EXPECT_NE(len[0], '0');
    }
  }
}

TEST(Catalog, SampleRowsReadExactly) {
  const std::map<TCatalogListId, std::vector<std::pair<size_t, std::string>>> samples = {
      {clEnergy, {{0, "00010000-(当前)正向有功总电量 R  4"}, {5, "0001FF00-(当前)正向有功电能数据块 R  x"}, {23, "00020002-(上2结算日)反相有功总电能 R  4"}}},
      {clMD, {{0, "01010000-(当前)正向有功总最大需量及发生时间 R  8"}, {12, "0102FF00-(当前)反向有功最大需量及发生时间数据块 R  x"}, {18, "01020002-(上2结算)反向有功总最大需量及发生时间 R  8"}}},
      {clVar, {{0, "02010100-A相电压 R  2"}, {3, "02020100-A相电流 R  3"}, {8, "0280000A-电池工作时间 R  4"}}},
      {clParam, {{0, "04000101-日期及周次 RW 4"}, {4, "04000105-校表脉冲宽度 R  2"}, {18, "04000304-显示功率（最大需量）小数位数 RW 1"},
                 {23, "04000403-资产编号 RW32"}, {66, "04000C01-0级密码  W 4"}, {82, "04010000-第一套时区表数据 RW42"},
                 {104, "04800003-厂家编号 R 32"}}},
      {clEvent, {{0, "03010000-失压总次数，总累计时间 R 18"}, {5, "030B0000-失流总次数，总累计时间 R 18"}, {8, "030F0000-过载总次数，总累计时间 R 18"}}},
      {clPower, {{0, "06000000-最早记录块 R  1"}, {1, "06000001-给定时间记录块 R  6"}, {26, "06060002-第6类负荷最近一个记录块 R  1"}}},
  };
  for (const auto& [id, rows] : samples)
    for (const auto& [index, text] : rows) {
      ASSERT_LT(index, CatalogList(id).Rows.size());
      EXPECT_EQ(CatalogList(id).Rows[index], text);
    }
  // The layout spelled out on three rows: read-only 4 bytes, write-only, two-digit length.
  EXPECT_EQ(RowOf("00010000").substr(RowOf("00010000").size() - 5), " R  4");
  EXPECT_EQ(RowOf("04000C01").substr(RowOf("04000C01").size() - 5), "  W 4");
  EXPECT_EQ(RowOf("04010000").substr(RowOf("04010000").size() - 5), " RW42");
}

TEST(Catalog, NoCodeOccursTwiceSoTheSearchOrderCannotHideAnEntry) {
  std::map<std::string, int> seen;
  for (const auto& list : CatalogLists())
    for (const auto& row : list.Rows)
      if (!IsSeparatorRow(row)) ++seen[row.substr(0, 8)];
  EXPECT_EQ(seen.size(), 21u + 16 + 8 + 90 + 8 + 21);
  for (const auto& [code, count] : seen) EXPECT_EQ(count, 1) << code;
}

TEST(Catalog, ShowRowGivesCodeAndLabel) {
  const std::string row = CatalogList(clEnergy).Rows[0];
  TShownRow shown = ShowRow(row);
  EXPECT_FALSE(shown.Separator);
  EXPECT_EQ(shown.Code, "00010000");
  EXPECT_EQ(shown.Label, row.substr(8, row.size() - 13));
  EXPECT_EQ(shown.Label.front(), '-');
  EXPECT_NE(shown.Label.back(), ' ');
  EXPECT_EQ(ShowRow(RowOf("04010000")).Label + " RW42", RowOf("04010000").substr(8));

  shown = ShowRow(CatalogList(clParam).Rows[7]);
  EXPECT_TRUE(shown.Separator);
  EXPECT_TRUE(shown.Code.empty());
  EXPECT_TRUE(ShowRow("").Code.empty());  // an empty row shows nothing and does not crash
}

TEST(CatalogSelect, ReadWriteEntryGivesItsIdentifier) {
  const std::string row = RowOf("04000101");
  for (uint8_t access : {uint8_t(0), uint8_t(1)}) {
    TSelectResult r = SelectRow(row, Given("04000102", access));
    ASSERT_TRUE(r.Ok) << r.Message;
    EXPECT_TRUE(r.Message.empty());
    EXPECT_EQ(r.Picked.DI, "04000101");
    EXPECT_EQ(r.Picked.DataLen, 4);
    EXPECT_FALSE(r.Picked.NeedsParam);
    EXPECT_TRUE(r.Picked.ParamData.empty());
    EXPECT_TRUE(r.Picked.Found);
    EXPECT_EQ(r.Picked.Access, access);
    // The name and the blank after it, CR LF, the length label, " 4" and the bytes label.
    EXPECT_EQ(r.Picked.Description, row.substr(9, row.size() - 13) + "\r\n" + LengthLabel + " 4" + BytesLabel);
  }
}

TEST(CatalogSelect, AccessIsCheckedAgainstTheAccessColumns) {
  TSelectResult r = SelectRow(RowOf("04000C01"), Given("", 0));
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Message, "您选择的数据标识无法进行读操作！");
  r = SelectRow(RowOf("02010100"), Given("", 1));
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Message, "您选择的数据标识无法进行写操作！");
  // Write-only entries can be written, read-only entries read.
  EXPECT_TRUE(SelectRow(RowOf("04000C01"), Given("", 1)).Ok);
  EXPECT_TRUE(SelectRow(RowOf("02010100"), Given("", 0)).Ok);
  // Rows whose names carry Latin letters (A相, B相, C相) judge only by their access columns.
  EXPECT_EQ(SelectRow(RowOf("02020300"), Given("", 1)).Message, "您选择的数据标识无法进行写操作！");
  // Every entry is accepted exactly for the accesses its columns list.
  for (const auto& list : CatalogLists())
    for (const auto& row : list.Rows) {
      if (IsSeparatorRow(row)) continue;
      const std::string acc = row.substr(row.size() - 4, 2);
      EXPECT_EQ(SelectRow(row, Given("", 0)).Ok, acc[0] == 'R') << row;
      EXPECT_EQ(SelectRow(row, Given("", 1)).Ok, acc[1] == 'W') << row;
    }
}

TEST(CatalogSelect, SeparatorsEmptyRowsAndTheSameIdentifierStayOpen) {
  const std::string separator = CatalogList(clMD).Rows[6];
  for (uint8_t access : {uint8_t(0), uint8_t(1)}) {
    TSelectResult r = SelectRow(separator, Given("", access));
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Message, "请选择有效的数据标识！");
  }
  // Nothing ever selected: the empty row fails the access test.
  EXPECT_EQ(SelectRow("", Given("", 0)).Message, "您选择的数据标识无法进行读操作！");
  EXPECT_EQ(SelectRow("", Given("", 1)).Message, "您选择的数据标识无法进行写操作！");
  EXPECT_FALSE(SelectRow("", Given("", 1)).Ok);
  // The identifier already in use.
  TSelectResult r = SelectRow(RowOf("04000101"), Given("04000101", 1));
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Message, "当前标识已经被选择！");
}

TEST(CatalogSelect, LoadRecordsCarryReadParameters) {
  struct Case { const char* Code; int Len; const char* Param; };
  for (const Case& c : {Case{"06010002", 1, "01"}, Case{"06010001", 6, ""}, Case{"06010000", 1, ""},
                        Case{"06000002", 1, "01"}, Case{"06060001", 6, ""}}) {
    SCOPED_TRACE(c.Code);
    TSelectResult r = SelectRow(RowOf(c.Code), Given("", 0));
    ASSERT_TRUE(r.Ok);
    EXPECT_EQ(r.Picked.DataLen, c.Len);
    EXPECT_TRUE(r.Picked.NeedsParam);
    EXPECT_EQ(r.Picked.ParamData, c.Param);
  }
  // Other classes never do, even with a code ending in 02.
  TSelectResult r = SelectRow(RowOf("00010002"), Given("", 0));
  ASSERT_TRUE(r.Ok);
  EXPECT_FALSE(r.Picked.NeedsParam);
  EXPECT_TRUE(r.Picked.ParamData.empty());
}

TEST(CatalogSelect, VariableLengthBlocksHaveLengthZero) {
  for (const char* code : {"0001FF00", "0001FF02", "0101FF00", "0102FF00"}) {
    TSelectResult r = SelectRow(RowOf(code), Given("", 0));
    ASSERT_TRUE(r.Ok) << code;
    EXPECT_EQ(r.Picked.DataLen, 0);
    const std::string tail = "\r\n" + LengthLabel + " x" + BytesLabel;
    ASSERT_GE(r.Picked.Description.size(), tail.size());
    EXPECT_EQ(r.Picked.Description.substr(r.Picked.Description.size() - tail.size()), tail);
  }
  TSelectResult r = SelectRow(RowOf("04800001"), Given("", 0));
  ASSERT_TRUE(r.Ok);
  EXPECT_EQ(r.Picked.DataLen, 32);
}

TEST(CatalogLookup, FindsEveryEntryByItsOwnCode) {
  for (const auto& list : CatalogLists())
    for (const auto& row : list.Rows) {
      if (IsSeparatorRow(row)) continue;
      const std::string code = row.substr(0, 8);
      const uint8_t access = row[row.size() - 4] == 'R' ? 0 : 1;
      TIdentifierDlt record = Given(code, access);
      ASSERT_TRUE(LookupIdentifier(code, record)) << row;
      EXPECT_EQ(record.DI, code);
      EXPECT_EQ(record.Description, SelectRow(row, Given("", access)).Picked.Description);
      EXPECT_EQ(record.DataLen, SelectRow(row, Given("", access)).Picked.DataLen);
    }
}

TEST(CatalogLookup, WrongAccessOrUnknownCodeLeavesTheRecord) {
  TIdentifierDlt record = Given("04000C01", 1);
  ASSERT_TRUE(LookupIdentifier("04000C01", record));
  EXPECT_EQ(record.DataLen, 4);
  EXPECT_FALSE(record.Found);  // Found is the caller's to set

  for (const char* code : {"04000C01", "04FF0001", "04000c01", "0400", ""}) {
    TIdentifierDlt unchanged = Given(code, 0);
    unchanged.Description = "kept";
    unchanged.DataLen = 77;
    TIdentifierDlt copy = unchanged;
    EXPECT_FALSE(LookupIdentifier(code, copy)) << code;
    EXPECT_EQ(copy.Description, "kept");
    EXPECT_EQ(copy.DataLen, 77);
    EXPECT_EQ(copy.DI, code);
  }
  // Separator rows never match, even a code made of dashes.
  TIdentifierDlt dashes = Given("--------", 0);
  EXPECT_FALSE(LookupIdentifier("--------", dashes));
}

TEST(CatalogLookup, ManufacturerEntriesAndLoadRecordParameters) {
  for (const char* code : {"04800001", "04800002", "04800003"}) {
    TIdentifierDlt record = Given(code, 0);
    ASSERT_TRUE(LookupIdentifier(code, record)) << code;
    EXPECT_EQ(record.DI, code);
    EXPECT_EQ(record.DataLen, 32);
  }
  TIdentifierDlt record = Given("06030002", 0);
  ASSERT_TRUE(LookupIdentifier("06030002", record));
  EXPECT_TRUE(record.NeedsParam);
  EXPECT_EQ(record.ParamData, "01");
  EXPECT_EQ(record.DataLen, 1);
}
