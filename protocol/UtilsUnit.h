#pragma once
#include <cstdint>
#include <string>

class TUtils {
 public:
  // One character per byte, as received (the caller decodes GBK where it shows the text).
  static std::string BytesToStr(const uint8_t* buf, int count);
};
