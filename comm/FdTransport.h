#pragma once
// What the transports that carry the line on one file descriptor share (a local serial port, a
// TCP connection): the descriptor and what was opened, behind one lock; the wake-up pipe that
// ends a wait from another thread; the flag of a link that failed for good.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "comm/Transport.h"

class TFdTransport : public TTransport {
 public:
  TFdTransport();            // makes the wake-up pipe
  ~TFdTransport() override;  // closes it; the derived transport has closed its link by then
  TFdTransport(const TFdTransport&) = delete;
  TFdTransport& operator=(const TFdTransport&) = delete;

  bool PortOpen() const override;
  std::string PortName() const override;
  std::string Settings() const override;  // the settings text of the open link
  int InputMode() const override;         // 0 text, 1 binary; the bytes handed over are the same
  void Interrupt() override;
  bool Lost() const override;

 protected:
  // Empties the wake-up pipe before a wait, so that only a later Interrupt() ends it.
  void DrainWake();

  mutable std::recursive_mutex Lock;
  std::condition_variable_any WaitersDone;
  int Fd = -1;
  int WakeFd[2] = {-1, -1};
  int Waiters = 0;  // threads inside a wait on Fd
  int Mode = 1;
  std::string Name;
  std::string SettingsText;
  mutable std::atomic<bool> LostFlag{false};
};
