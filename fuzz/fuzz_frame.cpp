// Arbitrary bytes from the serial line: the check must never read outside them, and whatever it
// accepts must unpack cleanly into fields that agree with the bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const int len = static_cast<int>(size);
  std::string verdict;
  const int checked = TProtocol::CheckFrame(data, len, verdict);

  // UnPack is also handed what the check refused: it must stay inside the buffer anyway.
  TFrameBody body;
  std::string error;
  const int unpacked = TProtocol::UnPack(data, len, body, error);
  if (body.FrameText.size() != size * 3) __builtin_trap();
  if (unpacked == 0 && !error.empty()) __builtin_trap();
  if (unpacked != 0 && error.empty()) __builtin_trap();

  if (checked == 0) {
    if (unpacked != 0) __builtin_trap();
    if (body.Len != len - 12) __builtin_trap();
    if (body.Data.size() != static_cast<size_t>(body.Len) * 2) __builtin_trap();
    if (body.Address.size() != 12) __builtin_trap();
    if (body.Ctrl != data[8] || body.FuncCode != (data[8] & 0x1F)) __builtin_trap();
  }
  return 0;
}
