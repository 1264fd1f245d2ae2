// The raw TCP client link.
#include "comm/TcpTransport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "comm/PortName.h"
#include "protocol/LogSink.h"

namespace {

const char* const kPortNotOpen = "串口未打开！";

std::string NetErrorText(int err) {
  switch (err) {
    case ECONNRESET: return "连接被对方重置";
    case EPIPE: return "连接已被对方关闭";
    case ECONNREFUSED: return "连接被拒绝";
    case ETIMEDOUT: return "连接超时";
    case EHOSTUNREACH:
    case ENETUNREACH: return "网络不可达";
    case EBADF: return "连接已关闭";
    default: return "系统错误" + std::to_string(err) + "（" + std::strerror(err) + "）";
  }
}

bool LinkGone(int err) { return err == ECONNRESET || err == EPIPE || err == ENOTCONN || err == ETIMEDOUT; }

TOpenResult Refused(std::string message) {
  TOpenResult result;
  result.Refusal = TOpenRefusal::Unavailable;
  result.Message = std::move(message);
  result.Detail = result.Message;  // the window's own line for a refused port, then this reason
  return result;
}

// The numeric address and port of the connected peer, e.g. "127.0.0.1:5000".
std::string PeerText(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  char host[NI_MAXHOST], serv[NI_MAXSERV];
  if (getnameinfo(reinterpret_cast<sockaddr*>(&addr), len, host, sizeof host, serv, sizeof serv,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return {};
  return std::string(host) + ":" + serv;
}

// Connects one resolved address within `timeoutMs`; the socket on success, -1 with errno set
// (ECANCELED when `wake` became readable: Interrupt() ends a connect in progress too).
int ConnectOne(const addrinfo& ai, int timeoutMs, int wake) {
  const int fd = socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
  if (fd < 0) return -1;
  if (connect(fd, ai.ai_addr, ai.ai_addrlen) == 0) return fd;
  int err = errno;
  if (err == EINPROGRESS) {
    pollfd p[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
    int r;
    do r = poll(p, wake >= 0 ? 2 : 1, timeoutMs); while (r < 0 && errno == EINTR);
    socklen_t len = sizeof err;
    if (r == 0) err = ETIMEDOUT;
    else if (r > 0 && (p[1].revents & POLLIN)) err = ECANCELED;
    else if (r < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (r > 0 && err == 0) return fd;
  }
  close(fd);
  errno = err;
  return -1;
}

}  // namespace

TTcpTransport::TTcpTransport() = default;

TTcpTransport::~TTcpTransport() {
  std::string ignored;
  Close(ignored);
}

TOpenResult TTcpTransport::Open(const std::string& port, const std::string& settings, int inputMode) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (Fd >= 0) return Refused("端口" + Name + "已经打开！");
  TPortName name;
  std::string error;
  if (!ParsePortName(port, name, error)) return Refused(error);
  if (name.Kind != TPortKind::Tcp) return Refused("端口名“" + port + "”不是tcp://地址！");
  const std::string shown = DescribePortName(name);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.Host.c_str(), std::to_string(name.Port).c_str(), &hints, &found) != 0 || !found)
    return Refused("无法连接" + shown + "：找不到主机“" + name.Host + "”！");
  int fd = -1, err = 0;
  for (addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next) {
    fd = ConnectOne(*ai, ConnectTimeoutMs, WakeFd[0]);
    if (fd < 0) err = errno;
  }
  freeaddrinfo(found);
  if (fd < 0) {
    if (err == ECANCELED) DrainWake();
    if (err == ECONNREFUSED) return Refused("无法连接" + shown + "：连接被拒绝（该端口没有服务在监听）！");
    if (err == ETIMEDOUT)
      return Refused("无法连接" + shown + "：" + std::to_string(ConnectTimeoutMs / 1000) + "秒内没有应答！");
    return Refused("无法连接" + shown + "：" + NetErrorText(err) + "！");
  }
  Adopt(fd, shown, settings, inputMode);
  return {};
}

void TTcpTransport::Adopt(int fd, const std::string& name, const std::string& settings, int inputMode) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Fd = fd;
  Name = name;
  Peer = PeerText(fd);
  SettingsText = settings;
  Mode = inputMode;
  LostFlag = false;
}

int TTcpTransport::Close(std::string& error) {
  std::unique_lock<std::recursive_mutex> lock(Lock);
  error.clear();
  if (Fd < 0) return 0;
  while (Waiters > 0) {
    Interrupt();
    WaitersDone.wait_for(lock, std::chrono::milliseconds(10));
  }
  DrainWake();
  close(Fd);
  Fd = -1;
  LostFlag = false;
  return 0;
}

std::string TTcpTransport::Describe() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (Fd < 0 || Peer.empty()) return Name;
  return Name + "（" + Peer + "）";
}

int TTcpTransport::Fail(const std::string& what, int err, std::string& error) const {
  error = "网络连接" + Name + what + "失败：" + NetErrorText(err);
  if (LinkGone(err)) LostFlag = true;
  return -1;
}

