#pragma once
#include <cstdint>
#include <string>

class TStringUtil {
 public:
  static std::string BytesToHex(const uint8_t* buf, int count);        // "6816"
  static std::string BytesToHexSpaced(const uint8_t* buf, int count);  // "68 16 "
};
