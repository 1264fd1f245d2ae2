#pragma once
// The frame a meter expects, built independently of the codec: 68H, address A0 first, 68H,
// control, length, data + 33H, checksum, 16H, as spaced hex after `preamble`.
#include <cstdio>
#include <string>
#include <vector>

inline std::string ExpectedFrame(const std::string& address, int ctrl, const std::string& data,
                                 const std::string& preamble = "") {
  std::vector<int> b = {0x68};
  for (int i = 5; i >= 0; --i) b.push_back(std::stoi(address.substr(2 * i, 2), nullptr, 16));
  b.push_back(0x68);
  b.push_back(ctrl);
  b.push_back(static_cast<int>(data.size() / 2));
  for (size_t i = 0; i + 1 < data.size(); i += 2) b.push_back((std::stoi(data.substr(i, 2), nullptr, 16) + 0x33) & 0xFF);
  int sum = 0;
  for (int v : b) sum += v;
  b.push_back(sum & 0xFF);
  b.push_back(0x16);
  std::string text = preamble;
  char buf[4];
  for (int v : b) {
    std::snprintf(buf, sizeof buf, "%02X ", v);
    text += buf;
  }
  return text;
}
