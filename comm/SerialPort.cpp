// The serial port adapter on POSIX termios. Works on real ports (ttyS, ttyUSB, ttyACM) and on
// pseudo-terminals. The port is opened non-blocking and exclusively (TIOCEXCL keeps other
// programs out, flock does the same for programs running as root, a UUCP lock file for programs
// that honour only those).
#include "comm/SerialPort.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

// The text the whole system uses for a closed port.
const char* const kPortNotOpen = "串口未打开！";

struct TBaudEntry {
  int Baud;
  speed_t Speed;
};

const TBaudEntry kBauds[] = {
    {50, B50},         {75, B75},           {110, B110},         {134, B134},
    {150, B150},       {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedOf(int baud, speed_t& speed) {
  for (const auto& e : kBauds) {
    if (e.Baud == baud) {
      speed = e.Speed;
      return true;
    }
  }
  return false;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

bool ParseInt(const std::string& s, int& value) {
  if (s.empty() || s.size() > 9) return false;
  value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// True when the descriptor reports a hang-up or an error without waiting.
bool HungUp(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) < 0) return false;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Pseudo-terminal slaves (major 136..143) keep CS8 and no parity whatever is asked.
bool IsPseudoTerminal(int fd) {
  struct stat st{};
  if (fstat(fd, &st) != 0) return false;
  unsigned m = major(st.st_rdev);
  return m >= 136 && m <= 143;
}

}  // namespace

TSerialPort::TSerialPort() {
  if (pipe2(WakeFd, O_NONBLOCK | O_CLOEXEC) != 0) {
    WakeFd[0] = WakeFd[1] = -1;
  }
}

TSerialPort::~TSerialPort() {
  std::string ignored;
  Close(ignored);
  if (WakeFd[0] >= 0) close(WakeFd[0]);
  if (WakeFd[1] >= 0) close(WakeFd[1]);
}

bool TSerialPort::ParseSettings(const std::string& settings, int& baud, char& parity,
                                int& dataBits, double& stopBits, std::string& error) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t comma = settings.find(',', start);
    parts.push_back(Trim(settings.substr(start, comma == std::string::npos ? std::string::npos
                                                                              : comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (parts.size() != 4) {
    error = "Invalid port settings '" + settings + "': expected baud,parity,data bits,stop bits "
            "(for example 9600,N,8,1)";
    return false;
  }
  speed_t speed;
  if (!ParseInt(parts[0], baud) || !SpeedOf(baud, speed)) {
    error = "Invalid port settings '" + settings + "': baud rate '" + parts[0] +
            "' is not supported";
    return false;
  }
  std::string p = parts[1];
  parity = p.size() == 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(p[0]))) : '?';
  if (std::strchr("NEOMS", parity) == nullptr || parity == '\0') {
    error = "Invalid port settings '" + settings + "': parity '" + p +
            "' must be N, E, O, M or S";
    return false;
  }
  if (!ParseInt(parts[2], dataBits) || dataBits < 5 || dataBits > 8) {
    error = "Invalid port settings '" + settings + "': data bits '" + parts[2] +
            "' must be 5, 6, 7 or 8";
    return false;
  }
  if (parts[3] == "1") {
    stopBits = 1;
  } else if (parts[3] == "1.5") {
    stopBits = 1.5;
  } else if (parts[3] == "2") {
    stopBits = 2;
  } else {
    error = "Invalid port settings '" + settings + "': stop bits '" + parts[3] +
            "' must be 1, 1.5 or 2";
    return false;
  }
  return true;
}

int TSerialPort::FailLocked(const std::string& what, int err, std::string& error) const {
  if (err == EIO || err == ENXIO || err == ENODEV) {
    error = "Port " + Name + " " + what + " failed: the device is gone (" + std::strerror(err) + ")";
  } else {
    error = "Port " + Name + " " + what + " failed: " + std::strerror(err);
  }
  return -1;
}

namespace {

TOpenResult Refused(TOpenRefusal why, std::string message, std::string detail = {}) {
  TOpenResult result;
  result.Refusal = why;
  result.Message = std::move(message);
  result.Detail = std::move(detail);
  return result;
}

TOpenResult HeldBy(const std::string& port, const TPortHolder& holder, const std::string& how) {
  return Refused(TOpenRefusal::Unavailable, "Port " + port + " is in use by " + HolderText(holder) + how,
                 "Held by " + HolderText(holder));
}

TOpenResult SettingsRefused(const std::string& message) { return Refused(TOpenRefusal::Settings, message); }

// The name of the group that owns `port` (its number when the system has no name for it).
std::string OwningGroup(const std::string& port) {
  struct stat st{};
  if (stat(port.c_str(), &st) != 0) return {};
  group entry{};
  group* found = nullptr;
  std::vector<char> buffer(16384);
  if (getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) return found->gr_name;
  return std::to_string(st.st_gid);
}

// A port the user may not open: the second line names the group to join (dialout for serial
// adapters), so nobody hunts for a program holding the port.
TOpenResult NoPermission(const std::string& port) {
  const std::string group = OwningGroup(port);
  if (group.empty()) return Refused(TOpenRefusal::Unavailable, "No permission to open port " + port);
  return Refused(TOpenRefusal::Unavailable,
                 "No permission to open port " + port + " (it belongs to the group " + group + ")",
                 "This user may not open " + port + ": it belongs to the group " + group);
}

}  // namespace

TOpenResult TSerialPort::Open(const std::string& port, const std::string& settings, int inputMode) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (Fd >= 0) return Refused(TOpenRefusal::Unavailable, "Port " + Name + " is already open");
  // Whether the port can be had at all comes first, whatever settings were asked for.
  TOpenResult result = CheckAvailable(port);
  int fd = -1;
  if (result.Opened()) result = OpenDevice(port, fd);
  if (!result.Opened()) return result;
  result = ApplySettings(fd, port, settings);
  TPortHolder holder;
  if (result.Opened() && !LockFile.Take(port, holder)) result = HeldBy(port, holder, " (lock file)");
  if (result.Opened() && ioctl(fd, TIOCEXCL) != 0) {
    result = Refused(TOpenRefusal::Unavailable, "Cannot open port " + port + " exclusively: " + std::strerror(errno));
    LockFile.Release();
  }
  if (!result.Opened()) {
    close(fd);
    return result;
  }
  tcflush(fd, TCIOFLUSH);
  Fd = fd;
  Name = port;
  SettingsText = settings;
  Mode = inputMode;
  return result;
}

int TSerialPort::Open(const std::string& port, const std::string& settings, int inputMode,
                      std::string& error) {
  const TOpenResult result = Open(port, settings, inputMode);
  error = result.Message;
  return result.Opened() ? 0 : 1;
}

void TSerialPort::SetLockFolders(std::vector<std::string> folders) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  LockFile.SetFolders(std::move(folders));
}

