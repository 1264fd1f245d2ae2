// The serial port adapter on POSIX termios. Works on real ports (ttyS, ttyUSB, ttyACM) and on
// pseudo-terminals. The port is opened non-blocking and exclusively (TIOCEXCL keeps other
// programs out, flock does the same for programs running as root, a UUCP lock file for programs
// that honour only those).
#include "comm/SerialPort.h"

#include <fcntl.h>
#include <linux/serial.h>
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

// A system error as the user reads it: the usual ones of a serial line in words, any other by
// its number and the system's own text.
std::string SystemErrorText(int err) {
  switch (err) {
    case EIO:
    case ENXIO:
    case ENODEV: return "设备已断开";
    case EACCES:
    case EPERM: return "没有权限";
    case EBUSY: return "设备忙";
    case EBADF: return "串口已关闭";
    case EINVAL: return "参数无效";
    case EAGAIN: return "设备暂时无法操作";
    default: return "系统错误" + std::to_string(err) + "（" + std::strerror(err) + "）";
  }
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

TSerialPort::TSerialPort() = default;

TSerialPort::~TSerialPort() {
  std::string ignored;
  Close(ignored);
}

namespace {

std::vector<std::string> SettingsParts(const std::string& settings) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t comma = settings.find(',', start);
    parts.push_back(Trim(settings.substr(start, comma == std::string::npos ? std::string::npos
                                                                              : comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return parts;
}

// "RS485" or "RS485:BEFORE:AFTER" (any letter case), delays 0..1000 ms.
bool Rs485Part(const std::string& part, TRs485& rs485) {
  std::string upper = part;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  rs485 = TRs485();
  if (upper.rfind("RS485", 0) != 0) return false;
  rs485.Enabled = true;
  if (upper.size() == 5) return true;
  const size_t second = upper.find(':', 6);
  return upper[5] == ':' && second != std::string::npos &&
         ParseInt(upper.substr(6, second - 6), rs485.DelayBeforeMs) && rs485.DelayBeforeMs <= 1000 &&
         ParseInt(upper.substr(second + 1), rs485.DelayAfterMs) && rs485.DelayAfterMs <= 1000;
}

}  // namespace

bool TSerialPort::ParseRs485(const std::string& settings, TRs485& rs485, std::string& error) {
  const std::vector<std::string> parts = SettingsParts(settings);
  rs485 = TRs485();
  if (parts.size() != 5) return true;
  if (Rs485Part(parts[4], rs485)) return true;
  error = "串口设置“" + settings + "”无效：第五项“" + parts[4] + "”应为RS485或RS485:发送前延时:发送后延时（毫秒，0到1000）！";
  return false;
}

bool TSerialPort::ParseSettings(const std::string& settings, int& baud, char& parity,
                                int& dataBits, double& stopBits, std::string& error) {
  std::vector<std::string> parts = SettingsParts(settings);
  const std::string invalid = "串口设置“" + settings + "”无效：";
  TRs485 rs485;
  if (parts.size() == 5 && !ParseRs485(settings, rs485, error)) return false;
  if (parts.size() == 5) parts.pop_back();
  if (parts.size() != 4) {
    error = invalid + "应为“波特率,校验位,数据位,停止位”，例如9600,N,8,1！";
    return false;
  }
  speed_t speed;
  if (!ParseInt(parts[0], baud) || !SpeedOf(baud, speed)) {
    error = invalid + "不支持波特率“" + parts[0] + "”！";
    return false;
  }
  std::string p = parts[1];
  parity = p.size() == 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(p[0]))) : '?';
  if (std::strchr("NEOMS", parity) == nullptr || parity == '\0') {
    error = invalid + "校验位“" + p + "”应为N、E、O、M或S！";
    return false;
  }
  if (!ParseInt(parts[2], dataBits) || dataBits < 5 || dataBits > 8) {
    error = invalid + "数据位“" + parts[2] + "”应为5、6、7或8！";
    return false;
  }
  if (parts[3] == "1") {
    stopBits = 1;
  } else if (parts[3] == "1.5") {
    stopBits = 1.5;
  } else if (parts[3] == "2") {
    stopBits = 2;
  } else {
    error = invalid + "停止位“" + parts[3] + "”应为1、1.5或2！";
    return false;
  }
  return true;
}

int TSerialPort::FailLocked(const std::string& what, int err, std::string& error) const {
  error = "串口" + Name + what + "失败：" + SystemErrorText(err);
  if (err == EIO || err == ENXIO || err == ENODEV) LostFlag = true;
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
  return Refused(TOpenRefusal::Unavailable, "串口" + port + "已被" + HolderText(holder) + "占用" + how + "！",
                 "占用程序：" + HolderText(holder));
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
  if (group.empty()) return Refused(TOpenRefusal::Unavailable, "没有打开串口" + port + "的权限！");
  return Refused(TOpenRefusal::Unavailable, "没有打开串口" + port + "的权限（串口属于用户组" + group + "）！",
                 "当前用户无权打开" + port + "：串口属于用户组" + group + "，请把用户加入该组后重新登录。");
}

}  // namespace

