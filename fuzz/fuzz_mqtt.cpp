// What poll --mqtt takes from the user and hands to the broker: an MQTT address is refused with
// a message or accepted with a host, a port of 1..65535 and a prefix without wildcards, and
// written back it reads as the same address; any text becomes one JSON string of valid UTF-8
// without raw control characters, which reads back as the text itself when that was UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "services/MqttMessage.h"

namespace {

bool ValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    const unsigned char d = static_cast<unsigned char>(s[i + 1 < s.size() ? i + 1 : i]);
    if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d > 0x8F))
      return false;
    i += n;
  }
  return true;
}

int Hex(char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; }

// A JSON string as a reader takes it; false when it is not one.
bool ReadJsonString(const std::string& json, std::string& text) {
  if (json.size() < 2 || json.front() != '"' || json.back() != '"') return false;
  text.clear();
  for (std::size_t i = 1; i + 1 < json.size(); ++i) {
    const char c = json[i];
    if (c == '"' || static_cast<unsigned char>(c) < 0x20) return false;
    if (c != '\\') {
      text += c;
      continue;
    }
    if (i + 2 >= json.size()) return false;
    const char e = json[++i];
    if (e == '"' || e == '\\' || e == '/') {
      text += e;
    } else if (e == 'u' && i + 5 < json.size()) {
      int value = 0;
      for (int k = 1; k <= 4; ++k) {
        const int h = Hex(json[i + k]);
        if (h < 0) return false;
        value = value * 16 + h;
      }
      if (value >= 0x80) return false;  // only control characters are escaped this way
      text += static_cast<char>(value);
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

void CheckUrl(const std::string& text) {
  TMqttUrl url;
  std::string error;
  if (!ParseMqttUrl(text, url, error)) {
    FUZZ_CHECK(error.rfind("MQTT地址“", 0) == 0 && error.size() > text.size() + 20);
    FUZZ_CHECK(url == TMqttUrl());
    return;
  }
  FUZZ_CHECK(error.empty());
  FUZZ_CHECK(!url.Host.empty() && url.Port >= 1 && url.Port <= 65535);
  FUZZ_CHECK(!url.Prefix.empty() && url.Prefix.back() != '/' && url.Prefix.find_first_of("+#") == std::string::npos);
  FUZZ_CHECK(ValidUtf8(url.Prefix) && ValidUtf8(url.User) && ValidUtf8(url.Password));
  TMqttUrl again;
  FUZZ_CHECK(ParseMqttUrl(FormatMqttUrl(url), again, error));
  FUZZ_CHECK(again == url);
}

void CheckJson(const std::string& text) {
  const std::string json = JsonString(text);
  FUZZ_CHECK(ValidUtf8(json));
  std::string back;
  FUZZ_CHECK(ReadJsonString(json, back));
  if (ValidUtf8(text)) FUZZ_CHECK(back == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool json = in.ConsumeBool();
  std::string text;
  if (in.ConsumeBool()) {
    static const char* const kParts[] = {"mqtt://", "MQTT://", "mqtts://", ":", "@", "/", "[", "]", "%", "%4", "%40",
                                         "%00", "::1", "127.0.0.1", "1883", "65536", "0", "+", "#", "u", "p", "电表", "\t"};
    const int count = in.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < count; ++i) text += in.ConsumeBool() ? kParts[in.ConsumeIntegralInRange(0, 22)] : fuzz::PieceText(in, 2, true);
  } else {
    text = in.ConsumeRemainingBytesAsString();
  }
  if (json) CheckJson(text);
  else CheckUrl(text);
  return 0;
}
