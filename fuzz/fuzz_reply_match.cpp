// The answer rule, for any request (composed, or typed as bytes) and any valid reply frame: a
// frame it accepts has the request's function code with D7 set (or is C0H), unless the request
// gives nothing to judge by; a refusal always says why; the exact answer (right control code,
// address with its wildcard bytes filled in, identifier) is accepted and the same frame with
// another function code is not; whatever the virtual meter answers to a request is accepted; and
// the fault text of a refused frame is empty exactly when the frame check passes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "protocol/Protocol.h"
#include "protocol/ReplyMatch.h"
#include "protocol/StringUtil.h"
#include "sim/MeterCore.h"

namespace {

const char* const kOwn = "000000000001";
const char* const kCollector = "112233445566";
const char* const kAddresses[] = {kOwn, "AAAAAAAAAAAA", "999999999999", kCollector, "000000000002", "0000000000AA"};

std::string PickAddress(FuzzedDataProvider& in) {
  return kAddresses[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kAddresses / sizeof *kAddresses - 1)];
}

std::string WireHex(const std::string& display) {
  const std::vector<uint8_t> bytes = TMeterData::AddressBytes(display);
  return TStringUtil::BytesToHex(bytes.data(), static_cast<int>(bytes.size()));
}

std::vector<uint8_t> Frame(const std::string& address, uint8_t ctrl, const std::vector<uint8_t>& data) {
  return TMeterCore::BuildFrame(address, ctrl, data);
}

TFrameBody Body(const std::vector<uint8_t>& frame) {
  TFrameBody body;
  std::string error;
  FUZZ_CHECK(TProtocol::UnPack(frame.data(), static_cast<int>(frame.size()), body, error) == 0);
  return body;
}

// A request as composition builds it; its bytes on the wire in `bytes`.
TDltFrame ComposedRequest(FuzzedDataProvider& in, std::vector<uint8_t>& bytes) {
  TDltFrame request;
  request.CtrlCode = in.ConsumeBool() ? 0x11 : in.ConsumeIntegralInRange(0, 0x1F);
  request.Address = request.CtrlCode == 0x13 || request.CtrlCode == 0x15 ? "AAAAAAAAAAAA" : PickAddress(in);
  // The address commands go to the wildcard address and are never relayed (the reply to 15H
  // comes from the new address).
  const bool addressCommand = request.CtrlCode == 0x13 || request.CtrlCode == 0x15;
  request.RelayCount = !addressCommand && in.ConsumeIntegralInRange(0, 5) == 0 ? in.ConsumeIntegralInRange(1, 3) : 0;
  std::string destination = request.Address;
  for (int i = 0; i < request.RelayCount; ++i) {
    destination = PickAddress(in);
    request.RelayData += WireHex(destination);
  }
  const uint32_t di = in.ConsumeBool() ? 0x00010000u : in.ConsumeIntegral<uint32_t>();
  for (int i = 0; i < 4; ++i) request.DI += TStringUtil::BytesToHex(reinterpret_cast<const uint8_t*>(&di) + i, 1);
  std::string data = request.RelayData + request.DI;
  const std::vector<uint8_t> more = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 12));
  data += TStringUtil::BytesToHex(more.data(), static_cast<int>(more.size()));
  if (in.ConsumeBool()) data += WireHex(kOwn);
  // Through a collector exactly when the meter takes it so: sent to the collector, the meter's
  // address closing the data.
  request.ViaCollector = destination == kCollector && data.size() >= 12 && data.substr(data.size() - 12) == WireHex(kOwn);
  request.DataField = data;
  request.DataLen = static_cast<int>(data.size() / 2);
  std::unique_ptr<uint8_t[]> packed;
  int count = 0;
  std::string error;
  FUZZ_CHECK(TProtocol::Pack(request.Address, request, request.DataField, packed, count, error) == 0);
  bytes.assign(packed.get(), packed.get() + count);
  return request;
}

