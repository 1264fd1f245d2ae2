#pragma once
// A client of a serial server speaking RFC 2217 (rfc2217://HOST:PORT): a TCP link carrying telnet,
// on which the line settings (baud rate, data bits, parity, stop bits) are set on the server's
// serial port through COM-PORT-OPTION, each answer checked. Data is escaped both ways (FFH
// doubled), telnet commands in the incoming stream never reach the caller. A server that refuses
// the option, or does not speak telnet at all, is refused with a message saying so, unless the
// name asks to go on as raw TCP ("?fallback=raw"; the server's own line settings then apply).
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

#include "comm/Rfc2217Telnet.h"
#include "comm/TcpTransport.h"
#include "comm/Transport.h"

class TRfc2217Transport : public TTransport {
 public:
  TRfc2217Transport() = default;
  ~TRfc2217Transport() override;
  TRfc2217Transport(const TRfc2217Transport&) = delete;
  TRfc2217Transport& operator=(const TRfc2217Transport&) = delete;
  using TTransport::Open;
  using TTransport::WaitReadable;

  // Bound of the whole negotiation after the connection stands.
  static constexpr int NegotiateTimeoutMs = 3000;

  TOpenResult Open(const std::string& port, const std::string& settings, int inputMode) override;
  int Close(std::string& error) override;
  bool PortOpen() const override;
  std::string PortName() const override;
  std::string Settings() const override;
  int InputMode() const override;
  int DiscardInput(std::string& error) override;
  int Write(const uint8_t* buf, int count, std::string& error) override;
  int InBufferCount(std::string& error) override;
  int Read(int count, std::vector<uint8_t>& out, std::string& error) override;
  int WaitReadable(int timeoutMs, std::string& error) override;
  void Interrupt() override;
  std::string Describe() const override;  // the name and, once connected, the peer's address
  bool Lost() const override;             // the TCP link failed, or the server sent what is not telnet

 private:
  // The serial port option, then the line settings, each answer checked; the link stays open
  // only when the result is an open one.
  TOpenResult Negotiate(const TComPortLine& line, bool fallback);
  bool AwaitServer(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline,
                   std::string& why);
  // Reads what the link holds through the telnet parser: data to Pending, commands answered.
  // -1 with a message when the link failed or the server sent what is not telnet.
  int Pump(std::string& error);
  int Failure(int pumped, std::string& error) const;

  mutable std::mutex Lock;
  TTcpTransport Link;
  TTelnetParser Parser;
  TRfc2217Client Client;
  bool Telnet = true;  // false once gone on as raw TCP with a server that does not speak telnet
  std::vector<uint8_t> Pending;
  std::string Name;
  std::string Fault;      // the server's telnet fault, reported once it is the next thing to hand over
  std::string FaultText;  // the same without the link's name
  std::atomic<bool> Garbled{false};
};
