#pragma once
// The port the workbench opens by name: the name says which transport carries it (a device path
// a local serial port, tcp:// a TCP client, rfc2217:// a client of RFC 2217, tcp-listen:// a
// device dialing in; comm/PortName.h). Everything above comm/ holds one of these and never
// learns which transport is inside. A transport replaced by a later Open
// stays alive while another thread is still inside one of its operations.
//
// A link that fails by itself (a device unplugged or hung up, a peer that closed or reset the
// connection) is reopened by itself, after the rules of comm/Reconnect.h: the failed transport
// is closed at once, the same device (by path, by-id name or USB serial number) or the same
// network name is tried again until it opens, and the loss and the return are logged. Until
// then the link stays open in the user's eyes (PortOpen), Lost() is true and operations fail
// with the lost text and the reason of the loss. A link closed by hand is never reopened. A supervising thread, running
// while the link is open, notices a loss on an idle link too and does the reopening.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "comm/Reconnect.h"
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
  bool WaitLinked(int timeoutMs) override;
  double SendingMs(int count) const override;

  TLinkState State() const;
  // How many times the link was lost since it was opened by hand.
  uint64_t Losses() const;

  // A transport for the name, not yet open; null with a message when the name is refused.
  static std::unique_ptr<TTransport> ForName(const std::string& port, std::string& error);

 private:
  std::shared_ptr<TTransport> Current() const;
  // After an operation of `t` that failed: a failure for good makes the link lost.
  void Failed(const std::shared_ptr<TTransport>& t, const std::string& why);
  int Unavailable(std::string& error) const;
  void Supervise(std::stop_token stop);
  void Watch(std::stop_token& stop, std::unique_lock<std::mutex>& lock);
  void Reopen(std::stop_token& stop, std::unique_lock<std::mutex>& lock, TRetrySchedule& schedule);
  std::shared_ptr<TTransport> TryOpen(bool& tried);
  void StopSupervisor();

  mutable std::mutex Lock;
  std::condition_variable_any Changed;
  std::shared_ptr<TTransport> Inner;
  TLinkState LinkState = TLinkState::Closed;
  // What was opened by hand, to open again.
  std::string WantPort, WantSettings, WantName;
  int WantMode = 1;
  bool IsDevice = false;
  TDeviceIdentity Identity;
  uint64_t LossCount = 0;
  uint64_t Interrupts = 0;
  std::chrono::steady_clock::time_point LostAt{};
  std::string LostWhy;  // the transport's message at the loss
  // The transport the supervisor is opening again, so that a Close by hand can end its connect.
  std::shared_ptr<TTransport> Opening;
  std::jthread Supervisor;
};
