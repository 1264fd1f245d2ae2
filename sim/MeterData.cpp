// Values of the virtual meter's data identifiers. The identifiers and their lengths come from the
// workbench's own catalogue, so every row the picker offers can be read from the virtual meter.
#include "sim/MeterData.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "protocol/Catalog.h"
#include "protocol/Reading.h"

namespace {

bool ParseHex32(const std::string& text, uint32_t& value) {
  if (text.size() != 8) return false;
  value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else return false;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return true;
}

// The variables a meter measures beyond the catalogue's, each with a layout in the reading table.
const uint32_t kFurtherVariables[] = {
    0x0201FF00, 0x0202FF00,
    0x02030000, 0x02030100, 0x02030200, 0x02030300, 0x0203FF00,
    0x02040000, 0x02040100, 0x02040200, 0x02040300, 0x0204FF00,
    0x02050000, 0x02050100, 0x02050200, 0x02050300, 0x0205FF00,
    0x02060100, 0x02060200, 0x02060300, 0x0206FF00,
    0x02800001, 0x02800002, 0x02800007, 0x02800008,
};

std::string DIText(uint32_t di) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", di);
  return text;
}

// Whether the meter answers `di` of a row of the reading table beyond the catalogue: every
// identifier of Appendix A, energy and demand for its four tariffs.
bool AnswersFromTable(const std::string& di) {
  if (di[0] != '0' || di[1] > '6') return false;
  const bool tariffs = di[1] <= '1';  // energy and demand: DI1 is the tariff
  return !tariffs || di.compare(4, 2, "FF") == 0 || di.compare(4, 2, "04") <= 0;
}

void AddTableFacts(std::vector<TCatalogFacts>& facts) {
  for (const TReadingFormat& row : ReadingFormats()) {
    for (const std::string& di : RowIdentifiers(row)) {
      if (!AnswersFromTable(di)) continue;
      TCatalogFacts f;
      ParseHex32(di, f.DI);
      f.Len = ReadingLength(di);
      f.Variable = f.Len == 0;
      f.Read = std::strstr(row.Access, "读") != nullptr;
      f.Write = std::strstr(row.Access, "写") != nullptr;
      facts.push_back(f);
    }
  }
}

std::vector<TCatalogFacts> BuildCatalogFacts() {
  std::vector<TCatalogFacts> facts;
  for (uint32_t di : kFurtherVariables) {
    TCatalogFacts f;
    f.DI = di;
    f.Len = ReadingLength(DIText(di));
    f.Variable = (di & 0x0000FF00u) == 0x0000FF00u;
    f.Read = true;
    facts.push_back(f);
  }
  for (const TCatalogList& list : CatalogLists()) {
    for (const std::string& row : list.Rows) {
      if (IsSeparatorRow(row) || row.size() < 13) continue;
      TCatalogFacts f;
      if (!ParseHex32(row.substr(0, 8), f.DI)) continue;
      TIdentifierDlt record;
      record.Access = 3;  // any access: only the length is wanted here
      if (!LookupIdentifier(row.substr(0, 8), record)) continue;
      f.Len = record.DataLen;
      f.Variable = row.back() == 'x';
      f.Read = RowAllowsRead(row);
      f.Write = RowAllowsWrite(row);
      facts.push_back(f);
    }
  }
  AddTableFacts(facts);  // after the catalogue's rows: where both know an identifier, the catalogue's
  std::stable_sort(facts.begin(), facts.end(),
                   [](const TCatalogFacts& a, const TCatalogFacts& b) { return a.DI < b.DI; });
  facts.erase(std::unique(facts.begin(), facts.end(),
                          [](const TCatalogFacts& a, const TCatalogFacts& b) { return a.DI == b.DI; }),
              facts.end());
  return facts;
}

uint8_t Byte(uint32_t di, int index) { return static_cast<uint8_t>(di >> (8 * index)); }

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& part) {
  out.insert(out.end(), part.begin(), part.end());
}

// An ASCII text as the meter sends it: padded with zero bytes to `len`, then in wire order (the
// last character first), so that the value read most significant byte first shows the text.
std::vector<uint8_t> AsciiValue(const std::string& text, int len) {
  std::vector<uint8_t> value(static_cast<size_t>(len), 0);
  for (size_t i = 0; i < text.size() && i < value.size(); ++i) value[i] = static_cast<uint8_t>(text[i]);
  std::reverse(value.begin(), value.end());
  return value;
}

// BCD of the date-time parts in wire order, e.g. {minute, hour, day, month, year}.
std::vector<uint8_t> BcdParts(std::initializer_list<int> parts) {
  std::vector<uint8_t> out;
  for (int p : parts) out.push_back(TMeterData::Bcd(static_cast<unsigned long long>(p), 1)[0]);
  return out;
}

double Seconds(const TMeterState& state) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - state.Start).count();
}

