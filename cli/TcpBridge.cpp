#include "cli/TcpBridge.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "comm/PortName.h"
#include "comm/Reconnect.h"
#include "comm/SerialPort.h"

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// A listening socket on the name's address and port; -1 with a message.
int ListenOn(const TPortName& name, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.Host.c_str(), std::to_string(name.Port).c_str(), &hints, &found) != 0 || !found) {
    error = "找不到主机“" + name.Host + "”";
    return -1;
  }
  int fd = -1;
  for (addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next) {
    fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    const int one = 1;
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd >= 0 && (bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || listen(fd, 4) != 0)) {
      error = "无法在" + DescribePortName(name) + "上监听：" + std::strerror(errno);
      CloseFd(fd);
    }
  }
  freeaddrinfo(found);
  return fd;
}

// The meter's end of the line, opened as any client opens a port, locks included: while the
// bridge carries the line, a program that opens the meter's link directly is told who holds it
// instead of sharing the meter's replies with the network client.
int OpenDevice(TSerialPort& port, const std::string& device, std::string& error) {
  if (port.Open(device, "9600,E,8,1", 1, error) != 0) return -1;
  return port.NativeHandle();
}

// Moves what is waiting on `from` to `to`; false when `from` has closed or failed.
bool Forward(int from, int to) {
  char buf[4096];
  const ssize_t n = ::read(from, buf, sizeof buf);
  if (n == 0) return false;
  if (n < 0) return errno == EAGAIN || errno == EINTR;
  for (ssize_t done = 0; to >= 0 && done < n;) {
    const ssize_t w = ::send(to, buf + done, static_cast<size_t>(n - done), MSG_NOSIGNAL);
    if (w < 0 && errno == ENOTSOCK) {
      const ssize_t v = ::write(to, buf + done, static_cast<size_t>(n - done));
      if (v <= 0) break;
      done += v;
      continue;
    }
    if (w < 0 && errno == EAGAIN) {
      pollfd p{to, POLLOUT, 0};
      poll(&p, 1, 100);
      continue;
    }
    if (w <= 0) break;
    done += w;
  }
  return true;
}

// True when `fd` (connecting) is connected within `ms`; false on failure, timeout or `wake`.
bool Connected(int fd, int wake, int ms) {
  pollfd fds[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
  if (poll(fds, 2, ms) <= 0 || fds[1].revents) return false;
  int err = 0;
  socklen_t len = sizeof err;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

// One connection to the name's address, or -1 (refused, unreachable, timed out, woken).
int DialOnce(const TPortName& name, int wake) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.Host.c_str(), std::to_string(name.Port).c_str(), &hints, &found) != 0 || !found) return -1;
  int fd = -1;
  for (addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next) {
    fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) continue;
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) != 0 && (errno != EINPROGRESS || !Connected(fd, wake, 3000)))
      CloseFd(fd);
  }
  freeaddrinfo(found);
  return fd;
}

}  // namespace

struct TTcpBridge::TImpl {
  int Listen = -1;
  TSerialPort Port;
  int Device = -1;  // Port's descriptor
  int Client = -1;
  int Wake[2] = {-1, -1};
  std::thread Thread;
  bool DialOut = false;
  TPortName Peer;

  // Dials until connected (true) or asked to stop (false).
  bool Dial() {
    TBackoff backoff;
    for (;;) {
      Client = DialOnce(Peer, Wake[0]);
      if (Client >= 0) {
        std::printf("Connected: %s\n", DescribePortName(Peer).c_str());
        std::fflush(stdout);
        return true;
      }
      pollfd wake{Wake[0], POLLIN, 0};
      if (poll(&wake, 1, backoff.NextMs()) > 0) return false;
    }
  }

  void Run() {
    for (;;) {
      if (DialOut && Client < 0 && !Dial()) return;
      pollfd fds[4] = {{Wake[0], POLLIN, 0}, {Listen, POLLIN, 0}, {Device, POLLIN, 0}, {Client, POLLIN, 0}};
      if (poll(fds, Client >= 0 ? 4 : 3, -1) < 0 && errno != EINTR) return;
      if (fds[0].revents) return;
      if (fds[1].revents & POLLIN) Accept();
      if (fds[2].revents & POLLIN) Forward(Device, Client);  // no client: the bytes are dropped
      if (Client >= 0 && (fds[3].revents & (POLLIN | POLLHUP | POLLERR)) && !Forward(Client, Device)) {
        CloseFd(Client);
        if (DialOut) std::printf("Disconnected: %s, dialing again\n", DescribePortName(Peer).c_str());
        std::fflush(stdout);
      }
    }
  }

  // Opens the meter's line and the wake-up pipe and starts the thread; false with a message.
  bool Begin(const std::string& device, std::string& error) {
    Device = OpenDevice(Port, device, error);
    if (Device < 0 || pipe2(Wake, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    Thread = std::thread([this] { Run(); });
    return true;
  }

  void Accept() {
    int fd = accept4(Listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    if (Client >= 0) {
      CloseFd(fd);  // one client at a time, as a serial line has one end
      return;
    }
    Client = fd;
  }
};

TTcpBridge::TTcpBridge() : Impl(std::make_unique<TImpl>()) {}

TTcpBridge::~TTcpBridge() { Stop(); }

bool TTcpBridge::Start(const std::string& listen, const std::string& device, std::string& error) {
  TPortName name;
  if (!ParsePortName(listen, name, error)) return false;
  if (name.Kind != TPortKind::Tcp) {
    error = "--listen应为tcp://ADDRESS:PORT";
    return false;
  }
  TImpl& I = *Impl;
  I.Listen = ListenOn(name, error);
  if (I.Listen < 0) return false;
  if (I.Begin(device, error)) return true;
  Stop();
  return false;
}

bool TTcpBridge::StartDialOut(const std::string& connect, const std::string& device, std::string& error) {
  TImpl& I = *Impl;
  if (!ParsePortName(connect, I.Peer, error)) return false;
  if (I.Peer.Kind != TPortKind::Tcp) {
    error = "--connect应为tcp://HOST:PORT";
    return false;
  }
  addrinfo* found = nullptr;
  if (getaddrinfo(I.Peer.Host.c_str(), nullptr, nullptr, &found) != 0 || !found) {
    error = "找不到主机“" + I.Peer.Host + "”";
    return false;
  }
  freeaddrinfo(found);
  I.DialOut = true;
  if (I.Begin(device, error)) return true;
  Stop();
  return false;
}

void TTcpBridge::Stop() {
  TImpl& I = *Impl;
  if (I.Wake[1] >= 0) {
    const char one = 1;
    (void)!::write(I.Wake[1], &one, 1);
  }
  if (I.Thread.joinable()) I.Thread.join();
  CloseFd(I.Client);
  std::string ignored;
  I.Port.Close(ignored);
  I.Device = -1;
  CloseFd(I.Listen);
  CloseFd(I.Wake[0]);
  CloseFd(I.Wake[1]);
}
