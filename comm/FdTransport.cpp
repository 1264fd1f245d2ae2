#include "comm/FdTransport.h"

#include <fcntl.h>
#include <unistd.h>

TFdTransport::TFdTransport() {
  if (pipe2(WakeFd, O_NONBLOCK | O_CLOEXEC) != 0) WakeFd[0] = WakeFd[1] = -1;
}

TFdTransport::~TFdTransport() {
  if (WakeFd[0] >= 0) close(WakeFd[0]);
  if (WakeFd[1] >= 0) close(WakeFd[1]);
}

bool TFdTransport::PortOpen() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return Fd >= 0;
}

std::string TFdTransport::PortName() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return Name;
}

std::string TFdTransport::Settings() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return SettingsText;
}

int TFdTransport::InputMode() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return Mode;
}

void TFdTransport::Interrupt() {
  if (WakeFd[1] < 0) return;
  const uint8_t one = 1;
  const ssize_t n = write(WakeFd[1], &one, 1);
  (void)n;  // a full pipe already wakes every waiter
}

bool TFdTransport::Lost() const { return LostFlag.load(); }

void TFdTransport::DrainWake() {
  if (WakeFd[0] < 0) return;
  uint8_t scratch[64];
  while (read(WakeFd[0], scratch, sizeof scratch) > 0) {
  }
}
