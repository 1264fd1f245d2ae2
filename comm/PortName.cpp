#include "comm/PortName.h"

#include <cctype>

namespace {

struct TScheme {
  const char* Text;
  TPortKind Kind;
};
const TScheme kSchemes[] = {
    {"tcp", TPortKind::Tcp}, {"rfc2217", TPortKind::Rfc2217}, {"tcp-listen", TPortKind::TcpListen}};

const char* SchemeText(TPortKind kind) {
  for (const TScheme& s : kSchemes)
    if (s.Kind == kind) return s.Text;
  return "";
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool HostChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

bool Ipv6Char(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
}

// Splits "host:port" or "[v6]:port"; `error` names the missing or bad part.
bool SplitHostPort(const std::string& rest, std::string& host, std::string& port, bool& bracketed,
                   std::string& error) {
  bracketed = !rest.empty() && rest[0] == '[';
  size_t colon;
  if (bracketed) {
    const size_t close = rest.find(']');
    if (close == std::string::npos) {
      error = "IPv6地址缺少“]”";
      return false;
    }
    host = rest.substr(1, close - 1);
    colon = close + 1;
    if (colon >= rest.size() || rest[colon] != ':') {
      error = "缺少端口号（应为“地址:端口”）";
      return false;
    }
  } else {
    colon = rest.rfind(':');
    if (colon == std::string::npos) {
      error = "缺少端口号（应为“地址:端口”）";
      return false;
    }
    host = rest.substr(0, colon);
  }
  port = rest.substr(colon + 1);
  return true;
}

bool CheckHost(const std::string& host, bool bracketed, TPortKind kind, std::string& error) {
  if (host.empty()) {
    error = kind == TPortKind::TcpListen ? "必须指定监听地址（例如127.0.0.1）" : "缺少主机名或地址";
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
  return true;
}

bool CheckPort(const std::string& text, int& port, std::string& error) {
  port = 0;
  bool digits = !text.empty() && text.size() <= 5;
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  if (digits) port = std::stoi(text);
  if (!digits || port < 1 || port > 65535) {
    error = "端口号“" + text + "”应为1到65535之间的数字";
    return false;
  }
  return true;
}

const char* const kFallbackRaw = "?fallback=raw";

// Takes an option after "?" off `rest`: only rfc2217:// has one, "?fallback=raw".
bool SplitQuery(std::string& rest, TPortName& name, std::string& error) {
  const size_t mark = rest.find('?');
  if (mark == std::string::npos) return true;
  const std::string query = rest.substr(mark);
  rest.erase(mark);
  if (name.Kind != TPortKind::Rfc2217) {
    error = "只有rfc2217://可以带选项“" + query + "”";
    return false;
  }
  if (Lower(query) != kFallbackRaw) {
    error = "不认识的选项“" + query + "”，rfc2217://只接受“?fallback=raw”";
    return false;
  }
  name.RawFallback = true;
  return true;
}

}  // namespace

bool ParsePortName(const std::string& text, TPortName& name, std::string& error) {
  name = TPortName();
  error.clear();
  const size_t sep = text.find("://");
  if (sep == std::string::npos) {
    name.Path = text;
    return true;
  }
  const std::string invalid = "端口名“" + text + "”无效：";
  const std::string scheme = Lower(text.substr(0, sep));
  bool known = false;
  for (const TScheme& s : kSchemes) {
    if (scheme == s.Text) {
      name.Kind = s.Kind;
      known = true;
    }
  }
  if (!known) {
    error = invalid + "不支持“" + text.substr(0, sep) + "://”，可用tcp://、rfc2217://或tcp-listen://！";
    return false;
  }
  std::string host, port, why;
  bool bracketed = false;
  std::string rest = text.substr(sep + 3);
  if (!SplitQuery(rest, name, why) || !SplitHostPort(rest, host, port, bracketed, why) ||
      !CheckHost(host, bracketed, name.Kind, why) || !CheckPort(port, name.Port, why)) {
    name = TPortName();
    error = invalid + why + "！";
    return false;
  }
  name.Host = host;
  return true;
}

std::string DescribePortName(const TPortName& name) {
  if (name.Kind == TPortKind::Device) return name.Path;
  const bool v6 = name.Host.find(':') != std::string::npos;
  return std::string(SchemeText(name.Kind)) + "://" + (v6 ? "[" + name.Host + "]" : name.Host) + ":" +
         std::to_string(name.Port) + (name.RawFallback ? kFallbackRaw : "");
}
