// The command line of `dlt645 compose` and `dlt645 send`: any run of options, values and words.
// Parsing either fails with a message or the composition does; a command that composes packs
// into a frame our own check accepts, with the entry's control code, the address asked for (or
// the command's fixed one), one relay per --relay and a preamble byte the channel can send; the
// same options always compose the same frame (broadcast time aside, which may send the clock).
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "cli/CommandOptions.h"
#include "protocol/Compose.h"
#include "protocol/Protocol.h"
#include "protocol/PublicFunc.h"
#include "protocol/SendCycle.h"

namespace {

const char* const kWords[] = {"read", "write", "read-mac", "write-mac", "read-address", "write-address",
                              "broadcast-time", "freeze", "baud", "password", "clear-demand", "clear-meter",
                              "clear-events", "read-next", "READ", "1", "01", "99", "000000000001", "AAAAAAAAAAAA",
                              "999999999999", "1234567890123", "00010000", "04000101", "0400010C", "04010000",
                              "12345678", "26404915", "FE:4", "fe:0", "00:65", "none", "QUIL", "中文", "ab",
                              "", "=", "-", "--", "9600", "2400", "0x10", " 1", "g", "040001"};

std::string Token(FuzzedDataProvider& in) {
  const auto& options = CommandValuedOptions();
  switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
    case 1:
    case 2: return options[in.ConsumeIntegralInRange<std::size_t>(0, options.size() - 1)];
    case 3: return options[in.ConsumeIntegralInRange<std::size_t>(0, options.size() - 1)] + "=" + kWords[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kWords / sizeof *kWords - 1)];
    case 4: return in.ConsumeRandomLengthString(16);
    default: return kWords[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kWords / sizeof *kWords - 1)];
  }
}

// The entry name's code: "读数据-11H" -> 0x11.
int EntryCode(const std::string& entry) {
  return std::stoi(entry.substr(entry.size() - 3, 2), nullptr, 16);
}

bool IsUpperHex(const std::string& s) {
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

void CheckComposed(const TCliArgs& args, const TDltFrame& frame, const TPreamble& preamble) {
  std::unique_ptr<uint8_t[]> bytes;
  int count = 0;
  std::string error, verdict;
  FUZZ_CHECK(TProtocol::Pack(frame.Address, frame, frame.DataField, bytes, count, error) == 0);
  FUZZ_CHECK(TProtocol::CheckFrame(bytes.get(), count, verdict) == 0);
  FUZZ_CHECK(count == static_cast<int>(frame.DataField.size() / 2) + 12);

  const int index = CommandEntryIndex(args.Get("--cmd"));
  FUZZ_CHECK(index >= 0);
  FUZZ_CHECK((bytes[8] & 0x1F) == EntryCode(CtrlListEntries()[static_cast<std::size_t>(index)]));
  const std::size_t relays = args.GetAll("--relay").size();
  FUZZ_CHECK(frame.RelayCount == static_cast<int>(relays) && (bytes[8] >> 5) == static_cast<int>(relays));
  if (relays == 0 && !frame.ViaCollector && args.Has("--address")) {
    std::string address = args.Get("--address");
    for (char& c : address) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    FUZZ_CHECK(frame.Address == PadAddress(address));
  }
  if (preamble.UseLC && preamble.LCCount > 0) {
    FUZZ_CHECK(preamble.LC.size() == 2 && IsUpperHex(preamble.LC));
    FUZZ_CHECK(preamble.LCCount <= 64);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 2048) return 0;
  FuzzedDataProvider in(bytes, size);
  std::vector<std::string> words;
  const int count = in.ConsumeIntegralInRange(0, 14);
  for (int i = 0; i < count; ++i) {
    std::string token = Token(in);
    if (token.rfind("--settings", 0) == 0) continue;  // a settings file of the fuzzer's choosing: not here
    words.push_back(token);
  }

  TCliArgs args;
  std::string error;
  if (!args.Parse(words, CommandValuedOptions(), CommandFlagOptions(), error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  TDltFrame frame;
  TPreamble preamble;
  const int rc = ComposeFromOptions(args, frame, preamble, error);
  FUZZ_CHECK(rc == ceOk || rc == ceFailed || rc == ceBadInput);
  FUZZ_CHECK((rc == ceOk) == error.empty());
  if (rc != ceOk) return 0;
  CheckComposed(args, frame, preamble);

  TDltFrame again;
  TPreamble preambleAgain;
  FUZZ_CHECK(ComposeFromOptions(args, again, preambleAgain, error) == ceOk);
  // Broadcast time without --data sends the clock's time, which may have moved on.
  if ((frame.CtrlCode & 0x1F) != 0x08) FUZZ_CHECK(FrameFieldLines(again) == FrameFieldLines(frame));
  return 0;
}
