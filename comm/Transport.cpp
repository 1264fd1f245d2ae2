#include "comm/Transport.h"

#include "comm/SerialPort.h"

int TTransport::Open(const std::string& port, const std::string& settings, int inputMode, std::string& error) {
  const TOpenResult result = Open(port, settings, inputMode);
  error = result.Message;
  return result.Opened() ? 0 : 1;
}

int TTransport::WaitReadable(int timeoutMs) {
  std::string ignored;
  return WaitReadable(timeoutMs, ignored);
}

double LineSendingMs(const std::string& settings, int count) {
  int baud = 0, dataBits = 0;
  char parity = 'N';
  double stopBits = 0;
  std::string ignored;
  if (count <= 0 || !TSerialPort::ParseSettings(settings, baud, parity, dataBits, stopBits, ignored) || baud <= 0)
    return 0;
  const double bits = 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits;
  return count * bits * 1000.0 / baud;
}
