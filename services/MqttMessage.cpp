#include "services/MqttMessage.h"

#include <cctype>
#include <cstdio>

namespace {

const size_t kMaxPrefixBytes = 1024;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The length of the well-formed UTF-8 character at `pos` (no overlong forms, no surrogates,
// nothing above U+10FFFF), or 0 when the bytes there are not one.
size_t Utf8Length(const std::string& text, size_t pos) {
  const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
  const unsigned lead = byte(pos);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(pos + 1) < low || byte(pos + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (byte(pos + i) < 0x80 || byte(pos + i) > 0xBF) return 0;
  return length;
}

// Valid UTF-8 without control characters (MQTT forbids U+0000 in its strings).
bool CleanUtf8(const std::string& text) {
  for (size_t pos = 0; pos < text.size();) {
    const size_t length = Utf8Length(text, pos);
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    if (length == 0 || c < 0x20 || c == 0x7F) return false;
    pos += length;
  }
  return true;
}

bool HostChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_'; }

bool Ipv6Char(char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; }

bool CheckPort(const std::string& text, int& port, std::string& error) {
  bool digits = !text.empty() && text.size() <= 5;
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  port = digits ? std::stoi(text) : 0;
  if (digits && port >= 1 && port <= 65535) return true;
  error = "端口号“" + text + "”应为1到65535之间的数字";
  return false;
}

// "host", "host:port", "[v6]" or "[v6]:port"; without a port the default stays.
bool ParseHostPort(const std::string& text, TMqttUrl& url, std::string& error) {
  const bool bracketed = !text.empty() && text[0] == '[';
  size_t hostEnd = text.find(':');
  size_t colon = hostEnd;
  std::string host = text.substr(0, hostEnd);
  if (bracketed) {
    hostEnd = text.find(']');
    if (hostEnd == std::string::npos) {
      error = "IPv6地址缺少“]”";
      return false;
    }
    host = text.substr(1, hostEnd - 1);
    colon = hostEnd + 1 < text.size() ? hostEnd + 1 : std::string::npos;
    if (colon != std::string::npos && text[colon] != ':') {
      error = "“]”后应为“:端口”";
      return false;
    }
  }
  if (host.empty()) {
    error = "缺少主机名或地址";
    return false;
  }
  for (char c : host) {
    if (bracketed ? !Ipv6Char(c) : !HostChar(c)) {
      error = "主机名或地址“" + host + "”含有无效字符";
      return false;
    }
  }
  if (bracketed && host.find(':') == std::string::npos) {
    error = "方括号内应为IPv6地址";
    return false;
  }
  url.Host = host;
  return colon == std::string::npos || CheckPort(text.substr(colon + 1), url.Port, error);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool PercentDecode(const std::string& text, std::string& out, std::string& error) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
    if (low < 0) {
      error = "用户名或密码中的“%”后应为两位十六进制数字";
      return false;
    }
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (CleanUtf8(out)) return true;
  error = "用户名或密码含有控制字符或无效的UTF-8文字";
  return false;
}

// "user[:password]" (the part before the last '@').
bool ParseCredentials(const std::string& text, TMqttUrl& url, std::string& error) {
  const size_t colon = text.find(':');
  if (!PercentDecode(text.substr(0, colon), url.User, error)) return false;
  if (colon != std::string::npos && !PercentDecode(text.substr(colon + 1), url.Password, error)) return false;
  if (!url.User.empty()) return true;
  error = "“@”前缺少用户名";
  return false;
}

bool ParsePrefix(std::string prefix, TMqttUrl& url, std::string& error) {
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  if (prefix.empty()) {
    error = "缺少主题前缀（应为mqtt://主机:端口/主题前缀）";
  } else if (prefix.find_first_of("+#") != std::string::npos) {
    error = "主题前缀不能含有通配符“+”或“#”";
  } else if (!CleanUtf8(prefix)) {
    error = "主题前缀含有控制字符或无效的UTF-8文字";
  } else if (prefix.size() > kMaxPrefixBytes) {
    error = "主题前缀太长（最多" + std::to_string(kMaxPrefixBytes) + "字节）";
  } else {
    url.Prefix = prefix;
    return true;
  }
  return false;
}

bool ParseParts(const std::string& text, TMqttUrl& url, std::string& error) {
  const size_t sep = text.find("://");
  if (sep == std::string::npos) {
    error = "应以mqtt://开头";
    return false;
  }
  if (Lower(text.substr(0, sep)) != "mqtt") {
    error = "不支持“" + text.substr(0, sep) + "://”，只能用mqtt://";
    return false;
  }
  const std::string rest = text.substr(sep + 3);
  const size_t slash = rest.find('/');
  const std::string authority = rest.substr(0, slash);
  const size_t at = authority.rfind('@');
  if (at != std::string::npos && !ParseCredentials(authority.substr(0, at), url, error)) return false;
  if (!ParseHostPort(at == std::string::npos ? authority : authority.substr(at + 1), url, error)) return false;
  return ParsePrefix(slash == std::string::npos ? "" : rest.substr(slash + 1), url, error);
}

std::string PercentEncode(const std::string& text) {
  std::string out;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", u);
      out += escaped;
    }
  }
  return out;
}

// A round trip as poll writes it: digits, optionally a point and more digits.
bool PlainNumber(const std::string& text) {
  const size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  const std::string part = point == std::string::npos ? "1" : text.substr(point + 1);
  return !whole.empty() && !part.empty() && whole.find_first_not_of("0123456789") == std::string::npos &&
         part.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool ParseMqttUrl(const std::string& text, TMqttUrl& url, std::string& error) {
  url = TMqttUrl();
  error.clear();
  std::string why;
  if (ParseParts(text, url, why)) return true;
  url = TMqttUrl();
  error = "MQTT地址“" + text + "”无效：" + why + "！";
  return false;
}

std::string FormatMqttUrl(const TMqttUrl& url) {
  std::string credentials;
  if (!url.User.empty()) credentials = PercentEncode(url.User) + (url.Password.empty() ? "" : ":" + PercentEncode(url.Password)) + "@";
  return "mqtt://" + credentials + MqttServerText(url) + "/" + url.Prefix;
}

std::string MqttServerText(const TMqttUrl& url) {
  const bool v6 = url.Host.find(':') != std::string::npos;
  return (v6 ? "[" + url.Host + "]" : url.Host) + ":" + std::to_string(url.Port);
}

std::string ReadingTopic(const std::string& prefix, const TMqttReading& reading) {
  return prefix + "/" + reading.Address + "/" + reading.Identifier;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t pos = 0; pos < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    const size_t length = Utf8Length(text, pos);
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not part of a character
      ++pos;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
      out += escaped;
    } else {
      out.append(text, pos, length);
    }
    pos += length;
  }
  return out + "\"";
}

std::string ReadingJson(const TMqttReading& r) {
  std::string json = "{";
  const std::pair<const char*, const std::string*> texts[] = {
      {"time", &r.Time}, {"address", &r.Address}, {"identifier", &r.Identifier}, {"name", &r.Name},
      {"raw_value", &r.RawValue}, {"reading", &r.Reading}, {"unit", &r.Unit}};
  for (const auto& [key, value] : texts) json += "\"" + std::string(key) + "\":" + JsonString(*value) + ",";
  json += "\"round_trip_ms\":" + (PlainNumber(r.RoundTripMs) ? r.RoundTripMs : std::string("null")) + ",";
  return json + "\"outcome\":" + JsonString(r.Outcome) + "}";
}

void TMqttBacklog::Push(TMqttMessage message) {
  if (Items.size() >= Capacity) {
    Items.pop_front();
    ++DroppedCount;
  }
  Items.push_back(std::move(message));
}

void TMqttBacklog::PushFront(TMqttMessage message) {
  if (Items.size() >= Capacity) {
    ++DroppedCount;
    return;
  }
  Items.push_front(std::move(message));
}

void TMqttBacklog::DropAll() {
  DroppedCount += static_cast<long long>(Items.size());
  Items.clear();
}