// BCD of a measured value in units of its last decimal, with the sign bit for negative values.
std::vector<uint8_t> Measured(double value, double scale, int bytes) {
  const long long units = std::llround(std::fabs(value) * scale);
  std::vector<uint8_t> out = TMeterData::Bcd(static_cast<unsigned long long>(units), bytes);
  if (value < 0 && units > 0) out.back() |= 0x80;
  return out;
}

// What the meter measures at `t` seconds: per phase k (1..3) a voltage, a current and a power
// factor that start at the values of a balanced load and drift slowly (flat at the start).
double Drift(double t, double period) { return 1 - std::cos(t / period); }  // 0 .. 2
double Volts(double t, int k) {
  static const double base[] = {220.0, 220.0, 219.8, 220.3};
  return base[std::clamp(k, 0, 3)] + 1.5 * Drift(t, 6 + k);
}
double Amps(double t, int k) {
  static const double base[] = {5.0, 5.0, 4.98, 5.02};
  return base[std::clamp(k, 0, 3)] + 0.25 * Drift(t, 10 + k);
}
double Factor(double t, int k) { return 0.97 - 0.02 * Drift(t, 16 + k); }
constexpr double kMeanPowerKw = 3 * 220.0 * 5.0 * 0.97 / 1000;  // energy counts up at this rate

// Instantaneous power of phase k (0: the sum of the three): 1 active kW, 2 reactive kvar,
// 3 apparent kVA.
double Power(double t, int kind, int k) {
  if (k == 0) return Power(t, kind, 1) + Power(t, kind, 2) + Power(t, kind, 3);
  const double va = Volts(t, k) * Amps(t, k) / 1000, pf = Factor(t, k);
  return kind == 1 ? va * pf : kind == 2 ? va * std::sqrt(1 - pf * pf) : va;
}

// Energy in 0.01 kWh of a type (1 forward, 2 reverse active), tariff (0 total) and settlement
// period; `backSec` seconds ago (frozen values) the meter had counted 5 kWh less for each whole
// day back, so that a frozen value stays as it is while the clock runs on.
unsigned long long EnergyUnits(const TMeterState& state, int type, int tariff, int period, double backSec = 0) {
  long long total = 0;
  if (type == 1) total = 123456 - 10000LL * std::min(period, 12);
  if (type == 1 && period == 0) total += static_cast<long long>(kMeanPowerKw * Seconds(state) / 36);  // 0.01 kWh
  else if (type == 2) total = 1234 - 100LL * std::min(period, 12);
  total = std::max(0LL, total - static_cast<long long>(backSec / 86400) * (type == 1 ? 500 : 5));
  const unsigned long long sum = static_cast<unsigned long long>(total);
  unsigned long long parts[5] = {sum, sum * 10 / 100, sum * 30 / 100, sum * 35 / 100, 0};
  parts[4] = sum - parts[1] - parts[2] - parts[3];
  return state.EnergyCleared || tariff > 4 ? 0 : parts[tariff];
}

// Energy in 0.01 kWh: 00DI2 DI1 DI0 = type, tariff, settlement period.
std::vector<uint8_t> EnergyValue(const TMeterState& state, uint32_t di) {
  return TMeterData::Bcd(EnergyUnits(state, Byte(di, 2), Byte(di, 1), Byte(di, 0)), 4);
}

// Maximum demand (XX.XXXX kW) and the time it occurred (YYMMDDhhmm).
std::vector<uint8_t> DemandValue(const TMeterState& state, uint32_t di) {
  int type = Byte(di, 2), tariff = Byte(di, 1), period = Byte(di, 0);
  if (state.DemandCleared) return std::vector<uint8_t>(8, 0);
  long long value = type == 1 ? 12345 - 1000LL * std::min(tariff, 4) - 500LL * std::min(period, 12)
                              : 123 - 10LL * std::min(tariff, 4);
  std::tm now = TMeterData::MeterTime(state);
  int month = now.tm_mon + 1 - std::min(period, 12), year = now.tm_year + 1900;
  while (month < 1) {
    month += 12;
    --year;
  }
  std::vector<uint8_t> out = TMeterData::Bcd(static_cast<unsigned long long>(std::max(0LL, value)), 3);
  Append(out, BcdParts({15, 10, 1 + std::min(tariff, 4), month, year % 100}));
  return out;
}

// Event counts and accumulated minutes, phases A, B, C.
std::vector<uint8_t> EventValue(const TMeterState& state, uint32_t di) {
  std::vector<uint8_t> out;
  int kind = Byte(di, 2);
  int counts[3] = {kind % 5 + 1, kind % 3, 0};
  if (kind == 0x11) counts[0] = static_cast<int>(state.PowerCuts.size());  // power down: as they happened
  for (int count : counts) {
    if (state.EventsCleared) count = 0;
    Append(out, TMeterData::Bcd(static_cast<unsigned long long>(count), 3));
    Append(out, TMeterData::Bcd(static_cast<unsigned long long>(count) * 25, 3));
  }
  return out;
}

