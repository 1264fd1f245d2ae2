#include "protocol/UtilsUnit.h"

std::string TUtils::BytesToStr(const uint8_t* buf, int count) {
  if (buf == nullptr || count <= 0) return std::string();
  return std::string(reinterpret_cast<const char*>(buf), static_cast<size_t>(count));
}
