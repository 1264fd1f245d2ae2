#pragma once
// The virtual meter behind a serial server: a TCP listener whose connection is bridged to the
// meter's pseudo-terminal, as ser2net in raw mode bridges a socket to a serial line. One client
// at a time; a second connection while one is served is closed at once.
// Or the meter behind a DTU that dials in: the bridge connects to the workstation and, when
// the connection drops or is refused, dials again (after 0.5 s, doubling up to 8 s).
#include <memory>
#include <string>

class TTcpBridge {
 public:
  TTcpBridge();
  ~TTcpBridge();  // stops the bridge
  TTcpBridge(const TTcpBridge&) = delete;
  TTcpBridge& operator=(const TTcpBridge&) = delete;

  // `listen` is a tcp:// name (the address to listen on); `device` the meter's pty path.
  bool Start(const std::string& listen, const std::string& device, std::string& error);
  // `connect` is a tcp:// name to dial; a host that does not resolve is refused at once.
  // Each connection made and each one lost is printed on standard output.
  bool StartDialOut(const std::string& connect, const std::string& device, std::string& error);
  void Stop();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};
