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

// Connects one resolved address within `timeoutMs`; the socket on success, -1 with errno set.
int ConnectOne(const addrinfo& ai, int timeoutMs) {
  const int fd = socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
  if (fd < 0) return -1;
  if (connect(fd, ai.ai_addr, ai.ai_addrlen) == 0) return fd;
  int err = errno;
  if (err == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int r;
    do r = poll(&p, 1, timeoutMs); while (r < 0 && errno == EINTR);
    socklen_t len = sizeof err;
    if (r == 0) err = ETIMEDOUT;
    else if (r < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (r > 0 && err == 0) return fd;
  }
  close(fd);
  errno = err;
  return -1;
}

}  // namespace

TTcpTransport::TTcpTransport() {
  if (pipe2(WakeFd, O_NONBLOCK | O_CLOEXEC) != 0) WakeFd[0] = WakeFd[1] = -1;
}

TTcpTransport::~TTcpTransport() {
  std::string ignored;
  Close(ignored);
  if (WakeFd[0] >= 0) close(WakeFd[0]);
  if (WakeFd[1] >= 0) close(WakeFd[1]);
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
    fd = ConnectOne(*ai, ConnectTimeoutMs);
    if (fd < 0) err = errno;
  }
  freeaddrinfo(found);
  if (fd < 0) {
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

bool TTcpTransport::PortOpen() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return Fd >= 0;
}

std::string TTcpTransport::PortName() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return Name;
}

std::string TTcpTransport::Settings() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return SettingsText;
}

int TTcpTransport::InputMode() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return Mode;
}

std::string TTcpTransport::Describe() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (Fd < 0 || Peer.empty()) return Name;
  return Name + "（" + Peer + "）";
}

bool TTcpTransport::Lost() const { return LostFlag.load(); }

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
    const int n = InBufferCount(error);
    return n > 0 ? 1 : n < 0 ? -1 : 0;
  }
  return 0;
}

void TTcpTransport::Interrupt() {
  if (WakeFd[1] < 0) return;
  const uint8_t one = 1;
  const ssize_t n = write(WakeFd[1], &one, 1);
  (void)n;  // a full pipe already wakes every waiter
}

void TTcpTransport::DrainWake() {
  if (WakeFd[0] < 0) return;
  uint8_t scratch[64];
  while (read(WakeFd[0], scratch, sizeof scratch) > 0) {
  }
}