int TTcpTransport::PeerClosed(std::string& error) const {
  error = "网络连接" + Name + "已断开：对方关闭了连接";
  LostFlag = true;
  return -1;
}

int TTcpTransport::DiscardInput(std::string& error) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  error.clear();
  if (Fd < 0) {
    error = kPortNotOpen;
    return 1;
  }
  uint8_t scratch[4096];
  for (;;) {
    const ssize_t n = recv(Fd, scratch, sizeof scratch, MSG_DONTWAIT);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    if (n == 0) PeerClosed(error);
    else Fail("读取数据", errno, error);
    return 1;
  }
}

int TTcpTransport::Write(const uint8_t* buf, int count, std::string& error) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  error.clear();
  if (Fd < 0) {
    error = kPortNotOpen;
    return 1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WriteTimeoutMs);
  int done = 0;
  while (done < count) {
    const ssize_t n = send(Fd, buf + done, static_cast<size_t>(count - done), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      Fail("写入数据", errno, error);
      return 1;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      error = "网络连接" + Name + "写入数据超时（" + std::to_string(count) + "字节只发出" + std::to_string(done) + "字节）！";
      return 1;
    }
    pollfd p{Fd, POLLOUT, 0};
    poll(&p, 1, static_cast<int>(left));
  }
  return 0;
}

int TTcpTransport::InBufferCount(std::string& error) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  error.clear();
  if (Fd < 0) {
    error = kPortNotOpen;
    return -1;
  }
  int n = 0;
  if (ioctl(Fd, FIONREAD, &n) != 0) return Fail("查询状态", errno, error);
  if (n > 0) return n;
  // Nothing waiting: an orderly close or a reset shows as a readable socket with no bytes.
  uint8_t probe;
  const ssize_t r = recv(Fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (r == 0) return PeerClosed(error);
  if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return Fail("查询状态", errno, error);
  return r > 0 ? 1 : 0;
}

int TTcpTransport::Read(int count, std::vector<uint8_t>& out, std::string& error) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  error.clear();
  if (Fd < 0) {
    error = kPortNotOpen;
    return -1;
  }
  if (count <= 0) return 0;
  const size_t base = out.size();
  out.resize(base + static_cast<size_t>(count));
  int got = 0;
  int failure = 0;  // 0 none, -1 peer closed, else errno
  while (got < count) {
    const ssize_t n = recv(Fd, out.data() + base + got, static_cast<size_t>(count - got), MSG_DONTWAIT);
    if (n > 0) {
      got += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    failure = n == 0 ? -1 : errno;
    break;
  }
  out.resize(base + static_cast<size_t>(got));
  if (got > 0 || failure == 0) return got;  // what arrived first; a failure shows on the next call
  return failure < 0 ? PeerClosed(error) : Fail("读取数据", failure, error);
}

int TTcpTransport::WaitReadable(int timeoutMs, std::string& error) {
  std::unique_lock<std::recursive_mutex> lock(Lock);
  error.clear();
  if (Fd < 0) {
    error = kPortNotOpen;
    return -1;
  }
  const int fd = Fd;
  ++Waiters;
  lock.unlock();

  pollfd fds[2] = {{fd, POLLIN, 0}, {WakeFd[0], POLLIN, 0}};
  const int r = poll(fds, WakeFd[0] >= 0 ? 2 : 1, timeoutMs < 0 ? 0 : timeoutMs);
  const int err = errno;

  lock.lock();
  if (--Waiters == 0) WaitersDone.notify_all();
  if (r > 0 && (fds[1].revents & POLLIN)) DrainWake();
  if (r < 0) return err == EINTR ? 0 : Fail("等待数据", err, error);
  if (fds[0].revents & POLLNVAL) return Fail("等待数据", EBADF, error);
  if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
    // Bytes that came before a close are handed over first; a readable socket without bytes
    // means the peer has gone.
    const int n = TTcpTransport::InBufferCount(error);  // not the listener's: its lock comes first
    return n > 0 ? 1 : n < 0 ? -1 : 0;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Listening for a device that dials in

TTcpListenTransport::~TTcpListenTransport() {
  std::string ignored;
  Close(ignored);
}

TOpenResult TTcpListenTransport::Open(const std::string& port, const std::string& settings, int inputMode) {
  std::lock_guard<std::mutex> guard(ListenLock);
  if (Listen >= 0) return Refused("端口" + ListenName + "已经打开！");
  TPortName name;
  std::string error;
  if (!ParsePortName(port, name, error)) return Refused(error);
  if (name.Kind != TPortKind::TcpListen) return Refused("端口名“" + port + "”不是tcp-listen://地址！");
  const std::string shown = DescribePortName(name);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.Host.c_str(), std::to_string(name.Port).c_str(), &hints, &found) != 0 || !found)
    return Refused("无法在" + shown + "监听：找不到地址“" + name.Host + "”！");
  int fd = -1, err = 0;
  for (addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next) {
    fd = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    const int one = 1;
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd >= 0 && (bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || listen(fd, 4) != 0)) {
      err = errno;
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd < 0) {
    if (err == EADDRINUSE) return Refused("无法在" + shown + "监听：该端口已被占用！");
    if (err == EADDRNOTAVAIL) return Refused("无法在" + shown + "监听：本机没有地址" + name.Host + "！");
    return Refused("无法在" + shown + "监听：" + NetErrorText(err) + "！");
  }
  Listen = fd;
  Connected = false;
  ListenName = shown;
  ListenSettings = settings;
  ListenMode = inputMode;
  return {};
}

