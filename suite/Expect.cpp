// Expectations of one exchange or one value.
#include "suite/Expect.h"

#include <cstdio>

#include "protocol/Reading.h"

namespace {
std::string Hex2(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02XH", value & 0xFF);
  return text;
}

std::string Number(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

bool IsReply(const TLinkResult& r) { return r.Kind == lkReply && r.HasReply; }
}  // namespace

const char* VerdictText(TVerdict verdict) {
  switch (verdict) {
    case vdPass: return "通过";
    case vdFail: return "失败";
    case vdSkipped: return "跳过";
    case vdStopped: return "已停止";
    default: return "错误";
  }
}

std::string ObservedText(const TLinkResult& r) {
  switch (r.Kind) {
    case lkReply: return r.HasReply ? Hex2(r.Body.Ctrl) + " 应答，L=" + std::to_string(r.Body.Len) : "无应答";
    case lkNoReplyWanted: return "无需应答";
    case lkTimeout: return "无应答（超时）";
    default: return r.Message.empty() ? "通信失败" : r.Message;
  }
}

std::string DataAfterIdentifier(const TLinkResult& r) {
  if (!IsReply(r) || r.Body.Data.size() < 8) return "";
  return r.Body.Data.substr(8);
}

TExpectation ExpectNormal(const TLinkResult& r, int func) {
  TExpectation e{"正常应答 " + Hex2(func | 0x80), ObservedText(r), false};
  e.Met = IsReply(r) && r.Body.Dir == 1 && r.Body.Normal && r.Body.FuncCode == (func & 0x1F);
  return e;
}

TExpectation ExpectAbnormal(const TLinkResult& r, int func, int bit) {
  std::string what = "异常应答 " + Hex2((func & 0x1F) | 0xC0);
  if (bit >= 0) what += "，错误信息字 Bit" + std::to_string(bit) + " 置位";
  TExpectation e{what, ObservedText(r), false};
  if (!IsReply(r) || r.Body.Normal || r.Body.FuncCode != (func & 0x1F) || r.Body.Data.size() < 2) return e;
  const int word = std::stoi(r.Body.Data.substr(0, 2), nullptr, 16);
  e.Observed += "，错误信息字 " + Hex2(word);
  e.Met = bit < 0 ? word != 0 : ((word >> bit) & 1) != 0;
  return e;
}

// A frame that came during the wait counts against "no reply" even when it is not the answer
// (a meter answering a frame for another address answers with its own).
TExpectation ExpectNoReply(const TLinkResult& r) {
  if (!r.Strays.empty())
    return {"无应答", "收到 " + std::to_string(r.Strays.size()) + " 帧应答（" + Hex2(r.Strays[0].Ctrl) + "）", false};
  return {"无应答", ObservedText(r), r.Kind == lkTimeout || r.Kind == lkNoReplyWanted};
}

TExpectation ExpectLayoutLength(const TLinkResult& r, const std::string& di) {
  const int want = ReadingLength(di);
  const std::string data = DataAfterIdentifier(r);
  const int have = static_cast<int>(data.size() / 2);
  if (want == 0) return {"数据长度按 " + di + " 的格式（长度可变）", std::to_string(have) + " 字节", IsReply(r)};
  return {"数据长度 " + std::to_string(want) + " 字节（" + di + "）", std::to_string(have) + " 字节",
          IsReply(r) && have == want};
}

// True when the layout of one entry is BCD (numbers, dates, times, digits), not text or words.
static bool BcdLayout(const std::string& layout) {
  for (const char* word : {"ASCII", "WORD", "HEX", "LOADBLOCK"})
    if (layout.find(word) != std::string::npos) return false;
  return true;
}

TExpectation ExpectBcd(const TLinkResult& r, const std::string& di) {
  std::string data = DataAfterIdentifier(r);
  const TReadingFormat* format = FindReadingFormat(di);
  if (format && !BcdLayout(format->Layout)) return {"数据为合法 BCD 码", "非 BCD 格式，不检查", IsReply(r)};
  // A signed field carries its sign in the top bit of its most significant byte (sent last).
  if (format && format->Layout[0] == '-' && data.size() >= 2) {
    const int top = std::stoi(data.substr(data.size() - 2), nullptr, 16) & 0x7F;
    char text[4];
    std::snprintf(text, sizeof text, "%02X", top);
    data.replace(data.size() - 2, 2, text);
  }
  bool ok = IsReply(r) && !data.empty();
  for (char c : data) ok = ok && c >= '0' && c <= '9';
  return {"数据为合法 BCD 码", data.empty() ? "无数据" : DataAfterIdentifier(r), ok};
}

TExpectation ExpectRange(const std::string& what, double value, double low, double high) {
  return {what + " 在 " + Number(low) + " 至 " + Number(high) + " 之间", Number(value),
          value >= low && value <= high};
}

TExpectation ExpectEqual(const std::string& what, const std::string& observed, const std::string& expected) {
  return {what + " 等于 " + expected, observed, observed == expected};
}