std::vector<uint8_t> VariableValue(const TMeterState& state, uint32_t di, int len) {
  const double t = Seconds(state);
  const int kind = Byte(di, 2), k = Byte(di, 1);
  switch (di & 0xFFFF00FFu) {
    case 0x02010000: return Measured(Volts(t, k), 10, 2);
    case 0x02020000: return Measured(Amps(t, k), 1000, 3);
    case 0x02030000:
    case 0x02040000:
    case 0x02050000: return Measured(Power(t, kind - 2, k), 10000, 3);
    case 0x02060000:
      return Measured(k ? Factor(t, k) : Power(t, 1, 0) / Power(t, 3, 0), 1000, 2);
    case 0x02070000: return Measured(120.0 * (k - 1) + 14.1, 10, 2);  // phase angles
    case 0x02080000: return Measured(1.2 + 0.1 * k, 100, 2);          // distortion, %
    case 0x02090000: return Measured(2.5 + 0.1 * k, 100, 2);
    default: break;
  }
  if (kind == 0x0A || kind == 0x0B) {  // harmonic content of order DI0 (FF: orders 1 to 21)
    std::vector<uint8_t> out;
    for (int order = 1; order <= 21; ++order)
      if (Byte(di, 0) == 0xFF || Byte(di, 0) == order) Append(out, Measured(order == 1 ? 99.0 : 3.0 / order, 100, 2));
    return out;
  }
  switch (di) {
    case 0x02800001: return Measured(0.05 + 0.01 * Drift(t, 3), 1000, 3);  // neutral current
    case 0x02800002: return Measured(50.0 - 0.02 * Drift(t, 5), 100, 2);   // grid frequency
    case 0x02800007: return Measured(25.0 + 0.5 * Drift(t, 60), 10, 2);    // temperature
    case 0x02800003: return Measured(Power(t, 1, 0), 10000, 3);               // one-minute mean
    case 0x02800004: return Measured(Power(t, 1, 0), 10000, 3);               // current demands
    case 0x02800005: return Measured(Power(t, 2, 0), 10000, 3);
    case 0x02800006: return Measured(Power(t, 3, 0), 10000, 3);
    case 0x02800008: return Measured(3.6, 100, 2);                             // clock battery
    case 0x02800009: return Measured(3.55, 100, 2);                            // reading battery
    case 0x0280000A: return TMeterData::Bcd(12345 + static_cast<unsigned long long>(t / 60), 4);  // minutes
    default: return std::vector<uint8_t>(static_cast<size_t>(len), 0);
  }
}

// A tariff table of 14 groups of 3 bytes; display order of a group is MMDDNN or hhmmNN.
std::vector<uint8_t> TableValue(uint32_t di) {
  static const int zones[][3] = {{1, 1, 1}, {5, 1, 2}, {10, 1, 1}};
  static const int segments[][3] = {{0, 0, 4}, {8, 0, 2}, {11, 0, 1}, {13, 0, 2}, {18, 0, 1}, {21, 0, 3}};
  bool zone = Byte(di, 0) == 0;
  int count = zone ? 3 : 6;
  std::vector<uint8_t> out;
  for (int i = 0; i < 14; ++i) {
    const int* g = zone ? zones[std::min(i, count - 1)] : segments[std::min(i, count - 1)];
    Append(out, BcdParts({g[2], g[1], g[0]}));  // NN first on the wire
  }
  return out;
}

