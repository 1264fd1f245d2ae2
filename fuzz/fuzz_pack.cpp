// Arbitrary texts where the user types addresses and data: Pack either fails with a message and
// no buffer or builds a frame our own check accepts; the hex helpers never step outside a text.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/Protocol.h"
#include "protocol/PublicFunc.h"
#include "protocol/StringUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 2048) return 0;
  TDltFrame frame;
  frame.CtrlCode = data[0];
  frame.RelayCount = static_cast<int8_t>(data[1]);  // negative counts too
  const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
  // Address and data text are separated by the first '|'; without one everything is address.
  const size_t bar = rest.find('|');
  const std::string address = rest.substr(0, bar);
  const std::string dataText = bar == std::string::npos ? std::string() : rest.substr(bar + 1);

  std::unique_ptr<uint8_t[]> out;
  int outLen = -1;
  std::string error;
  const int rc = TProtocol::Pack(address, frame, dataText, out, outLen, error);
  if (rc == 0) {
    if (!out || !error.empty()) __builtin_trap();
    if (static_cast<size_t>(outLen) != dataText.size() / 2 + 12) __builtin_trap();
    std::string verdict;
    if (TProtocol::CheckFrame(out.get(), outLen, verdict) != 0) __builtin_trap();
    TFrameBody body;
    if (TProtocol::UnPack(out.get(), outLen, body, error) != 0) __builtin_trap();
    if (body.Len * 2 + 24 != outLen * 2) __builtin_trap();
  } else {
    if (out || outLen != 0 || error.empty()) __builtin_trap();
  }

  const std::string hex = TStringUtil::BytesToHex(data, static_cast<int>(size));
  if (hex.size() != size * 2) __builtin_trap();
  if (TStringUtil::BytesToHexSpaced(data, static_cast<int>(size)).size() != size * 3) __builtin_trap();

  const std::string reversed = ReverseHex(rest);
  if (reversed.size() != rest.size() + rest.size() % 2) __builtin_trap();
  if (rest.size() % 2 == 0 && ReverseHex(reversed) != rest) __builtin_trap();
  const std::string di = ReverseDI(rest);
  if (!di.empty() && di.size() != 8) __builtin_trap();
  const std::string addr = ReverseAddress(rest);
  if (!addr.empty() && addr.size() != 12) __builtin_trap();
  if (PadAddress(rest).size() != 12) __builtin_trap();
  int value = 0;
  TStringUtil::TryStrToInt(rest, value);
  return 0;
}
