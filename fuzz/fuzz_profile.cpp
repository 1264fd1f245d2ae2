// A meter profile as a lab may write it: any text, run in the sandbox. The loader never crashes,
// never hangs past its time limit and never accepts what it must refuse: an accepted profile has
// a 12-digit address, control codes 00H..1FH, 8-digit identifiers and a reply timeout of 1..60 s;
// a refused one says why.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "suite/Profile.h"

namespace {
bool Hex(const std::string& text, size_t size) {
  if (text.size() != size) return false;
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

void Check(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TMeterProfile profile;
  std::string error;
  if (!ProfileFromText(text, "fuzz.lua", profile, error)) {
    Check(!error.empty());
    return 0;
  }
  Check(Hex(profile.Address, 12));
  for (int ctrl : profile.Controls) Check(ctrl >= 0 && ctrl <= 0x1F);
  for (const auto& [set, ids] : profile.Identifiers)
    for (const std::string& di : ids) Check(Hex(di, 8));
  Check(profile.ReplyTimeoutSec >= 1 && profile.ReplyTimeoutSec <= 60);
  Check(profile.Text == text);
  return 0;
}
