// The virtual meter's request handling, fed a run of well-formed frames of any control code,
// address, relay route and data (identifiers and passwords the meter knows now and then): each
// reply is a valid frame from the meter (D7 set) answering the request's own function, from the
// meter's own address or the relayed destination, abnormal replies carry one error word, a read
// reply starts with the identifier asked for; broadcasts, broadcast time and frames for other
// meters get no reply and change nothing a refused write could change.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "protocol/Protocol.h"
#include "sim/MeterCore.h"

namespace {

const char* const kOwn = "000000000001";
const char* const kCollector = "112233445566";
const char* const kAddresses[] = {kOwn, "AAAAAAAAAAAA", "999999999999", kCollector, "000000000002"};
const uint8_t kFuncs[] = {0x08, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x03, 0x1F};

void PutAddress(std::vector<uint8_t>& out, const std::string& display) {
  for (uint8_t b : TMeterData::AddressBytes(display)) out.push_back(b);
}

std::string PickAddress(FuzzedDataProvider& in) {
  return kAddresses[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kAddresses / sizeof *kAddresses - 1)];
}

// The data field (without the 33H offset): relay addresses, then an identifier, the password,
// an operator code and more bytes as the fuzzer likes, then a collector suffix now and then.
std::vector<uint8_t> PickData(FuzzedDataProvider& in, int relays) {
  std::vector<uint8_t> data;
  for (int i = 0; i < relays; ++i) PutAddress(data, PickAddress(in));
  if (in.ConsumeBool()) {
    const auto& facts = CatalogFacts();
    const uint32_t di = facts[in.ConsumeIntegralInRange<std::size_t>(0, facts.size() - 1)].DI;
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(di >> (8 * i)));
  }
  if (in.ConsumeBool()) data.insert(data.end(), {0x15, 0x49, 0x40, 0x26});  // 26404915, wire order
  const std::vector<uint8_t> more = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 40));
  data.insert(data.end(), more.begin(), more.end());
  if (in.ConsumeIntegralInRange(0, 3) == 0) PutAddress(data, kOwn);
  return data;
}

struct TRequestFacts {
  std::vector<uint8_t> Frame;
  std::string Address;       // where it was sent
  std::string Destination;   // the final relay, or the address
  uint8_t Func = 0;
  std::vector<uint8_t> Data;  // after the relay addresses
};

TRequestFacts PickRequest(FuzzedDataProvider& in) {
  TRequestFacts r;
  const int relays = in.ConsumeIntegralInRange(0, 7) < 6 ? 0 : in.ConsumeIntegralInRange(1, 3);
  r.Func = in.ConsumeBool() ? kFuncs[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kFuncs - 1)]
                            : in.ConsumeIntegralInRange<uint8_t>(0, 0x1F);
  r.Address = PickAddress(in);
  std::vector<uint8_t> data = PickData(in, relays);
  if (data.size() > 255) data.resize(255);
  r.Destination = relays > 0 && data.size() >= 6u * relays ? TMeterData::AddressText(&data[6 * (relays - 1)]) : r.Address;
  r.Data.assign(data.begin() + std::min<std::size_t>(data.size(), 6u * relays), data.end());
  r.Frame = TMeterCore::BuildFrame(r.Address, static_cast<uint8_t>(r.Func | relays << 5), data);
  r.Frame[8] = static_cast<uint8_t>(r.Func | relays << 5);  // BuildFrame sets the byte as given
  return r;
}

void CheckReply(const TRequestFacts& request, const TMeterReply& reply, const std::string& ownBefore,
                const std::string& ownAfter) {
  FUZZ_CHECK(!reply.Note.empty());
  const bool broadcast = request.Destination == "999999999999";
  if (request.Func == 0x08 || broadcast) FUZZ_CHECK(!reply.Send);
  if (!reply.Send) return;
  std::string verdict;
  const std::vector<uint8_t>& f = reply.Frame;
  FUZZ_CHECK(TProtocol::CheckFrame(f.data(), static_cast<int>(f.size()), verdict) == 0);
  TFrameBody body;
  std::string error;
  FUZZ_CHECK(TProtocol::UnPack(f.data(), static_cast<int>(f.size()), body, error) == 0);
  FUZZ_CHECK(body.Dir == 1 && body.FuncCode == request.Func);
  const bool fromMeter = body.Address == ownBefore || body.Address == ownAfter;
  FUZZ_CHECK(fromMeter || body.Address == request.Destination);
  if (!body.Normal) {
    FUZZ_CHECK(body.Len == 1 || body.Len == 7);  // the error word, then a collector suffix
    FUZZ_CHECK(body.LastFrame);
  }
  if (body.Normal && (request.Func == 0x11 || request.Func == 0x12)) {
    FUZZ_CHECK(body.Len >= 4);
    for (int i = 0; i < 4; ++i) FUZZ_CHECK(f[10 + i] == static_cast<uint8_t>(request.Data[i] + 0x33));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 4096) return 0;
  FuzzedDataProvider in(bytes, size);
  TMeterCore meter(kOwn, "26404915", kCollector);
  const int count = in.ConsumeIntegralInRange(1, 8);
  for (int i = 0; i < count && in.remaining_bytes() > 0; ++i) {
    const TRequestFacts request = PickRequest(in);
    const TMeterState before = meter.State;
    const TMeterReply reply = meter.Handle(request.Frame);
    CheckReply(request, reply, before.Address, meter.State.Address);
    // A refused password or a frame for nobody changes nothing.
    if (!reply.Send && request.Func != 0x08) {
      FUZZ_CHECK(meter.State.Address == before.Address && meter.State.Password == before.Password);
      FUZZ_CHECK(meter.State.Stored == before.Stored);
    }
    if (reply.Send && reply.Frame[8] == (0xC0 | request.Func) && reply.Frame[10] == 0x04 + 0x33) {
      FUZZ_CHECK(meter.State.Password == before.Password && meter.State.Stored == before.Stored);
    }
  }
  // Frames cut short or of a wrong length are never answered.
  std::vector<uint8_t> odd = in.ConsumeRemainingBytes<uint8_t>();
  if (odd.size() >= 10) odd[9] = static_cast<uint8_t>(odd.size() - 11);
  FUZZ_CHECK(!meter.Handle(odd).Send);
  return 0;
}