std::vector<uint8_t> ParameterValue(const TMeterState& state, uint32_t di, int len) {
  std::tm now = TMeterData::MeterTime(state);
  switch (di) {
    case 0x04000101: return BcdParts({now.tm_wday, now.tm_mday, now.tm_mon + 1, now.tm_year % 100});
    case 0x04000102: return BcdParts({now.tm_sec, now.tm_min, now.tm_hour});
    case 0x04000103: return TMeterData::Bcd(15, 1);
    case 0x04000104: return TMeterData::Bcd(1, 1);
    case 0x04000105: return TMeterData::Bcd(80, 2);
    case 0x04000106:
    case 0x04000107: return BcdParts({0, 0, 1, 1, 25});
    case 0x04000201: return TMeterData::Bcd(3, 1);
    case 0x04000202: return TMeterData::Bcd(2, 1);
    case 0x04000203: return TMeterData::Bcd(6, 1);
    case 0x04000204: return TMeterData::Bcd(4, 1);
    case 0x04000206: return TMeterData::Bcd(21, 1);
    case 0x04000301:
    case 0x04000302: return TMeterData::Bcd(5, 1);
    case 0x04000303: return TMeterData::Bcd(2, 1);
    case 0x04000304: return TMeterData::Bcd(4, 1);
    case 0x04000305: return TMeterData::Bcd(10, 1);
    case 0x04000401:
    case 0x04000402: return TMeterData::AddressBytes(state.Address);
    case 0x04000403: return AsciiValue("VM-" + state.Address, len);
    case 0x04000404: return AsciiValue("220V", len);
    case 0x04000405: return AsciiValue("1.5A", len);
    case 0x04000406: return AsciiValue("6A", len);
    case 0x04000407: return AsciiValue("1.0", len);
    case 0x04000408: return AsciiValue("2.0", len);
    case 0x04000409:
    case 0x0400040A: return TMeterData::Bcd(1200, 3);
    case 0x0400040B: return AsciiValue("DDZY-VM", len);
    case 0x0400040C: return AsciiValue("2024-01-15", len);
    case 0x0400040D: return AsciiValue("DL/T645-2007", len);
    case 0x04000601: return TMeterData::Bcd(5, 1);
    case 0x04000602: return {0x41};
    case 0x04000603: return {0x14};
    case 0x04000701:
    case 0x04000702: return {0x04};
    case 0x04000703: return {state.BaudCode};
    case 0x04000704:
    case 0x04000705: return {0x08};
    case 0x04000801: return {0x7F};
    case 0x04000802: return TMeterData::Bcd(1, 1);
    case 0x04000901: return {0x0F};
    case 0x04000902: return {0x01};
    case 0x04000A01: return BcdParts({0, 0, 1, 1});
    case 0x04000A02: return TMeterData::Bcd(15, 2);
    case 0x04000B01: return BcdParts({0, 1});
    case 0x04000B02:
    case 0x04000B03: return {0x99, 0x99};
    case 0x04000E01:
    case 0x04000E02: return TMeterData::Bcd(100000, 3);  // 10.0000 kW
    case 0x04000E03: return TMeterData::Bcd(2640, 2);    // 264.0 V
    case 0x04000E04: return TMeterData::Bcd(1540, 2);
    case 0x04800001: return AsciiValue("VM-SOFT-V1.0", len);
    case 0x04800002: return AsciiValue("VM-HARD-V1.0", len);
    case 0x04800003: return AsciiValue("DLT645-WORKBENCH", len);
    default: break;
  }
  if ((di & 0xFFFF0000u) == 0x04010000u || (di & 0xFFFF0000u) == 0x04020000u) return TableValue(di);
  return std::vector<uint8_t>(static_cast<size_t>(len), 0);
}

std::tm LocalTime(long long when) {
  const std::time_t t = static_cast<std::time_t>(when);
  std::tm out{};
  localtime_r(&t, &out);
  return out;
}

long long MeterNow(const TMeterState& state) {
  return static_cast<long long>(std::time(nullptr)) + state.ClockOffsetSec;
}

std::vector<uint8_t> DateTimeSec(long long when) {
  const std::tm t = LocalTime(when);
  return BcdParts({t.tm_sec, t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon + 1, t.tm_year % 100});
}

std::vector<uint8_t> DateTimeMin(long long when) {
  const std::tm t = LocalTime(when);
  return BcdParts({t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon + 1, t.tm_year % 100});
}

// A field of a record the meter made up: times `when` (each time field five minutes after the
// one before), small numbers, the operator code 12345678 and unused identifiers FFFFFFFF, empty
// tables and texts.
void SampleField(const TLayoutField& f, long long when, int& hexFields, std::vector<uint8_t>& out) {
  const std::tm t = LocalTime(when + 300LL * f.Group);
  if (f.Kind == "number") {
    const unsigned long long limit = f.Bytes == 1 ? 10 : 10000;
    Append(out, TMeterData::Bcd((100 + 37ULL * static_cast<unsigned>(f.Group)) % limit, f.Bytes));
  } else if (f.Kind == "YYMMDDhhmmss") {
    Append(out, DateTimeSec(when + 300LL * f.Group));
  } else if (f.Kind == "YYMMDDhhmm") {
    Append(out, DateTimeMin(when + 300LL * f.Group));
  } else if (f.Kind == "MMDDhhmm") {
    Append(out, BcdParts({t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon + 1}));
  } else if (f.Kind == "hhmmss") {
    Append(out, BcdParts({t.tm_sec, t.tm_min, t.tm_hour}));
  } else if (f.Kind == "YYMMDDWW") {
    Append(out, BcdParts({t.tm_wday, t.tm_mday, t.tm_mon + 1, t.tm_year % 100}));
  } else if (f.Kind == "DDhh") {
    Append(out, BcdParts({0, 1}));  // the 1st at 00 h
  } else if (f.Kind == "HEX") {
    if (hexFields++ == 0 && f.Bytes == 4) Append(out, {0x78, 0x56, 0x34, 0x12});
    else out.insert(out.end(), static_cast<size_t>(f.Bytes), 0xFF);
  } else {
    out.insert(out.end(), static_cast<size_t>(f.Bytes), 0);  // tables and holidays unused, no bit set
  }
}

