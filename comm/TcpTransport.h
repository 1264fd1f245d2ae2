#pragma once
// A raw TCP client link (tcp://HOST:PORT): a serial server in raw mode, or a DTU reached by its
// address. The line settings are kept for the user to see; the server's own line carries them.
// Connects without blocking, bounded by ConnectTimeoutMs; waits are poll()-based and wake on
// Interrupt(); the peer closing or resetting the connection makes the link lost.
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "comm/FdTransport.h"

class TTcpTransport : public TFdTransport {
 public:
  TTcpTransport();
  ~TTcpTransport() override;
  TTcpTransport(const TTcpTransport&) = delete;
  TTcpTransport& operator=(const TTcpTransport&) = delete;
  using TTransport::Open;
  using TTransport::WaitReadable;

  static constexpr int ConnectTimeoutMs = 3000;
  static constexpr int WriteTimeoutMs = 2000;

  // `port` is a tcp:// name (comm/PortName.h).
  TOpenResult Open(const std::string& port, const std::string& settings, int inputMode) override;
  int Close(std::string& error) override;
  int DiscardInput(std::string& error) override;
  int Write(const uint8_t* buf, int count, std::string& error) override;
  int InBufferCount(std::string& error) override;
  int Read(int count, std::vector<uint8_t>& out, std::string& error) override;
  int WaitReadable(int timeoutMs, std::string& error) override;
  std::string Describe() const override;  // the name and, once connected, the peer's address

 protected:
  // Takes over a connected socket (the listening transport hands over the device that dialed in).
  void Adopt(int fd, const std::string& name, const std::string& settings, int inputMode);

 private:
  int Fail(const std::string& what, int err, std::string& error) const;
  int PeerClosed(std::string& error) const;

  std::string Peer;
};

// Waits for a device that dials in (tcp-listen://ADDR:PORT, a DTU in the field connecting to the
// workstation). Open listens and returns at once; the first connection becomes the link, later
// ones are closed at once with a log entry. Until a device has dialed in, writing fails with a
// message saying so and waits end at their deadline (or on a connection, or on Interrupt()).
class TTcpListenTransport : public TTcpTransport {
 public:
  TTcpListenTransport() = default;
  ~TTcpListenTransport() override;
  using TTransport::Open;
  using TTransport::WaitReadable;

  TOpenResult Open(const std::string& port, const std::string& settings, int inputMode) override;
  int Close(std::string& error) override;
  bool PortOpen() const override;
  std::string PortName() const override;
  std::string Settings() const override;
  int DiscardInput(std::string& error) override;
  int Write(const uint8_t* buf, int count, std::string& error) override;
  int InBufferCount(std::string& error) override;
  int Read(int count, std::vector<uint8_t>& out, std::string& error) override;
  int WaitReadable(int timeoutMs, std::string& error) override;
  std::string Describe() const override;
  // Waits for a device to dial in; true once one is connected and its link is not lost.
  bool WaitLinked(int timeoutMs) override;
  // The local port listened on (the one asked for, or the system's choice for port 0 in tests).
  int ListeningPort() const;

 private:
  // Accepts what is waiting: the first connection is adopted, any later one refused. True once
  // a device is connected.
  bool Accept();
  int NotConnected(std::string& error) const;

  mutable std::mutex ListenLock;
  std::condition_variable ListenDone;
  int ListenWaiters = 0;  // threads waiting in WaitReadable for a device to dial in
  int Listen = -1;
  bool Connected = false;
  std::string ListenName;
  std::string ListenSettings;
  int ListenMode = 1;
};