TOpenResult TSerialPort::Open(const std::string& port, const std::string& settings, int inputMode) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (Fd >= 0) return Refused(TOpenRefusal::Unavailable, "串口" + Name + "已经打开！");
  // Whether the port can be had at all comes first, whatever settings were asked for.
  TOpenResult result = CheckAvailable(port);
  int fd = -1;
  if (result.Opened()) result = OpenDevice(port, fd);
  if (!result.Opened()) return result;
  result = ApplySettings(fd, port, settings);
  if (result.Opened()) result = ApplyRs485(fd, port, settings);
  TPortHolder holder;
  if (result.Opened() && !LockFile.Take(port, holder)) result = HeldBy(port, holder, "（锁文件）");
  if (result.Opened() && ioctl(fd, TIOCEXCL) != 0) {
    result = Refused(TOpenRefusal::Unavailable, "无法独占打开串口" + port + "：" + SystemErrorText(errno));
    LockFile.Release();
  }
  if (!result.Opened()) {
    close(fd);
    return result;
  }
  tcflush(fd, TCIOFLUSH);
  Fd = fd;
  LostFlag = false;
  Name = port;
  SettingsText = settings;
  Mode = inputMode;
  return result;
}

void TSerialPort::SetLockFolders(std::vector<std::string> folders) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  LockFile.SetFolders(std::move(folders));
}