bool IsRecord(uint32_t di) {
  const TReadingFormat* row = FindReadingFormat(DIText(di));
  return row && *row->Fields;
}

// The n-th last record of an event: a power-down record as it happened, others made up a day
// apart. 02H for a power-down record that did not happen and for all after events were cleared.
uint8_t EventRecord(const TMeterState& state, uint32_t di, std::vector<uint8_t>& out) {
  const size_t n = Byte(di, 0);
  if (state.EventsCleared) return meNoData;
  if ((di & 0xFFFFFF00u) == 0x03110000u) {
    if (n == 0 || n > state.PowerCuts.size()) return meNoData;
    const auto& [down, back] = state.PowerCuts[state.PowerCuts.size() - n];
    out = DateTimeSec(down);
    Append(out, DateTimeSec(back));
    return 0;
  }
  int hexFields = 0;
  // at 10:15:00, n days before today: the same at every read of the day (follow-up frames read again)
  std::tm day = LocalTime(MeterNow(state));
  day.tm_hour = 10;
  day.tm_min = 15;
  day.tm_sec = 0;
  day.tm_mday -= static_cast<int>(n);
  day.tm_isdst = -1;
  const long long when = static_cast<long long>(std::mktime(&day));
  for (const TLayoutField& f : LayoutFields(DIText(di))) SampleField(f, when, hexFields, out);
  return 0;
}

// When the n-th last freeze of kind DI2 was taken: the timed and the daily freeze at midnight,
// the hourly one on the hour, the instant one n hours ago, the switch-overs on New Year's day.
long long FreezeTime(const TMeterState& state, int kind, int n) {
  const long long now = MeterNow(state);
  std::tm t = LocalTime(now);
  t.tm_sec = 0;
  if (kind == 0x01) return now - 3600LL * n - t.tm_sec;
  t.tm_min = 0;
  if (kind == 0x04) t.tm_hour -= n - 1;
  else t.tm_hour = 0;
  if (kind == 0x00 || kind == 0x06) t.tm_mday -= n - 1;
  if (kind == 0x02 || kind == 0x03) {
    t.tm_mday = 1;
    t.tm_mon = 0;
    t.tm_year -= n - 1;
  }
  t.tm_isdst = -1;
  return static_cast<long long>(std::mktime(&t));
}

// One item of a freeze (05 DI2 DI1 DI0, DI0 the n-th last): its time, energies and demands of
// total and four tariffs, the powers; DI1 FF all of them one after the other.
std::vector<uint8_t> FreezeItem(const TMeterState& state, int kind, int item, int n) {
  const long long when = FreezeTime(state, kind, n);
  const double back = static_cast<double>(MeterNow(state) - when);
  std::vector<uint8_t> out;
  if (item == 0x00) return DateTimeMin(when);
  if (item >= 0x01 && item <= 0x08) {
    for (int tariff = 0; tariff <= (kind == 0x04 ? 0 : 4); ++tariff)
      Append(out, TMeterData::Bcd(EnergyUnits(state, item, tariff, 0, back), 4));
  } else if (item == 0x09 || item == 0x0A) {
    for (int tariff = 0; tariff <= 4; ++tariff)
      Append(out, DemandValue(state, 0x01000000u | static_cast<uint32_t>(item - 8) << 16 | static_cast<uint32_t>(tariff) << 8));
  } else if (item == 0x10) {
    const double t = static_cast<double>(when % 86400);  // measured then: the same at every read
    for (int kindOfPower : {1, 2})
      for (int k = 0; k <= 3; ++k) Append(out, Measured(Power(t, kindOfPower, k), 10000, 3));
  }
  return out;
}

std::vector<uint8_t> FreezeValue(const TMeterState& state, uint32_t di) {
  const int kind = Byte(di, 2), item = Byte(di, 1), n = Byte(di, 0);
  if (item != 0xFF) return FreezeItem(state, kind, item, n);
  std::vector<uint8_t> out;
  const std::vector<int> items = kind == 0x04 ? std::vector<int>{0x00, 0x01, 0x02}
                                              : std::vector<int>{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                                                 0x08, 0x09, 0x0A, 0x10};
  for (int i : items) Append(out, FreezeItem(state, kind, i, n));
  return out;
}