// Soundness: an accepted reply has the request's function and D7 (or is C0H).
void CheckAccepted(const TAnswerRule& rule, const TFrameBody& reply) {
  std::string reason = "unset";
  const bool answer = IsAnswer(rule, reply, reason);
  FUZZ_CHECK(answer == reason.empty());
  FUZZ_CHECK(answer == (JudgeReply(rule, reply) == afNone));
  if (answer && !rule.AnyReply)
    FUZZ_CHECK(reply.Ctrl == 0xC0 || ((reply.Ctrl & 0x80) && (reply.Ctrl & 0x1F) == rule.FuncCode));
}

// Completeness: the exact answer is accepted, the same frame with another function is not.
void CheckExactAnswer(FuzzedDataProvider& in, const TAnswerRule& rule) {
  if (rule.AnyReply) return;
  std::string address = rule.Address.empty() ? PickAddress(in) : rule.Address;
  for (std::size_t i = 0; i + 1 < address.size(); i += 2)
    if (address.compare(i, 2, "AA") == 0) address.replace(i, 2, "37");
  std::vector<uint8_t> data;
  for (std::size_t i = 0; i + 1 < rule.DI.size(); i += 2) {
    uint8_t b = 0;
    TStringUtil::TryHexPair(rule.DI.substr(i, 2), b);
    data.push_back(b);
  }
  const std::vector<uint8_t> value = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 8));
  data.insert(data.end(), value.begin(), value.end());
  const uint8_t flags = in.ConsumeBool() ? 0x20 : 0x00;
  std::string reason;
  FUZZ_CHECK(IsAnswer(rule, Body(Frame(address, static_cast<uint8_t>(0x80 | flags | rule.FuncCode), data)), reason));
  const uint8_t other = static_cast<uint8_t>((rule.FuncCode + in.ConsumeIntegralInRange(1, 31)) & 0x1F);
  const TFrameBody wrong = Body(Frame(address, static_cast<uint8_t>(0x80 | flags | other), data));
  if (wrong.Ctrl != 0xC0) FUZZ_CHECK(!IsAnswer(rule, wrong, reason) && !reason.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t size) {
  if (size > 2048) return 0;
  FuzzedDataProvider in(raw, size);
  std::vector<uint8_t> bytes;
  TDltFrame request;
  const bool typed = in.ConsumeIntegralInRange(0, 3) == 0;
  if (typed) {
    request.RawFrame = true;
    bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 64));
  } else {
    request = ComposedRequest(in, bytes);
  }
  const TAnswerRule rule = AnswerRule(request, bytes.data(), static_cast<int>(bytes.size()));
  if (!typed) FUZZ_CHECK(!rule.AnyReply && rule.FuncCode == (request.CtrlCode & 0x1F));

  // Whatever the meter answers is the answer.
  if (!typed) {
    TMeterCore meter(kOwn, "26404915", kCollector);
    const TMeterReply reply = meter.Handle(bytes);
    std::string reason;
    if (reply.Send) FUZZ_CHECK(IsAnswer(request, bytes.data(), static_cast<int>(bytes.size()), Body(reply.Frame), reason));
  }
  CheckExactAnswer(in, rule);

  // Any valid frame at all.
  std::string address = PickAddress(in);
  if (in.ConsumeBool()) {
    const std::vector<uint8_t> six = in.ConsumeBytes<uint8_t>(6);
    if (six.size() == 6) address = TStringUtil::BytesToHex(six.data(), 6);
  }
  const uint8_t ctrl = in.ConsumeIntegral<uint8_t>();
  const std::vector<uint8_t> frame = Frame(address, ctrl, in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 20)));
  CheckAccepted(rule, Body(frame));

  // The fault text of the frame check.
  const std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
  std::string verdict;
  const int len = static_cast<int>(rest.size());
  const std::string fault = FrameFault(rest.data(), len);
  if (len >= 12) FUZZ_CHECK(fault.empty() == (TProtocol::CheckFrame(rest.data(), len, verdict) == 0));
  else FUZZ_CHECK(!fault.empty());
  return 0;
}
