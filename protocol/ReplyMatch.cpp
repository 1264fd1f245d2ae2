// The answer rule: which received frame answers which request (see the header).
#include "protocol/ReplyMatch.h"

#include <algorithm>
#include <cctype>

#include "protocol/Protocol.h"
#include "protocol/PublicFunc.h"
#include "protocol/StringUtil.h"

namespace {
const char kWrongCtrl[] = "非本次请求的应答：控制码不符";
const char kWrongAddress[] = "非本次请求的应答：地址不符";
const char kWrongDI[] = "非本次请求的应答：数据标识不符";

const char kTooShort[] = "帧长度不足";
const char kBadStart[] = "起始符错误";
const char kBadLength[] = "长度域与帧长不符";
const char kBadSum[] = "校验和错误";
const char kBadEnd[] = "结束符错误";

const char kWildcard[] = "AAAAAAAAAAAA";
const char kBroadcast[] = "999999999999";
constexpr int kAppLayerTimeout = 0xC0;
constexpr uint8_t kStart = 0x68;
constexpr uint8_t kOffset = 0x33;

bool CarriesDI(int func) { return func == 0x11 || func == 0x12; }

// The display-order address of the last 6 bytes of a wire-order hex text.
std::string LastAddress(const std::string& wireHex) {
  if (wireHex.size() < 12) return "";
  return ReverseHex(wireHex.substr(wireHex.size() - 12));
}

// A meter address as the rule keeps it: 12 digits, a broadcast meaning any address.
std::string RuleAddress(const std::string& address) {
  if (address.size() != 12 || address == kBroadcast) return "";
  return address;
}

bool SameHex(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// The parts of a typed frame, from its first 68H on (bytes typed in front of it are skipped).
struct TTyped {
  int C = 0;
  std::string Address;              // display order
  std::vector<uint8_t> Data;        // without the 33H offset, as far as it was typed
};

bool ReadTyped(const uint8_t* bytes, int count, TTyped& typed) {
  int start = 0;
  while (start < count && bytes[start] != kStart) ++start;
  if (count - start < 10 || bytes[start + 7] != kStart) return false;
  const uint8_t* f = bytes + start;
  for (int i = 6; i >= 1; --i) typed.Address += TStringUtil::BytesToHex(f + i, 1);
  typed.C = f[8];
  const int len = std::min<int>(f[9], count - start - 10);
  for (int j = 0; j < len; ++j) typed.Data.push_back(static_cast<uint8_t>(f[10 + j] - kOffset));
  return true;
}

std::string DisplayAddress(const std::vector<uint8_t>& data, size_t at) {
  std::string text;
  for (size_t i = 6; i >= 1; --i) text += TStringUtil::BytesToHex(&data[at + i - 1], 1);
  return text;
}

TAnswerRule TypedRule(const uint8_t* bytes, int count) {
  TAnswerRule rule;
  TTyped typed;
  if (!bytes || !ReadTyped(bytes, count, typed)) {
    rule.AnyReply = true;
    return rule;
  }
  rule.FuncCode = typed.C & 0x1F;
  rule.FirstHop = typed.Address;
  rule.Address = RuleAddress(typed.Address);
  const size_t relays = static_cast<size_t>(typed.C >> 5);
  if (relays > 0) {
    // Relay bits in D7..D5: the further hops and the final destination open the data field.
    if (typed.Data.size() < 6 * relays) {
      rule.AnyReply = true;
      return rule;
    }
    rule.Address = RuleAddress(DisplayAddress(typed.Data, 6 * (relays - 1)));
  }
  const size_t diAt = 6 * relays;
  if (CarriesDI(rule.FuncCode) && typed.Data.size() >= diAt + 4)
    rule.DI = TStringUtil::BytesToHex(&typed.Data[diAt], 4);
  // Through a collector the meter's address closes the data field, and the meter answers.
  if (typed.Data.size() >= diAt + 6) rule.AltAddress = RuleAddress(DisplayAddress(typed.Data, typed.Data.size() - 6));
  return rule;
}

TAnswerRule ComposedRule(const TDltFrame& request) {
  TAnswerRule rule;
  rule.FuncCode = request.CtrlCode & 0x1F;
  rule.FirstHop = request.Address;
  std::string address = request.Address;
  if (request.ViaCollector) address = LastAddress(request.DataField);
  else if (request.RelayCount > 0) address = LastAddress(request.RelayData);
  rule.Address = RuleAddress(address);
  if (CarriesDI(rule.FuncCode) && request.DI.size() == 8) rule.DI = request.DI;
  return rule;
}

bool FromMeter(const TAnswerRule& rule, const std::string& address) {
  if (AddressFits(rule.Address, address)) return true;
  return !rule.AltAddress.empty() && AddressFits(rule.AltAddress, address);
}
}  // namespace

TAnswerRule AnswerRule(const TDltFrame& request, const uint8_t* bytes, int count) {
  return request.RawFrame ? TypedRule(bytes, count) : ComposedRule(request);
}

TAnswerFault JudgeReply(const TAnswerRule& rule, const TFrameBody& reply) {
  if (rule.AnyReply) return afNone;
  if (reply.Ctrl == kAppLayerTimeout) {
    const bool firstHop = rule.FirstHop.size() == 12 && AddressFits(rule.FirstHop, reply.Address);
    return FromMeter(rule, reply.Address) || firstHop ? afNone : afAddress;
  }
  if (reply.Dir != 1 || reply.FuncCode != rule.FuncCode) return afCtrl;
  if (!FromMeter(rule, reply.Address)) return afAddress;
  if (reply.Normal && CarriesDI(reply.FuncCode) && !rule.DI.empty() &&
      (reply.Data.size() < 8 || !SameHex(reply.Data.substr(0, 8), rule.DI)))
    return afDI;
  return afNone;
}

std::string AnswerFaultText(TAnswerFault fault) {
  switch (fault) {
    case afCtrl: return kWrongCtrl;
    case afAddress: return kWrongAddress;
    case afDI: return kWrongDI;
    case afNone: break;
  }
  return "";
}

bool IsAnswer(const TAnswerRule& rule, const TFrameBody& reply, std::string& reason) {
  const TAnswerFault fault = JudgeReply(rule, reply);
  reason = AnswerFaultText(fault);
  return fault == afNone;
}

bool IsAnswer(const TDltFrame& request, const uint8_t* bytes, int count, const TFrameBody& reply,
              std::string& reason) {
  return IsAnswer(AnswerRule(request, bytes, count), reply, reason);
}

std::string ExpectedReplyAddress(const TDltFrame& frame, const std::vector<uint8_t>& raw) {
  TAnswerRule rule = AnswerRule(frame, raw.data(), static_cast<int>(raw.size()));
  if (rule.AnyReply || rule.Address == kWildcard) return "";
  return rule.Address;
}

bool AddressFits(const std::string& expected, const std::string& replyAddress) {
  if (expected.empty()) return true;
  if (replyAddress.size() != expected.size()) return false;
  for (size_t i = 0; i + 1 < expected.size(); i += 2) {
    if (expected.compare(i, 2, "AA") == 0 || expected.compare(i, 2, "aa") == 0) continue;
    if (!SameHex(expected.substr(i, 2), replyAddress.substr(i, 2))) return false;
  }
  return true;
}

std::string FrameFault(const uint8_t* buf, int len) {
  if (buf == nullptr || len < 12) return kTooShort;
  if (buf[0] != kStart || buf[7] != kStart) return kBadStart;
  if (buf[9] != len - 12) return kBadLength;
  if (TProtocol::CheckSum(buf, 0, len - 2) != buf[len - 2]) return kBadSum;
  if (buf[len - 1] != 0x16) return kBadEnd;
  return "";
}
