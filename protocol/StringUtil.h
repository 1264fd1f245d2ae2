#pragma once
#include <cstdint>
#include <string>

class TStringUtil {
 public:
  static std::string BytesToHex(const uint8_t* buf, int count);        // "6816"
  static std::string BytesToHexSpaced(const uint8_t* buf, int count);  // "68 16 "
  // Reads an integer the way the settings and the codec always have: leading blanks, an optional
  // sign, then decimal digits or "$"/"0x" and hexadecimal digits, nothing after. False (value
  // untouched) for anything else, an empty text or a value outside the 32-bit range.
  static bool TryStrToInt(const std::string& text, int& value);
  // The value of a byte written as one or two hexadecimal digits (no prefix, no blanks), as the
  // codec reads address and data pairs. False for anything else.
  static bool TryHexPair(const std::string& pair, uint8_t& value);
};