// One load record block: A0 A0, length, time YYMMDDhhmm, six sections each closed by AAH
// (voltage/current/frequency, power, power factor, energy, quadrant energy, demand; a class
// other than 0 carries only its own section), checksum, E5 E5. The values are those the meter
// measured at that time.
std::vector<uint8_t> LoadBlock(const TMeterState& state, int cls, long long when) {
  const double t = static_cast<double>(when % 86400);  // measured then: the same at every read
  const double back = static_cast<double>(MeterNow(state) - when);
  std::vector<uint8_t> sections[6];
  for (int k = 1; k <= 3; ++k) Append(sections[0], Measured(Volts(t, k), 10, 2));
  for (int k = 1; k <= 3; ++k) Append(sections[0], Measured(Amps(t, k), 1000, 3));
  Append(sections[0], Measured(50.0 - 0.02 * Drift(t, 5), 100, 2));
  for (int kind : {1, 2})
    for (int k = 0; k <= 3; ++k) Append(sections[1], Measured(Power(t, kind, k), 10000, 3));
  Append(sections[2], Measured(Power(t, 1, 0) / Power(t, 3, 0), 1000, 2));
  for (int k = 1; k <= 3; ++k) Append(sections[2], Measured(Factor(t, k), 1000, 2));
  for (int type : {1, 2, 3, 4}) Append(sections[3], TMeterData::Bcd(EnergyUnits(state, type, 0, 0, back), 4));
  for (int type : {5, 6, 7, 8}) Append(sections[4], TMeterData::Bcd(EnergyUnits(state, type, 0, 0, back), 4));
  Append(sections[5], Measured(Power(t, 1, 0), 10000, 3));
  Append(sections[5], Measured(Power(t, 2, 0), 10000, 3));

  std::vector<uint8_t> body = DateTimeMin(when);
  for (int i = 0; i < 6; ++i) {
    if (cls == 0 || cls == i + 1) Append(body, sections[i]);
    body.push_back(0xAA);
  }
  std::vector<uint8_t> block = {0xA0, 0xA0, static_cast<uint8_t>(body.size())};
  Append(block, body);
  uint8_t sum = 0;
  for (uint8_t b : block) sum = static_cast<uint8_t>(sum + b);
  block.push_back(sum);
  block.push_back(0xE5);
  block.push_back(0xE5);
  return block;
}

// The profile's interval of class `cls` (04000A02..07, class 0 that of class 1) in seconds.
long long LoadInterval(const TMeterState& state, int cls) {
  const uint32_t di = 0x04000A02u + static_cast<uint32_t>(std::max(cls, 1) - 1);
  unsigned long long minutes = 15;
  auto stored = state.Stored.find(di);
  if (stored != state.Stored.end() && stored->second.size() == 2)
    TMeterData::FromBcd(stored->second.data(), 2, minutes);
  return 60LL * static_cast<long long>(std::max(1ULL, minutes));
}

// The given time of a read from a given time (mm hh DD MM YY after the count), or -1.
long long GivenTime(const std::vector<uint8_t>& params) {
  int parts[5];
  for (int i = 0; i < 5; ++i) {
    unsigned long long v = 0;
    if (params.size() < 6 || !TMeterData::FromBcd(&params[static_cast<size_t>(i) + 1], 1, v)) return -1;
    parts[i] = static_cast<int>(v);
  }
  if (parts[0] > 59 || parts[1] > 23 || parts[2] < 1 || parts[2] > 31 || parts[3] < 1 || parts[3] > 12) return -1;
  std::tm t{};
  t.tm_min = parts[0];
  t.tm_hour = parts[1];
  t.tm_mday = parts[2];
  t.tm_mon = parts[3] - 1;
  t.tm_year = parts[4] + 100;
  t.tm_isdst = -1;
  return static_cast<long long>(std::mktime(&t));
}

// 06 DI2 00 DI0: class DI2; DI0 00 the earliest (the meter records since midnight), 01 from a
// given time, 02 the most recent, going back. The read parameter starts with the number of
// blocks (BCD, at most 4 a reply); points lie on the profile's interval and never in the future.
uint8_t LoadRecords(const TMeterState& state, uint32_t di, const std::vector<uint8_t>& params,
                    std::vector<uint8_t>& out) {
  unsigned long long count = 1;
  if (!params.empty() && (!TMeterData::FromBcd(params.data(), 1, count) || count == 0)) count = 1;
  count = std::min(count, 4ULL);
  const int cls = Byte(di, 2), mode = Byte(di, 0);
  const long long step = LoadInterval(state, cls), now = MeterNow(state);
  const long long latest = now - now % step;
  std::tm midnight = LocalTime(now);
  midnight.tm_hour = midnight.tm_min = midnight.tm_sec = 0;
  midnight.tm_isdst = -1;
  long long first = mode == 2 ? latest : static_cast<long long>(std::mktime(&midnight));
  if (mode == 1 && params.size() > 1) {  // without a time: from the earliest, as 00 reads
    first = GivenTime(params);
    if (first < 0) return meOther;
    first += (step - first % step) % step;  // the first point at or after the given time
  }
  for (unsigned long long i = 0; i < count; ++i) {
    const long long when = first + static_cast<long long>(i) * (mode == 2 ? -step : step);
    if (when > latest) break;
    Append(out, LoadBlock(state, cls, when));
  }
  return out.empty() ? meNoData : 0;
}

