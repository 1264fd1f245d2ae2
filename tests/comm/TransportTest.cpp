// Port names and the raw TCP client link, on 127.0.0.1 only.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "comm/PortLink.h"
#include "comm/PortName.h"
#include "comm/TcpTransport.h"
#include "protocol/LogSink.h"

namespace {

TEST(PortNameTest, NamesAreReadAsTheUserWroteThem) {
  struct TCase {
    const char* Text;
    bool Ok;
    TPortKind Kind;
    const char* Host;
    int Port;
    const char* Complaint;  // part of the message for a refused name
  } cases[] = {
      {"/dev/ttyUSB0", true, TPortKind::Device, "", 0, ""},
      {"tcp://192.168.1.20:4001", true, TPortKind::Tcp, "192.168.1.20", 4001, ""},
      {"TCP://meter-gw.local:23", true, TPortKind::Tcp, "meter-gw.local", 23, ""},
      {"rfc2217://[::1]:2217", true, TPortKind::Rfc2217, "::1", 2217, ""},
      {"tcp-listen://127.0.0.1:9000", true, TPortKind::TcpListen, "127.0.0.1", 9000, ""},
      {"tcp-listen://:9000", false, TPortKind::Device, "", 0, "必须指定监听地址"},
      {"tcp://host", false, TPortKind::Device, "", 0, "缺少端口号"},
      {"tcp://host:0", false, TPortKind::Device, "", 0, "端口号“0”"},
      {"tcp://host:65536", false, TPortKind::Device, "", 0, "端口号“65536”"},
      {"tcp://ho st:1", false, TPortKind::Device, "", 0, "无效字符"},
      {"udp://host:1", false, TPortKind::Device, "", 0, "不支持“udp://”"},
      {"rfc2217://gw:2217?fallback=raw", true, TPortKind::Rfc2217, "gw", 2217, ""},
      {"rfc2217://gw:2217?fallback=none", false, TPortKind::Device, "", 0, "只接受“?fallback=raw”"},
      {"tcp://gw:4001?fallback=raw", false, TPortKind::Device, "", 0, "只有rfc2217://可以带选项"},
  };
  for (const TCase& c : cases) {
    TPortName name;
    std::string error;
    EXPECT_EQ(ParsePortName(c.Text, name, error), c.Ok) << c.Text;
    if (!c.Ok) {
      EXPECT_NE(error.find(c.Complaint), std::string::npos) << c.Text << ": " << error;
      EXPECT_NE(error.find(c.Text), std::string::npos) << error;  // the name is quoted
      continue;
    }
    EXPECT_EQ(name.Kind, c.Kind) << c.Text;
    EXPECT_EQ(name.Host, c.Host) << c.Text;
    EXPECT_EQ(name.Port, c.Port) << c.Text;
  }
}

// A listening socket on 127.0.0.1 and a port the system chose.
struct TListener {
  int Fd = -1;
  int Port = 0;
  TListener() {
    Fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(Fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(Fd, 1);
    socklen_t len = sizeof addr;
    getsockname(Fd, reinterpret_cast<sockaddr*>(&addr), &len);
    Port = ntohs(addr.sin_port);
  }
  ~TListener() { close(Fd); }
  std::string Name() const { return "tcp://127.0.0.1:" + std::to_string(Port); }
};

TEST(TcpTransportTest, BytesGoBothWaysAndThePeerClosingLosesTheLink) {
  TListener server;
  TPortLink link;
  ASSERT_TRUE(link.Open(server.Name(), "2400,E,8,1", 1).Opened());
  const int peer = accept(server.Fd, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  EXPECT_EQ(link.Settings(), "2400,E,8,1");
  EXPECT_EQ(link.Describe().rfind(server.Name(), 0), 0u);

  std::string error;
  const uint8_t request[] = {0x68, 0x01, 0x16};
  ASSERT_EQ(link.Write(request, 3, error), 0) << error;
  uint8_t seen[3] = {};
  ASSERT_EQ(recv(peer, seen, 3, MSG_WAITALL), 3);
  EXPECT_EQ(std::vector<uint8_t>(seen, seen + 3), std::vector<uint8_t>(request, request + 3));

  const uint8_t reply[] = {0xFE, 0x68, 0x16};
  ASSERT_EQ(send(peer, reply, 3, 0), 3);
  std::vector<uint8_t> got;
  while (got.size() < 3 && link.WaitReadable(2000, error) == 1) link.Read(link.InBufferCount(error), got, error);
  EXPECT_EQ(got, std::vector<uint8_t>(reply, reply + 3));
  EXPECT_FALSE(link.Lost());

  close(peer);
  EXPECT_EQ(link.WaitReadable(2000, error), -1);
  EXPECT_NE(error.find("对方关闭了连接"), std::string::npos) << error;
  EXPECT_TRUE(link.Lost());
}

TEST(TcpTransportTest, AWaitEndsOnInterrupt) {
  TListener server;
  TPortLink link;
  ASSERT_TRUE(link.Open(server.Name(), "9600,N,8,1", 1).Opened());
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    link.Interrupt();
  });
  std::string error;
  EXPECT_EQ(link.WaitReadable(10000, error), 0);  // woken, not timed out and not failed
  stopper.join();
  EXPECT_TRUE(link.PortOpen());
}

TEST(TcpTransportTest, RefusedAndUnknownPeersAreNamed) {
  int freePort = 0;
  {
    TListener probe;
    freePort = probe.Port;
  }  // closed: nobody listens there now
  struct TCase {
    std::string Name;
    const char* Complaint;
  } cases[] = {
      {"tcp://127.0.0.1:" + std::to_string(freePort), "连接被拒绝"},
      {"tcp://no-such-host.invalid:4001", "找不到主机“no-such-host.invalid”"},
      {"tcp://127.0.0.1", "缺少端口号"},
  };
  for (const TCase& c : cases) {
    TPortLink link;
    const TOpenResult result = link.Open(c.Name, "9600,N,8,1", 1);
    EXPECT_FALSE(result.Opened()) << c.Name;
    EXPECT_NE(result.Message.find(c.Complaint), std::string::npos) << c.Name << ": " << result.Message;
    EXPECT_EQ(result.Detail, result.Message);  // the dialog shows it under its own line
    EXPECT_FALSE(link.PortOpen());
  }
}

// Connects to 127.0.0.1:port; the socket or -1.
int Dial(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  close(fd);
  return -1;
}

struct TLines : TLogSink {
  std::vector<std::string> Lines;
  TLines() { SetLogSink(this); }
  ~TLines() override { SetLogSink(nullptr); }
  void WriteLog(int, const std::string&, const std::string& text) override { Lines.push_back(text); }
  int LogTypes() const override { return 31; }
};

TEST(TcpListenTransportTest, TheFirstDeviceThatDialsInIsTheLinkAndLaterOnesAreRefused) {
  int port = 0;
  {
    TListener probe;
    port = probe.Port;
  }
  const std::string name = "tcp-listen://127.0.0.1:" + std::to_string(port);
  TLines log;
  TPortLink link;
  ASSERT_TRUE(link.Open(name, "9600,E,8,1", 1).Opened());
  EXPECT_TRUE(link.PortOpen());
  std::string error;
  const uint8_t request[] = {0x68, 0x16};
  EXPECT_NE(link.Write(request, 2, error), 0);
  EXPECT_EQ(error, "尚无设备连入" + name + "！");

  const int first = Dial(port);
  ASSERT_GE(first, 0);
  ASSERT_EQ(link.Write(request, 2, error), 0) << error;
  uint8_t seen[2] = {};
  EXPECT_EQ(recv(first, seen, 2, MSG_WAITALL), 2);
  EXPECT_EQ(seen[0], 0x68);

  const int second = Dial(port);
  ASSERT_GE(second, 0);
  const uint8_t reply[] = {0x68, 0x91, 0x16};
  ASSERT_EQ(send(first, reply, 3, 0), 3);
  std::vector<uint8_t> got;
  while (got.size() < 3 && link.WaitReadable(2000, error) >= 0) link.Read(link.InBufferCount(error), got, error);
  EXPECT_EQ(got, std::vector<uint8_t>(reply, reply + 3));  // still the first device's link
  uint8_t byte;
  EXPECT_EQ(recv(second, &byte, 1, 0), 0);  // the second device was turned away
  bool refusalLogged = false;
  for (const std::string& line : log.Lines) refusalLogged |= line.rfind("拒绝连接：" + name, 0) == 0;
  EXPECT_TRUE(refusalLogged);
  close(first);
  close(second);
}

TEST(TcpListenTransportTest, AListeningAddressThatIsTakenOrForeignIsNamed) {
  TListener taken;
  struct TCase {
    std::string Name;
    const char* Complaint;
  } cases[] = {
      {"tcp-listen://127.0.0.1:" + std::to_string(taken.Port), "该端口已被占用"},
      {"tcp-listen://192.0.2.1:4001", "本机没有地址192.0.2.1"},
  };
  for (const TCase& c : cases) {
    TPortLink link;
    const TOpenResult result = link.Open(c.Name, "9600,N,8,1", 1);
    EXPECT_FALSE(result.Opened()) << c.Name;
    EXPECT_NE(result.Message.find(c.Complaint), std::string::npos) << result.Message;
  }
}

}  // namespace
