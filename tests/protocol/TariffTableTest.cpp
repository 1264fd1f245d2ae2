// The texts of the tariff table editors: loading a handed-in text into 14 rows and building the
// text written to the meter from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "protocol/DateTime.h"
#include "protocol/TariffTable.h"

namespace {

std::string Entry(int high, int low, int number) {
  char text[40];
  std::snprintf(text, sizeof text, "%02d%02d%02d", high, low, number);
  return text;
}

std::string Repeat(const std::string& entry, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += entry;
  return text;
}

// Rows that a load must not touch are marked with this value.
constexpr TTariffRow Untouched{7, 7, 7};

TTariffRows FreshRows() {
  TTariffRows rows;
  rows.fill(Untouched);
  return rows;
}

bool Same(const TTariffRow& a, const TTariffRow& b) {
  return a.High == b.High && a.Low == b.Low && a.Number == b.Number;
}

// A valid table of 14 entries drawn at random (29 February included among the dates).
std::string RandomTable(TTariffKind kind, std::mt19937& random) {
  std::string text;
  for (int i = 0; i < TariffRowCount; ++i) {
    const int number = 1 + int(random() % unsigned(TariffNumberCount(kind)));
    if (kind == TTariffKind::Segment) {
      text += Entry(int(random() % 24), int(random() % 60), number);
    } else {
      const int month = 1 + int(random() % 12);
      text += Entry(month, 1 + int(random() % unsigned(DaysInMonth(2000, month))), number);
    }
  }
  return text;
}

}  // namespace

TEST(TariffTable, LoadingStopsAtTheFirstValueThatIsNoTimeOrDate) {
  const TTariffKind S = TTariffKind::Segment, Z = TTariffKind::Zone;
  struct TCase {
    TTariffKind Kind;
    std::string Text;
    int Loaded;
    TTariffRow First, Second;  // the first two rows afterwards
  } cases[] = {
      {S, "", 0, Untouched, Untouched},
      {S, "080001123002X", 2, {8, 0, 1}, {12, 30, 2}},         // the 13th character is ignored
      {S, "080001250003090004", 1, {8, 0, 1}, Untouched},      // hour 25 ends the loading
      {S, "0800001230640000", 2, {8, 0, 0}, {12, 30, 0}},      // numbers 00 and 64: none
      {S, "235963000001", 2, {23, 59, 63}, {0, 0, 1}},
      {S, "ABCDEF080001", 0, Untouched, Untouched},
      {Z, "022901030114", 2, {2, 29, 1}, {3, 1, 14}},          // 29 February in any year
      {Z, "010115043101", 1, {1, 1, 0}, Untouched},            // day table 15: none; 31 April ends
      {Z, "000101", 0, Untouched, Untouched},
      {Z, Repeat("1231XY", 20), 14, {12, 31, 0}, {12, 31, 0}},  // at most 14 entries
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    TTariffRows rows = FreshRows();
    EXPECT_EQ(LoadRows(c.Kind, c.Text, rows), c.Loaded);
    EXPECT_TRUE(Same(rows[0], c.First));
    EXPECT_TRUE(Same(rows[1], c.Second));
    for (int i = std::max(c.Loaded, 2); i < TariffRowCount; ++i) EXPECT_TRUE(Same(rows[i], Untouched)) << i;
  }
}

TEST(TariffTable, BuildingFillsFourteenEntriesWithRepeats) {
  const TTariffRow none{6, 30, 0};
  const std::string e1 = Entry(8, 0, 1), e2 = Entry(12, 0, 2), e3 = Entry(18, 30, 3), e5 = Entry(22, 0, 4);
  struct TCase {
    const char* What;
    std::vector<TTariffRow> Rows;  // the rest have no number
    std::string Expected;
  } cases[] = {
      {"nothing picked", {}, ""},
      {"only row 1", {{8, 0, 1}}, Repeat(e1, 14)},
      {"row 4 missing", {{8, 0, 1}, {12, 0, 2}, {18, 30, 3}, none, {22, 0, 4}},
       e1 + e2 + e3 + e3 + Repeat(e5, 10)},
      {"row 1 missing", {none, {8, 0, 1}}, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TTariffRows rows;
    rows.fill(none);
    for (size_t i = 0; i < c.Rows.size(); ++i) rows[i] = c.Rows[i];
    EXPECT_EQ(BuildTableText(TTariffKind::Segment, rows), c.Expected);
  }
}

// Every valid table comes back as it went in, 29 February included; any other text, however long
// or odd, loads without harm and builds an empty text or 14 valid entries.
TEST(TariffTable, ValidTablesRoundTripAndAnyTextBuildsAValidOne) {
  std::mt19937 random(645);
  for (TTariffKind kind : {TTariffKind::Segment, TTariffKind::Zone}) {
    for (int i = 0; i < 300; ++i) {
      const std::string text = RandomTable(kind, random);
      TTariffRows rows;
      ASSERT_EQ(LoadRows(kind, text, rows), TariffRowCount) << text;
      ASSERT_EQ(BuildTableText(kind, rows), text);
    }
    std::vector<std::string> odd = {std::string(10000, '9'), "0229", "12:30;01", std::string(6, '\0')};
    for (int i = 0; i < 300; ++i) {
      std::string text(random() % 100, ' ');
      for (char& ch : text) ch = "0123456789$x+- A\xE6"[random() % 18];
      odd.push_back(text);
    }
    for (const std::string& text : odd) {
      TTariffRows rows;
      LoadRows(kind, text, rows);
      const std::string built = BuildTableText(kind, rows);
      ASSERT_TRUE(built.empty() || built.size() == 84u) << built;
      TTariffRows again;
      if (!built.empty()) {
        ASSERT_EQ(LoadRows(kind, built, again), TariffRowCount) << built;
      }
      ASSERT_EQ(BuildTableText(kind, again), built);
    }
  }
}