bool ValidDate(int year, int month, int day) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= days[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Moves the meter clock so that it reads `target` now.
void SetMeterTime(TMeterState& state, std::tm target) {
  target.tm_isdst = -1;
  std::time_t wanted = std::mktime(&target);
  state.ClockOffsetSec = static_cast<long long>(wanted) - static_cast<long long>(std::time(nullptr));
}

bool BcdByte(uint8_t byte, int& value) {
  unsigned long long v;
  if (!TMeterData::FromBcd(&byte, 1, v)) return false;
  value = static_cast<int>(v);
  return true;
}

}  // namespace

const std::vector<TCatalogFacts>& CatalogFacts() {
  static const std::vector<TCatalogFacts> facts = BuildCatalogFacts();
  return facts;
}

const TCatalogFacts* FindCatalogFacts(uint32_t di) {
  const std::vector<TCatalogFacts>& facts = CatalogFacts();
  auto it = std::lower_bound(facts.begin(), facts.end(), di,
                             [](const TCatalogFacts& f, uint32_t value) { return f.DI < value; });
  return it != facts.end() && it->DI == di ? &*it : nullptr;
}

std::tm TMeterData::MeterTime(const TMeterState& state) {
  std::time_t t = std::time(nullptr) + static_cast<std::time_t>(state.ClockOffsetSec);
  std::tm out{};
  localtime_r(&t, &out);
  return out;
}

uint8_t TMeterData::ReadValue(const TMeterState& state, uint32_t di, const std::vector<uint8_t>& params,
                              std::vector<uint8_t>& out) {
  out.clear();
  const TCatalogFacts* facts = FindCatalogFacts(di);
  if (!facts) return meNoData;
  if (!facts->Read) return mePassword;  // passwords are never disclosed
  auto stored = state.Stored.find(di);
  if (stored != state.Stored.end()) {
    out = stored->second;
    return 0;
  }
  if (Byte(di, 3) == 0x05) {
    out = FreezeValue(state, di);
    return 0;
  }
  if (Byte(di, 3) == 0x06) return LoadRecords(state, di, params, out);
  if (Byte(di, 3) == 0x03 && IsRecord(di)) return EventRecord(state, di, out);
  if (facts->Variable) {
    // A data block: every listed item with the same DI3, DI2 and DI0, in order.
    for (const TCatalogFacts& item : CatalogFacts()) {
      if (item.Variable || (item.DI & 0xFFFF00FFu) != (di & 0xFFFF00FFu)) continue;
      std::vector<uint8_t> part;
      if (ReadValue(state, item.DI, params, part) == 0) Append(out, part);
    }
    return out.empty() ? meNoData : 0;
  }
  switch (Byte(di, 3)) {
    case 0x00: out = EnergyValue(state, di); break;
    case 0x01: out = DemandValue(state, di); break;
    case 0x02: out = VariableValue(state, di, facts->Len); break;
    case 0x03: out = EventValue(state, di); break;
    case 0x04: out = ParameterValue(state, di, facts->Len); break;
    default: out.assign(static_cast<size_t>(facts->Len), 0); break;
  }
  out.resize(static_cast<size_t>(facts->Len), 0);  // the catalogue's length is the contract
  return 0;
}

