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
    if (TMeterData::ReadValue(state, facts.DI, loadRecord ? std::vector<uint8_t>{0x02} : std::vector<uint8_t>{}, data) != 0) {
      EXPECT_FALSE(facts.Read);  // only the passwords are refused
      continue;
    }
    const TReading reading = FormatReading(di, data);
    ASSERT_TRUE(reading.Ok) << reading.Text;
    ++read;
    if (loadRecord) continue;
    std::vector<uint8_t> typed;
    std::string error;
    EXPECT_TRUE(ParseReading(di, reading.Text, typed, error)) << reading.Text << ": " << error;
    EXPECT_EQ(typed, data) << reading.Text;
  }
  EXPECT_EQ(read, 154 + 25);  // the catalogue's readable entries and the further variables
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
