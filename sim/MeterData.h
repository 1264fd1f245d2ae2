#pragma once
// What the virtual meter knows and measures: its settings, its clock and the value of every data
// identifier of the catalogue. Identifiers are numbers DI3 DI2 DI1 DI0 (0x00010000 = 00010000);
// values are byte vectors in wire order (least significant byte first), without the 33H offset.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Error words of abnormal replies.
enum TMeterError : uint8_t {
  meOther = 0x01,
  meNoData = 0x02,
  mePassword = 0x04,
  meBaud = 0x08,
  meZones = 0x10,
  meSegments = 0x20,
  meTariffs = 0x40,
};

// What the meter knows about one identifier: the catalogue's facts, or those of the reading
// table's further variables (instantaneous powers, power factors per phase, frequency, ...).
struct TCatalogFacts {
  uint32_t DI = 0;
  int Len = 0;            // bytes; for a load record the length of its read parameter
  bool Variable = false;  // a data block of variable length ("x")
  bool Read = false;
  bool Write = false;
};

// The facts for `di`, or nullptr when the meter does not know it (it answers 02H).
const TCatalogFacts* FindCatalogFacts(uint32_t di);
// Every identifier the meter answers, in ascending order.
const std::vector<TCatalogFacts>& CatalogFacts();

struct TMeterState {
  std::string Address = "000000000001";  // 12 digits, display order
  std::string Password = "26404915";     // 8 hex digits, display order
  std::vector<uint8_t> Mac = {0x5A, 0x4C, 0x33, 0x22, 0x11, 0x02};  // wire order
  uint8_t BaudCode = 0x08;              // 2400 baud, the usual RS-485 default
  long long ClockOffsetSec = 0;         // meter clock minus system clock
  std::map<uint32_t, std::vector<uint8_t>> Stored;  // values written with 14H
  bool EnergyCleared = false;   // 1AH
  bool DemandCleared = false;   // 19H
  bool EventsCleared = false;   // 1BH
  // Power cuts the meter went through, oldest first: when the power went and when it came back
  // (meter time, seconds since the epoch). Each is a power-down record (0311000n) and counts in
  // 03110000.
  std::vector<std::pair<long long, long long>> PowerCuts;
  // Measured values move with the time since this moment (voltages, currents, powers, energy).
  std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
};

class TMeterData {
 public:
  // The meter's local time now.
  static std::tm MeterTime(const TMeterState& state);
  // Value of `di` (with the read parameters `params`, used by load records). Returns 0 and fills
  // `out`, or the error word of the abnormal reply.
  static uint8_t ReadValue(const TMeterState& state, uint32_t di,
                           const std::vector<uint8_t>& params, std::vector<uint8_t>& out);
  // Stores a written value, with its side effects (clock, address, password). Returns 0 or the
  // error word.
  static uint8_t WriteValue(TMeterState& state, uint32_t di, const std::vector<uint8_t>& data);
  // Sets a reading as the meter's own (--set, --values): the clock and the date move the clock,
  // the address renames the meter, any other value is held as given. Returns 0, or 02H for an
  // identifier the meter does not know, 01H for data of the wrong length.
  static uint8_t SetReading(TMeterState& state, uint32_t di, const std::vector<uint8_t>& data);
  // Records a power cut of `seconds` that ended just now.
  static void PowerCut(TMeterState& state, int seconds);
  // Sets the clock from a broadcast time (ss mm hh DD MM YY, BCD). False for an impossible time.
  static bool SetClock(TMeterState& state, const std::vector<uint8_t>& ssmmhhDDMMYY);

  // Helpers shared with the request handler.
  static std::vector<uint8_t> Bcd(unsigned long long value, int bytes);  // wire order
  static bool FromBcd(const uint8_t* bytes, int count, unsigned long long& value);  // wire order
  static std::vector<uint8_t> AddressBytes(const std::string& display);  // 12 digits -> A0..A5
  static std::string AddressText(const uint8_t* wire);                   // A0..A5 -> 12 digits
  static bool IsBcdAddress(const std::string& display);
};