uint8_t TMeterData::WriteValue(TMeterState& state, uint32_t di, const std::vector<uint8_t>& data) {
  const TCatalogFacts* facts = FindCatalogFacts(di);
  if (!facts) return meNoData;
  if (!facts->Write || facts->Variable || static_cast<int>(data.size()) != facts->Len) return meOther;
  int a = 0, b = 0, c = 0, d = 0;
  switch (di) {
    case 0x04000101: {  // WW DD MM YY
      if (!BcdByte(data[1], b) || !BcdByte(data[2], c) || !BcdByte(data[3], d) || !ValidDate(2000 + d, c, b))
        return meOther;
      std::tm t = MeterTime(state);
      t.tm_mday = b;
      t.tm_mon = c - 1;
      t.tm_year = d + 100;
      SetMeterTime(state, t);
      return 0;
    }
    case 0x04000102: {  // ss mm hh
      if (!BcdByte(data[0], a) || !BcdByte(data[1], b) || !BcdByte(data[2], c) || a > 59 || b > 59 || c > 23)
        return meOther;
      std::tm t = MeterTime(state);
      t.tm_sec = a;
      t.tm_min = b;
      t.tm_hour = c;
      SetMeterTime(state, t);
      return 0;
    }
    case 0x04000201:
      if (!BcdByte(data[0], a)) return meOther;
      if (a > 14) return meZones;
      break;
    case 0x04000203:
      if (!BcdByte(data[0], a)) return meOther;
      if (a > 14) return meSegments;
      break;
    case 0x04000204:
      if (!BcdByte(data[0], a)) return meOther;
      if (a > 4) return meTariffs;  // this meter has four tariffs
      break;
    case 0x04000401: {
      std::string address = AddressText(data.data());
      if (!IsBcdAddress(address)) return meOther;
      state.Address = address;
      return 0;
    }
    case 0x04000703:
      if (data[0] != 0x02 && data[0] != 0x04 && data[0] != 0x08 && data[0] != 0x10 && data[0] != 0x20 &&
          data[0] != 0x40)
        return meBaud;
      state.BaudCode = data[0];
      return 0;
    default: break;
  }
  if ((di & 0xFFFFFF00u) == 0x04000C00u) {  // a password
    static const char* hex = "0123456789ABCDEF";
    std::string text;
    for (int i = 3; i >= 0; --i) {
      text += hex[data[static_cast<size_t>(i)] >> 4];
      text += hex[data[static_cast<size_t>(i)] & 15];
    }
    state.Password = text;
    return 0;
  }
  if (((di & 0xFFFF0000u) == 0x04010000u || (di & 0xFFFF0000u) == 0x04020000u) && Byte(di, 0) != 0) {
    // A day time-segment table: groups NN mm hh; NN is the tariff.
    for (size_t i = 0; i + 2 < data.size(); i += 3) {
      if (!BcdByte(data[i], a)) return meOther;
      if (a > 4) return meTariffs;
    }
  }
  state.Stored[di] = data;
  return 0;
}

uint8_t TMeterData::SetReading(TMeterState& state, uint32_t di, const std::vector<uint8_t>& data) {
  const TCatalogFacts* facts = FindCatalogFacts(di);
  if (!facts) return meNoData;
  if (!facts->Variable && static_cast<int>(data.size()) != facts->Len) return meOther;
  if (di == 0x04000101 || di == 0x04000102 || di == 0x04000401) return WriteValue(state, di, data);
  state.Stored[di] = data;
  return 0;
}

void TMeterData::PowerCut(TMeterState& state, int seconds) {
  const long long back = MeterNow(state);
  state.PowerCuts.emplace_back(back - seconds, back);
}

bool TMeterData::SetClock(TMeterState& state, const std::vector<uint8_t>& v) {
  if (v.size() < 6) return false;
  int s, mi, h, d, mo, y;
  if (!BcdByte(v[0], s) || !BcdByte(v[1], mi) || !BcdByte(v[2], h) || !BcdByte(v[3], d) || !BcdByte(v[4], mo) ||
      !BcdByte(v[5], y) || s > 59 || mi > 59 || h > 23 || !ValidDate(2000 + y, mo, d))
    return false;
  std::tm t{};
  t.tm_sec = s;
  t.tm_min = mi;
  t.tm_hour = h;
  t.tm_mday = d;
  t.tm_mon = mo - 1;
  t.tm_year = y + 100;
  SetMeterTime(state, t);
  return true;
}

std::vector<uint8_t> TMeterData::Bcd(unsigned long long value, int bytes) {
  std::vector<uint8_t> out;
  for (int i = 0; i < bytes; ++i) {
    out.push_back(static_cast<uint8_t>((value % 10) | ((value / 10 % 10) << 4)));
    value /= 100;
  }
  return out;
}

bool TMeterData::FromBcd(const uint8_t* bytes, int count, unsigned long long& value) {
  value = 0;
  for (int i = count - 1; i >= 0; --i) {
    int hi = bytes[i] >> 4, lo = bytes[i] & 15;
    if (hi > 9 || lo > 9) return false;
    value = value * 100 + static_cast<unsigned long long>(hi * 10 + lo);
  }
  return true;
}

std::vector<uint8_t> TMeterData::AddressBytes(const std::string& display) {
  std::vector<uint8_t> out(6, 0);
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
  };
  for (size_t i = 0; i < 6 && display.size() >= 12; ++i) {
    size_t pos = 10 - 2 * i;  // A0 = the last two digits
    out[i] = static_cast<uint8_t>(nibble(display[pos]) * 16 + nibble(display[pos + 1]));
  }
  return out;
}

std::string TMeterData::AddressText(const uint8_t* wire) {
  static const char* hex = "0123456789ABCDEF";
  std::string text;
  for (int i = 5; i >= 0; --i) {
    text += hex[wire[i] >> 4];
    text += hex[wire[i] & 15];
  }
  return text;
}

bool TMeterData::IsBcdAddress(const std::string& display) {
  if (display.size() != 12 || display == "999999999999") return false;
  return std::all_of(display.begin(), display.end(), [](char c) { return c >= '0' && c <= '9'; });
}
