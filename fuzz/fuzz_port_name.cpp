// Port names as a user types them: any text is either refused with a message or accepted; an
// accepted name, written back, reads as the same name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "comm/PortName.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TPortName name;
  std::string error;
  if (!ParsePortName(text, name, error)) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (!error.empty()) std::abort();
  if (name.Kind != TPortKind::Device && (name.Port < 1 || name.Port > 65535 || name.Host.empty())) std::abort();
  TPortName again;
  if (!ParsePortName(DescribePortName(name), again, error) || !(again == name)) std::abort();
  return 0;
}