// The port exists and no other program holds it by a lock file or an open descriptor.
TOpenResult TSerialPort::CheckAvailable(const std::string& port) {
  if (port.empty()) return Refused(TOpenRefusal::Unavailable, "未指定串口！");
  struct stat st{};
  if (stat(port.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
    return Refused(TOpenRefusal::Unavailable, "串口" + port + "不存在！");
  if (const TPortHolder holder = LockFile.Holder(port); holder.Pid != 0)
    return HeldBy(port, holder, "（锁文件" + UucpLockName(port) + "）");
  if (const TPortHolder holder = OpeningProcess(port); holder.Pid != 0) return HeldBy(port, holder, "");
  return {};
}

// Opens the device and takes its flock; `fd` is set only on success.
TOpenResult TSerialPort::OpenDevice(const std::string& port, int& fd) {
  const int handle = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (handle < 0) {
    const int err = errno;
    if (err == ENOENT || err == ENXIO || err == ENODEV)
      return Refused(TOpenRefusal::Unavailable, "串口" + port + "不存在！");
    if (err == EBUSY) return Refused(TOpenRefusal::Unavailable, "串口" + port + "已被其他程序占用！");
    if (err == EACCES || err == EPERM) return NoPermission(port);
    return Refused(TOpenRefusal::Unavailable, "无法打开串口" + port + "：" + SystemErrorText(err));
  }
  auto fail = [handle](const std::string& message) {
    close(handle);
    return Refused(TOpenRefusal::Unavailable, message);
  };
  if (!isatty(handle)) return fail(port + "不是串口！");
  // Lock before touching the line settings, so a port in use keeps its settings.
  if (flock(handle, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return fail("串口" + port + "已被其他程序占用！");
    return fail("无法锁定串口" + port + "：" + SystemErrorText(errno));
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
    return SettingsRefused("串口" + port + "不支持1.5位停止位，请选择1或2！");

  termios tio{};
  if (tcgetattr(fd, &tio) != 0)
    return SettingsRefused("无法读取串口" + port + "的设置：" + SystemErrorText(errno));
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
    return SettingsRefused("串口" + port + "不接受设置" + settings + "：" + SystemErrorText(errno));
  termios check{};
  if (tcgetattr(fd, &check) != 0 || cfgetospeed(&check) != speed || (check.c_lflag & ICANON) != 0 ||
      (!pty && ((check.c_cflag & CSIZE) != size || (check.c_cflag & PARENB) != (tio.c_cflag & PARENB))))
    return SettingsRefused("串口" + port + "不接受设置" + settings + "！");
  return {};
}

// The kernel's RS-485 mode where the settings ask for it; a port whose driver has none (a pty,
// most USB adapters) is refused saying so, rather than sending with the direction never switched.
TOpenResult TSerialPort::ApplyRs485(int fd, const std::string& port, const std::string& settings) {
  TRs485 rs485;
  std::string error;
  Rs485Before.clear();
  if (!ParseRs485(settings, rs485, error)) return SettingsRefused(error);
  if (!rs485.Enabled) return {};
  serial_rs485 before{};
  const bool known = ioctl(fd, TIOCGRS485, &before) == 0;
  serial_rs485 conf{};
  conf.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  conf.delay_rts_before_send = static_cast<uint32_t>(rs485.DelayBeforeMs);
  conf.delay_rts_after_send = static_cast<uint32_t>(rs485.DelayAfterMs);
  if (ioctl(fd, TIOCSRS485, &conf) != 0) {
    const int err = errno;
    if (err == ENOTTY || err == EINVAL || err == EOPNOTSUPP)
      return SettingsRefused("串口" + port + "不支持RS-485收发控制（驱动没有内核的RS-485模式）！请取消RS-485选项，或使用自动收发的转换器。");
    return SettingsRefused("无法打开串口" + port + "的RS-485收发控制：" + SystemErrorText(err) + "！");
  }
  if (known) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&before);
    Rs485Before.assign(bytes, bytes + sizeof before);
  }
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
  // The lock file goes while the device is still open: once it is closed, another process may
  // get the same device (a pseudo-terminal's number is reused at once) and must not find a lock
  // naming this live process.
  LockFile.Release();
  if (Rs485Before.size() == sizeof(serial_rs485)) {
    serial_rs485 before{};
    std::memcpy(&before, Rs485Before.data(), sizeof before);
    ioctl(Fd, TIOCSRS485, &before);
    Rs485Before.clear();
  }
  ioctl(Fd, TIOCNXCL);
  flock(Fd, LOCK_UN);
  int rc = close(Fd);
  const int err = errno;
  Fd = -1;
  LostFlag = false;
  if (rc != 0 && err != EINTR && err != EIO) {
    error = "关闭串口" + Name + "失败：" + SystemErrorText(err);
    return 1;
  }
  return 0;
}

int TSerialPort::DiscardInput(std::string& error) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  error.clear();
  if (Fd < 0) {
    error = kPortNotOpen;
    return 1;
  }
  if (tcflush(Fd, TCIFLUSH) != 0) {
    FailLocked("清空接收数据", errno, error);
    return 1;
  }
  // Bytes that reached the line discipline after the flush are dropped as well.
  uint8_t scratch[4096];
  for (;;) {
    ssize_t n = read(Fd, scratch, sizeof scratch);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      FailLocked("读取数据", errno, error);
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
      FailLocked("写入数据", errno, error);
      return 1;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      error = "串口" + Name + "写入数据超时（" + std::to_string(count) + "字节只发出" + std::to_string(done) +
              "字节）！";
      return 1;
    }
    pollfd p{Fd, POLLOUT, 0};
    int r = poll(&p, 1, static_cast<int>(left));
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
      FailLocked("写入数据", EIO, error);
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
  if (ioctl(Fd, FIONREAD, &n) != 0) return FailLocked("查询状态", errno, error);
  if (n <= 0 && HungUp(Fd)) return FailLocked("查询状态", EIO, error);
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
    return FailLocked("读取数据", err, error);
  }
  out.resize(base + static_cast<size_t>(got));
  return got;
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
    return FailLocked("等待数据", err, error);
  }
  if (fds[0].revents & POLLNVAL) return FailLocked("等待数据", EBADF, error);
  if (fds[0].revents & (POLLHUP | POLLERR)) {
    // A hung-up line may still hold bytes that arrived before; hand those over first.
    int n = 0;
    if (Fd == fd && ioctl(fd, FIONREAD, &n) == 0 && n > 0) return 1;
    return FailLocked("等待数据", EIO, error);
  }
  if (fds[0].revents & POLLIN) return 1;
  return 0;
}

std::string TSerialPort::Describe() const { return PortName(); }

double TSerialPort::SendingMs(int count) const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (Fd < 0 || IsPseudoTerminal(Fd)) return 0;
  return LineSendingMs(SettingsText, count);
}

int TSerialPort::NativeHandle() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return Fd;
}
