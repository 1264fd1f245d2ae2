// The virtual meter's values as readings: every identifier it answers reads in its layout, its
// values move over time, and readings can be set in their own form.
#include <gtest/gtest.h>

#include <cstdio>

#include "protocol/Reading.h"
#include "sim/MeterData.h"

namespace {

std::string Code(uint32_t di) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", di);
  return text;
}

std::string Reading(const TMeterState& state, const char* di) {
  std::vector<uint8_t> data;
  EXPECT_EQ(TMeterData::ReadValue(state, static_cast<uint32_t>(std::stoul(di, nullptr, 16)), {}, data), 0) << di;
  return FormatReading(di, data).Text;
}

}  // namespace

// Each value reads without complaint, and its reading typed back gives the same bytes.
TEST(MeterReading, EveryIdentifierAnswersWithAReadableValue) {
  TMeterState state;
  int read = 0;
  for (const TCatalogFacts& facts : CatalogFacts()) {
    const std::string di = Code(facts.DI);
    SCOPED_TRACE(di);
    std::vector<uint8_t> data;
    const bool loadRecord = di.rfind("06", 0) == 0;
    const uint8_t refused = TMeterData::ReadValue(state, facts.DI, loadRecord ? std::vector<uint8_t>{0x02} : std::vector<uint8_t>{}, data);
    if (refused != 0) {
      // only the passwords are refused, and power-down records of cuts that did not happen
      EXPECT_TRUE(!facts.Read || (di.rfind("031100", 0) == 0 && refused == 0x02)) << int(refused);
      continue;
    }
    const TReading reading = FormatReading(di, data);
    ASSERT_TRUE(reading.Ok) << reading.Text;
    ++read;
    const bool freezeBlock = di.compare(0, 2, "05") == 0 && di.compare(4, 2, "FF") == 0 && di.compare(2, 2, "04") != 0;
    if (loadRecord || freezeBlock) continue;  // made by the meter, never typed
    std::vector<uint8_t> typed;
    std::string error;
    EXPECT_TRUE(ParseReading(di, reading.Text, typed, error)) << reading.Text << ": " << error;
    EXPECT_EQ(typed, data) << reading.Text;
  }
  EXPECT_GT(read, 4000);  // the catalogue's readable entries and every identifier of Appendix A
}

// Beyond the catalogue the meter answers the energies, demands, variables and event counters of
// the reading table, for its four tariffs; what it does not hold it answers with 02H.
TEST(MeterReading, TheTablesIdentifiersAreAnsweredInTheirLengths) {
  TMeterState state;
  const std::pair<const char*, size_t> answered[] = {
      {"00000000", 4}, {"00150000", 4}, {"0000040C", 4}, {"01030000", 8}, {"0109010C", 8}, {"02070100", 2},
      {"02080100", 2}, {"020A0102", 2}, {"020A01FF", 42}, {"02800009", 2}, {"03050000", 6}, {"03110000", 3},
      {"03300000", 3}, {"03120000", 18}};
  for (const auto& [di, length] : answered) {
    std::vector<uint8_t> data;
    EXPECT_EQ(TMeterData::ReadValue(state, static_cast<uint32_t>(std::stoul(di, nullptr, 16)), {}, data), 0) << di;
    EXPECT_EQ(data.size(), length) << di;
  }
  EXPECT_EQ(Reading(state, "02070200"), "134.1 °");
  for (uint32_t di : {0x00010500u, 0x0001000Du, 0x020A0116u, 0x03110001u, 0x0330000Bu, 0x0506013Fu}) {
    std::vector<uint8_t> data;
    EXPECT_EQ(TMeterData::ReadValue(state, di, {}, data), 0x02) << Code(di);
  }
}

TEST(MeterReading, ValuesMoveOverTime) {
  TMeterState state;
  EXPECT_EQ(Reading(state, "00010000"), "1234.56 kWh");
  EXPECT_EQ(Reading(state, "02010100"), "220.0 V");
  state.Start -= std::chrono::hours(1);  // an hour later: 3.201 kW for an hour is 3.20 kWh more
  EXPECT_EQ(Reading(state, "00010000"), "1237.76 kWh");
  EXPECT_NE(Reading(state, "02010100"), "220.0 V");
  EXPECT_EQ(Reading(state, "00010001"), "1134.56 kWh");  // a settled period stays as it was
}

TEST(MeterReading, SetReadingsAreAnsweredAsSet) {
  TMeterState state;
  std::vector<uint8_t> data;
  std::string error;
  ASSERT_TRUE(ParseReading("02020100", "-1.234", data, error)) << error;
  EXPECT_EQ(TMeterData::SetReading(state, 0x02020100, data), 0);
  state.Start -= std::chrono::hours(1);
  EXPECT_EQ(Reading(state, "02020100"), "-1.234 A");

  ASSERT_TRUE(ParseReading("04000102", "10:15:00", data, error));
  EXPECT_EQ(TMeterData::SetReading(state, 0x04000102, data), 0);
  EXPECT_EQ(Reading(state, "04000102").substr(0, 5), "10:15");  // the clock runs on from there

  EXPECT_EQ(TMeterData::SetReading(state, 0x00010500, {0, 0, 0, 0}), 0x02);  // not known
  EXPECT_EQ(TMeterData::SetReading(state, 0x02010100, {0, 0, 0}), 0x01);     // wrong length
}

