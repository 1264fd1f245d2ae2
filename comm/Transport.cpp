#include "comm/Transport.h"

int TTransport::Open(const std::string& port, const std::string& settings, int inputMode, std::string& error) {
  const TOpenResult result = Open(port, settings, inputMode);
  error = result.Message;
  return result.Opened() ? 0 : 1;
}

int TTransport::WaitReadable(int timeoutMs) {
  std::string ignored;
  return WaitReadable(timeoutMs, ignored);
}
