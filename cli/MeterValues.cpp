#include "cli/MeterValues.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "protocol/Reading.h"
#include "sim/MeterData.h"

bool ParseMeterValue(const std::string& text, uint32_t& di, std::vector<uint8_t>& data, std::string& error) {
  const size_t eq = text.find('=');
  const std::string code = eq == std::string::npos ? text : text.substr(0, eq);
  if (eq == std::string::npos || code.size() != 8 ||
      code.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) {
    error = "“" + text + "”不是DI=VALUE（DI为8位十六进制数字）";
    return false;
  }
  if (!ParseReading(code, text.substr(eq + 1), data, error)) {
    error = code + "：" + error;
    return false;
  }
  di = static_cast<uint32_t>(std::stoul(code, nullptr, 16));
  if (!FindCatalogFacts(di)) {
    error = code + "：虚拟电表不应答这个数据标识";
    return false;
  }
  return true;
}

bool ReadMeterValues(const std::string& path, std::map<uint32_t, std::vector<uint8_t>>& values,
                     std::vector<std::string>& junk, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "无法读取" + path + "：" + std::strerror(errno);
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    line = line.substr(first, line.find_last_not_of(" \t") - first + 1);
    uint32_t di = 0;
    std::vector<uint8_t> data;
    std::string why;
    if (ParseMeterValue(line, di, data, why)) values[di] = data;
    else junk.push_back(path + ":" + std::to_string(number) + "：" + why);
  }
  return true;
}