bool TTcpListenTransport::Accept() {
  std::lock_guard<std::mutex> guard(ListenLock);
  if (Listen < 0) return false;
  for (;;) {
    const int fd = accept4(Listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) break;
    if (!Connected) {
      Adopt(fd, ListenName, ListenSettings, ListenMode);
      Connected = true;
      LogEntry(ltNormal, "TTcpListenTransport.Accept", "设备已连入" + ListenName + "：" + TTcpTransport::Describe());
      continue;
    }
    // A second device on the same link: refused, the first keeps the link.
    const std::string peer = PeerText(fd);
    close(fd);
    LogEntry(ltError, "TTcpListenTransport.Accept",
             "拒绝连接：" + ListenName + "已有设备连入，" + (peer.empty() ? "另一设备" : peer) + "的连接已关闭");
  }
  return Connected;
}

int TTcpListenTransport::NotConnected(std::string& error) const {
  error = "尚无设备连入" + ListenName + "！";
  return -1;
}

int TTcpListenTransport::Close(std::string& error) {
  TTcpTransport::Close(error);
  std::unique_lock<std::mutex> lock(ListenLock);
  // A wait for a device polls Listen without the lock: end it before the socket goes away.
  while (ListenWaiters > 0) {
    Interrupt();
    ListenDone.wait_for(lock, std::chrono::milliseconds(10));
  }
  if (Listen >= 0) close(Listen);
  Listen = -1;
  Connected = false;
  return 0;
}

bool TTcpListenTransport::PortOpen() const {
  std::lock_guard<std::mutex> guard(ListenLock);
  return Listen >= 0;
}

std::string TTcpListenTransport::PortName() const {
  std::lock_guard<std::mutex> guard(ListenLock);
  return ListenName;
}

std::string TTcpListenTransport::Settings() const {
  std::lock_guard<std::mutex> guard(ListenLock);
  return ListenSettings;
}

int TTcpListenTransport::ListeningPort() const {
  std::lock_guard<std::mutex> guard(ListenLock);
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (Listen < 0 || getsockname(Listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

std::string TTcpListenTransport::Describe() const {
  {
    std::lock_guard<std::mutex> guard(ListenLock);
    if (!Connected) return ListenName;
  }
  return TTcpTransport::Describe();
}

int TTcpListenTransport::DiscardInput(std::string& error) {
  if (Accept()) return TTcpTransport::DiscardInput(error);
  error.clear();
  if (PortOpen()) return 0;  // nothing can be waiting before a device dials in
  error = kPortNotOpen;
  return 1;
}

int TTcpListenTransport::Write(const uint8_t* buf, int count, std::string& error) {
  if (Accept()) return TTcpTransport::Write(buf, count, error);
  if (PortOpen()) NotConnected(error);
  else error = kPortNotOpen;
  return 1;
}

int TTcpListenTransport::InBufferCount(std::string& error) {
  if (Accept()) return TTcpTransport::InBufferCount(error);
  error.clear();
  if (PortOpen()) return 0;
  error = kPortNotOpen;
  return -1;
}

int TTcpListenTransport::Read(int count, std::vector<uint8_t>& out, std::string& error) {
  if (Accept()) return TTcpTransport::Read(count, out, error);
  error.clear();
  if (PortOpen()) return 0;
  error = kPortNotOpen;
  return -1;
}

int TTcpListenTransport::WaitReadable(int timeoutMs, std::string& error) {
  error.clear();
  if (Accept()) return TTcpTransport::WaitReadable(timeoutMs, error);
  int listen;
  {
    std::lock_guard<std::mutex> guard(ListenLock);
    listen = Listen;
    if (listen >= 0) ++ListenWaiters;
  }
  if (listen < 0) {
    error = kPortNotOpen;
    return -1;
  }
  // Nobody has dialed in yet: wait for a connection (or the deadline, or an interrupt).
  pollfd fds[2] = {{listen, POLLIN, 0}, {WakeFd[0], POLLIN, 0}};
  const int r = poll(fds, WakeFd[0] >= 0 ? 2 : 1, timeoutMs < 0 ? 0 : timeoutMs);
  {
    std::lock_guard<std::mutex> guard(ListenLock);
    if (--ListenWaiters == 0) ListenDone.notify_all();
  }
  if (r > 0 && (fds[1].revents & POLLIN)) DrainWake();
  if (r > 0 && (fds[0].revents & POLLIN)) Accept();
  return 0;
}

bool TTcpListenTransport::WaitLinked(int timeoutMs) {
  if (!Accept()) {
    std::string ignored;
    WaitReadable(timeoutMs, ignored);  // ends on a connection, the deadline or an interrupt
  }
  return Accept() && !Lost();
}