namespace {
// A YYMMDDhhmmss or YYMMDDhhmm time (wire order, `bytes` 6 or 5) as seconds since the epoch.
long long When(const std::vector<uint8_t>& d, size_t at, int bytes) {
  auto two = [&](size_t i) { return (d[at + i] >> 4) * 10 + (d[at + i] & 15); };
  std::tm t{};
  const size_t m = bytes == 6 ? 1 : 0;
  t.tm_sec = bytes == 6 ? two(0) : 0;
  t.tm_min = two(m);
  t.tm_hour = two(m + 1);
  t.tm_mday = two(m + 2);
  t.tm_mon = two(m + 3) - 1;
  t.tm_year = two(m + 4) + 100;
  t.tm_isdst = -1;
  return static_cast<long long>(std::mktime(&t));
}
}  // namespace

// A power cut adds a power-down record and bumps its count; records that did not happen are 02H.
TEST(MeterReading, APowerCutAddsItsRecordAndItsCount) {
  TMeterState state;
  std::vector<uint8_t> data;
  EXPECT_EQ(Reading(state, "03110000"), "0");
  EXPECT_EQ(TMeterData::ReadValue(state, 0x03110001, {}, data), 0x02);
  TMeterData::PowerCut(state, 90);
  EXPECT_EQ(Reading(state, "03110000"), "1");
  ASSERT_EQ(TMeterData::ReadValue(state, 0x03110001, {}, data), 0);
  ASSERT_EQ(data.size(), 12u);
  EXPECT_EQ(When(data, 6, 6) - When(data, 0, 6), 90);
  EXPECT_LE(std::llabs(When(data, 6, 6) - static_cast<long long>(std::time(nullptr))), 2);
  EXPECT_EQ(TMeterData::ReadValue(state, 0x03110002, {}, data), 0x02);
}

// Load records lie on the profile's interval and are read from a given time, never ahead of the
// clock; a freeze is taken at midnight.
TEST(MeterReading, LoadRecordsFollowTheIntervalAndAreReadByTime) {
  TMeterState state;
  state.Stored[0x04000A02] = {0x30, 0x00};  // class 1 every 30 minutes
  const long long now = static_cast<long long>(std::time(nullptr));
  std::tm t{};
  const std::time_t earlier = static_cast<std::time_t>(now - 3 * 3600);
  localtime_r(&earlier, &t);
  auto bcd = [](int v) { return static_cast<uint8_t>(v / 10 * 16 + v % 10); };
  const std::vector<uint8_t> params = {0x02, bcd(t.tm_min), bcd(t.tm_hour), bcd(t.tm_mday), bcd(t.tm_mon + 1), bcd(t.tm_year % 100)};
  std::vector<uint8_t> data;
  ASSERT_EQ(TMeterData::ReadValue(state, 0x06010001, params, data), 0);
  const TReading reading = FormatReading("06010001", data);
  ASSERT_TRUE(reading.Ok) << reading.Text;
  ASSERT_EQ(data.size(), 2u * (3 + 5 + 17 + 6 + 3));  // two blocks of class 1
  const long long first = When(data, 3, 5), second = When(data, 34 + 3, 5);
  EXPECT_EQ(second - first, 1800);
  EXPECT_EQ(first % 1800, 0);
  EXPECT_GE(first, now - 3 * 3600 - 59);
  const std::time_t later = static_cast<std::time_t>(now + 3600);
  localtime_r(&later, &t);
  const std::vector<uint8_t> ahead = {0x01, bcd(t.tm_min), bcd(t.tm_hour), bcd(t.tm_mday), bcd(t.tm_mon + 1), bcd(t.tm_year % 100)};
  EXPECT_EQ(TMeterData::ReadValue(state, 0x06010001, ahead, data), 0x02);
  ASSERT_EQ(TMeterData::ReadValue(state, 0x05060001, {}, data), 0);
  EXPECT_EQ(Reading(state, "05060001").substr(10), " 00:00");
}

// A freeze data block holds what its items hold: read item by item, the same entries.
TEST(MeterReading, AFreezeBlockHoldsItsItems) {
  TMeterState state;
  std::vector<uint8_t> data;
  ASSERT_EQ(TMeterData::ReadValue(state, 0x0506FF02, {}, data), 0);
  const TReading block = FormatReading("0506FF02", data);
  ASSERT_TRUE(block.Ok) << block.Text;
  std::vector<std::string> items;
  for (const char* di : {"05060002", "05060102", "05060202", "05060302", "05060402", "05060502", "05060602",
                         "05060702", "05060802", "05060902", "05060A02", "05061002"}) {
    ASSERT_EQ(TMeterData::ReadValue(state, static_cast<uint32_t>(std::stoul(di, nullptr, 16)), {}, data), 0) << di;
    for (const TReadingEntry& e : FormatReading(di, data).Entries) items.push_back(e.Text);
  }
  std::vector<std::string> entries;
  for (const TReadingEntry& e : block.Entries) entries.push_back(e.Text);
  EXPECT_EQ(entries, items);
}