// The port exists and no other program holds it by a lock file or an open descriptor.
TOpenResult TSerialPort::CheckAvailable(const std::string& port) {
  if (port.empty()) return Refused(TOpenRefusal::Unavailable, "No port given");
  struct stat st{};
  if (stat(port.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
    return Refused(TOpenRefusal::Unavailable, "Port " + port + " does not exist");
  if (const TPortHolder holder = LockFile.Holder(port); holder.Pid != 0)
    return HeldBy(port, holder, " (lock file " + UucpLockName(port) + ")");
  if (const TPortHolder holder = OpeningProcess(port); holder.Pid != 0) return HeldBy(port, holder, "");
  return {};
}

// Opens the device and takes its flock; `fd` is set only on success.
TOpenResult TSerialPort::OpenDevice(const std::string& port, int& fd) {
  const int handle = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (handle < 0) {
    const int err = errno;
    if (err == ENOENT || err == ENXIO || err == ENODEV)
      return Refused(TOpenRefusal::Unavailable, "Port " + port + " does not exist");
    if (err == EBUSY) return Refused(TOpenRefusal::Unavailable, "Port " + port + " is in use by another program");
    if (err == EACCES || err == EPERM) return NoPermission(port);
    return Refused(TOpenRefusal::Unavailable, "Cannot open port " + port + ": " + std::strerror(err));
  }
  auto fail = [handle](const std::string& message) {
    close(handle);
    return Refused(TOpenRefusal::Unavailable, message);
  };
  if (!isatty(handle)) return fail(port + " is not a serial port");
  // Lock before touching the line settings, so a port in use keeps its settings.
  if (flock(handle, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return fail("Port " + port + " is in use by another program");
    return fail("Cannot lock port " + port + ": " + std::strerror(errno));
  }
  fd = handle;
  return {};
}

// Raw mode and the line settings, read back to make sure the line took them.
TOpenResult TSerialPort::ApplySettings(int fd, const std::string& port, const std::string& settings) {
  int baud = 0, dataBits = 0;
  char parity = 'N';
  double stopBits = 1;
  std::string error;
  if (!ParseSettings(settings, baud, parity, dataBits, stopBits, error)) return SettingsRefused(error);
  // termios offers 1 or 2 stop bits only; a line that claims 1.5 would send 2.
  if (stopBits == 1.5)
    return SettingsRefused("Port " + port + " cannot send 1.5 stop bits: choose 1 or 2");

  termios tio{};
  if (tcgetattr(fd, &tio) != 0)
    return SettingsRefused("Cannot read the settings of port " + port + ": " + std::strerror(errno));
  cfmakeraw(&tio);
  tio.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  // A pseudo-terminal has no line: it keeps 8 data bits and no parity whatever is asked, and
  // asking for them makes the settings call fail. Its other end never sees a parity bit anyway.
  const bool pty = IsPseudoTerminal(fd);
  if (pty) {
    dataBits = 8;
    parity = 'N';
  }
  tcflag_t size = dataBits == 5 ? CS5 : dataBits == 6 ? CS6 : dataBits == 7 ? CS7 : CS8;
  tio.c_cflag |= size;
  switch (parity) {
    case 'E': tio.c_cflag |= PARENB; break;
    case 'O': tio.c_cflag |= PARENB | PARODD; break;
    case 'M': tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 'S': tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (stopBits == 2) tio.c_cflag |= CSTOPB;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  speed_t speed = B9600;
  SpeedOf(baud, speed);
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(fd, TCSANOW, &tio) != 0)
    return SettingsRefused("Port " + port + " refused the settings " + settings + ": " + std::strerror(errno));
  termios check{};
  if (tcgetattr(fd, &check) != 0 || cfgetospeed(&check) != speed || (check.c_lflag & ICANON) != 0 ||
      (!pty && ((check.c_cflag & CSIZE) != size || (check.c_cflag & PARENB) != (tio.c_cflag & PARENB))))
    return SettingsRefused("Port " + port + " refused the settings " + settings);
  return {};
}

int TSerialPort::Close(std::string& error) {
  std::unique_lock<std::recursive_mutex> lock(Lock);
  error.clear();
  if (Fd < 0) return 0;
  // A wait in progress polls Fd without the lock: end it before the descriptor goes away.
  while (Waiters > 0) {
    Interrupt();
    WaitersDone.wait_for(lock, std::chrono::milliseconds(10));
  }
  DrainWake();
  ioctl(Fd, TIOCNXCL);
  flock(Fd, LOCK_UN);
  int rc = close(Fd);
  const int err = errno;
  Fd = -1;
  LockFile.Release();
  if (rc != 0 && err != EINTR && err != EIO) {
    error = "Closing port " + Name + " failed: " + std::strerror(err);
    return 1;
  }
  return 0;
}

bool TSerialPort::PortOpen() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return Fd >= 0;
}

std::string TSerialPort::PortName() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return Name;
}

std::string TSerialPort::Settings() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return SettingsText;
}

