#pragma once
// The reconnect policy of a link that was lost: how long to wait before each attempt, which
// device to reopen, and the texts of a loss and a return. Pure rules, kept apart from the
// thread that applies them (TPortLink), so that they are tested without waiting.
#include <string>
#include <utility>
#include <vector>

// The waits between attempts: 0.5 s first, doubling up to 8 s, then 8 s for as long as it takes.
class TBackoff {
 public:
  static constexpr int FirstMs = 500;
  static constexpr int MaxMs = 8000;
  // The wait before the next attempt; each call doubles the one after, up to MaxMs.
  int NextMs();
  // After a return: the next loss starts again from FirstMs.
  void Reset() { Next = FirstMs; }

 private:
  int Next = FirstMs;
};

// When to try again after a loss. A network link is tried when the backoff has passed; a local
// device is looked for every DeviceCheckMs (a look costs nothing) and opened once it is there
// and the backoff has passed, so that a device plugged back in is reopened at once, while one
// that is there but refuses (udev has not given it its permissions yet) is not hammered.
class TRetrySchedule {
 public:
  static constexpr int DeviceCheckMs = 100;
  // At the loss: the first attempt is due TBackoff::FirstMs later.
  void Start(long long nowMs);
  bool Due(long long nowMs) const { return nowMs >= DueMs; }
  // An attempt failed: the next is due after the next step of the backoff.
  void Failed(long long nowMs) { DueMs = nowMs + Steps.NextMs(); }
  // How long to sleep before looking again.
  long long SleepMs(long long nowMs, bool device) const;

 private:
  TBackoff Steps;
  long long DueMs = 0;
};

// What a user would call "the same device": the path opened by hand and, for a USB adapter,
// its serial number and its /dev/serial/by-id name, taken while the device was there.
struct TDeviceIdentity {
  std::string Path;
  std::string Serial;  // empty when the device has none (a pty, a built-in port)
  std::string ById;    // the /dev/serial/by-id link that named it, or empty
  // When the path is a link to a pseudo-terminal (a virtual meter's link): the link file itself
  // (its inode and change time in nanoseconds, as an inode number may be handed on at once). A
  // program that makes such a link anew on its return makes a new file; the old one, left
  // behind by a program that died, names a pty number the system hands to the next pty opened,
  // which is another program's line.
  std::pair<unsigned long long, long long> PtyLink{0, 0};
};

// True while the lost device's path is still the link to a pty that it was at the loss.
bool StalePtyLink(const TDeviceIdentity& lost);

// A serial device that is there now.
struct TPresentDevice {
  std::string Path;
  std::string Serial;
};

// The path to reopen for a lost device: its own path when it is back, else the by-id link when
// it is back, else the device with the same serial number under another path; empty while
// none of them is there. A /dev/pts path is never reopened (its number goes to the next pty;
// a pty behind a link path of its own is reopened by the link).
std::string ChooseReturnPath(const TDeviceIdentity& lost, bool pathExists, bool byIdExists,
                             const std::vector<TPresentDevice>& present);

// Where a link stands, as its owner sees it.
enum class TLinkState {
  Closed,  // never opened, or closed by hand: nothing is reopened
  Open,    // carrying bytes
  Lost,    // failed by itself: reopened when it can be
};

// The reopening a state asks for: only a link that was lost, never one closed by hand.
inline bool ShouldReopen(TLinkState state) { return state == TLinkState::Lost; }

// The log entry of a loss (`what` is the link, `why` the transport's message) and of a return
// after `downMs` milliseconds.
std::string LossText(const std::string& what, const std::string& why);
std::string ReturnText(const std::string& what, long long downMs);
// The port pane: the port's name, or the lost text before it while it is being reopened.
std::string LinkPaneText(const std::string& name, bool lost);

// ---- The system's view of the devices (reads /sys and /dev; roots for tests) ----

// The identity of a device while it is there: its serial number from
// SYS/class/tty/NAME/device/../serial or ../../serial, and the by-id link pointing at it.
TDeviceIdentity DeviceIdentityOf(const std::string& path, const std::string& sysRoot = "/sys",
                                 const std::string& byIdDir = "/dev/serial/by-id");
// The tty devices with a serial number that are there now (SYS/class/tty/*).
std::vector<TPresentDevice> PresentDevices(const std::string& sysRoot = "/sys", const std::string& devDir = "/dev");
