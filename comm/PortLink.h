#pragma once
// The port the workbench opens by name: the name says which transport carries it (a device path
// a local serial port, tcp:// a TCP client, rfc2217:// a client of RFC 2217, tcp-listen:// a
// device dialing in; comm/PortName.h). Everything above comm/ holds one of these and never
// learns which transport is inside. A transport replaced by a later Open
// stays alive while another thread is still inside one of its operations.
#include <memory>
#include <mutex>

#include "comm/Transport.h"

class TPortLink : public TTransport {
 public:
  TPortLink() = default;
  ~TPortLink() override;
  TPortLink(const TPortLink&) = delete;
  TPortLink& operator=(const TPortLink&) = delete;
  using TTransport::Open;
  using TTransport::WaitReadable;

  // A name that is not valid, or a kind not offered yet, is refused with its message.
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
  std::string Describe() const override;
  bool Lost() const override;

  // A transport for the name, not yet open; null with a message when the name is refused.
  static std::unique_ptr<TTransport> ForName(const std::string& port, std::string& error);

 private:
  std::shared_ptr<TTransport> Current() const;

  mutable std::mutex Lock;
  std::shared_ptr<TTransport> Inner;
};