int TSerialPort::InputMode() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return Mode;
}

int TSerialPort::DiscardInput(std::string& error) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  error.clear();
  if (Fd < 0) {
    error = kPortNotOpen;
    return 1;
  }
  if (tcflush(Fd, TCIFLUSH) != 0) {
    FailLocked("flush", errno, error);
    return 1;
  }
  // Bytes that reached the line discipline after the flush are dropped as well.
  uint8_t scratch[4096];
  for (;;) {
    ssize_t n = read(Fd, scratch, sizeof scratch);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      FailLocked("read", errno, error);
      return 1;
    }
    break;
  }
  return 0;
}

int TSerialPort::Write(const uint8_t* buf, int count, std::string& error) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  error.clear();
  if (Fd < 0) {
    error = kPortNotOpen;
    return 1;
  }
  if (count <= 0) return 0;
  // Bounded by the time the bytes take on the line plus two seconds, so a stuck line never hangs.
  int baud = 9600, dataBits = 8;
  char parity = 'N';
  double stopBits = 1;
  std::string ignored;
  ParseSettings(SettingsText, baud, parity, dataBits, stopBits, ignored);
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(2000 + static_cast<int64_t>(count) * 11000 / (baud > 0 ? baud : 9600));
  int done = 0;
  while (done < count) {
    ssize_t n = write(Fd, buf + done, static_cast<size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      FailLocked("write", errno, error);
      return 1;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      error = "Port " + Name + " write timed out (" + std::to_string(done) + " of " +
              std::to_string(count) + " bytes sent)";
      return 1;
    }
    pollfd p{Fd, POLLOUT, 0};
    int r = poll(&p, 1, static_cast<int>(left));
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
      FailLocked("write", EIO, error);
      return 1;
    }
  }
  return 0;
}

int TSerialPort::InBufferCount(std::string& error) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  error.clear();
  if (Fd < 0) {
    error = kPortNotOpen;
    return -1;
  }
  int n = 0;
  if (ioctl(Fd, FIONREAD, &n) != 0) return FailLocked("status", errno, error);
  if (n <= 0 && HungUp(Fd)) return FailLocked("status", EIO, error);
  return n < 0 ? 0 : n;
}

int TSerialPort::Read(int count, std::vector<uint8_t>& out, std::string& error) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  error.clear();
  if (Fd < 0) {
    error = kPortNotOpen;
    return -1;
  }
  if (count <= 0) return 0;
  size_t base = out.size();
  out.resize(base + static_cast<size_t>(count));
  int got = 0;
  while (got < count) {
    ssize_t n = read(Fd, out.data() + base + got, static_cast<size_t>(count - got));
    if (n > 0) {
      got += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    int err = n < 0 ? errno : EIO;
    if (n == 0 && !HungUp(Fd)) break;
    out.resize(base + static_cast<size_t>(got));
    if (got > 0) return got;  // hand over what arrived; the failure shows on the next call
    return FailLocked("read", err, error);
  }
  out.resize(base + static_cast<size_t>(got));
  return got;
}

int TSerialPort::WaitReadable(int timeoutMs) {
  std::string ignored;
  return WaitReadable(timeoutMs, ignored);
}

int TSerialPort::WaitReadable(int timeoutMs, std::string& error) {
  std::unique_lock<std::recursive_mutex> lock(Lock);
  error.clear();
  if (Fd < 0) {
    error = kPortNotOpen;
    return -1;
  }
  int fd = Fd;
  ++Waiters;
  lock.unlock();

  pollfd fds[2] = {{fd, POLLIN, 0}, {WakeFd[0], POLLIN, 0}};
  int r = poll(fds, WakeFd[0] >= 0 ? 2 : 1, timeoutMs < 0 ? 0 : timeoutMs);
  int err = errno;

  lock.lock();
  if (--Waiters == 0) WaitersDone.notify_all();
  if (r > 0 && (fds[1].revents & POLLIN)) DrainWake();
  if (r < 0) {
    if (err == EINTR) return 0;
    return FailLocked("wait", err, error);
  }
  if (fds[0].revents & POLLNVAL) return FailLocked("wait", EBADF, error);
  if (fds[0].revents & (POLLHUP | POLLERR)) {
    // A hung-up line may still hold bytes that arrived before; hand those over first.
    int n = 0;
    if (Fd == fd && ioctl(fd, FIONREAD, &n) == 0 && n > 0) return 1;
    return FailLocked("wait", EIO, error);
  }
  if (fds[0].revents & POLLIN) return 1;
  return 0;
}

void TSerialPort::Interrupt() {
  if (WakeFd[1] < 0) return;
  const uint8_t one = 1;
  ssize_t n = write(WakeFd[1], &one, 1);
  (void)n;  // a full pipe already wakes every waiter
}

void TSerialPort::DrainWake() {
  if (WakeFd[0] < 0) return;
  uint8_t scratch[64];
  while (read(WakeFd[0], scratch, sizeof scratch) > 0) {
  }
}
