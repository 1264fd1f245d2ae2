// Links that come back: the reconnect rules, and TPortLink reopening a pty link that vanished
// and a TCP server that restarted, on 127.0.0.1 only.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "comm/PortLink.h"
#include "comm/Reconnect.h"
#include "tests/comm/CommTestUtil.h"

namespace fs = std::filesystem;

namespace {

const char* const kSource = "TPortLink.Reconnect";

TEST(ReconnectRulesTest, WaitsDoubleFromHalfASecondToEight) {
  TBackoff backoff;
  std::vector<int> waits;
  for (int i = 0; i < 7; ++i) waits.push_back(backoff.NextMs());
  EXPECT_EQ(waits, (std::vector<int>{500, 1000, 2000, 4000, 8000, 8000, 8000}));
  backoff.Reset();
  EXPECT_EQ(backoff.NextMs(), 500);

  // A loss at t=10000: first try at 10500; it fails, the next is 1 s later.
  TRetrySchedule schedule;
  schedule.Start(10000);
  EXPECT_FALSE(schedule.Due(10499));
  EXPECT_TRUE(schedule.Due(10500));
  EXPECT_EQ(schedule.SleepMs(10200, false), 300);
  EXPECT_EQ(schedule.SleepMs(10500, false), 0);    // a network name is tried at once
  EXPECT_EQ(schedule.SleepMs(10500, true), 100);   // a device is looked for every 100 ms
  schedule.Failed(10500);
  EXPECT_FALSE(schedule.Due(11499));
  EXPECT_TRUE(schedule.Due(11500));
  EXPECT_FALSE(ShouldReopen(TLinkState::Closed));  // closed by hand
  EXPECT_FALSE(ShouldReopen(TLinkState::Open));
  EXPECT_TRUE(ShouldReopen(TLinkState::Lost));
}

TEST(ReconnectRulesTest, TheSameDeviceIsFoundByPathByIdOrSerialNumber) {
  const TDeviceIdentity pty{"/tmp/meter", "", ""};
  const TDeviceIdentity usb{"/dev/ttyUSB0", "A50285BI", "/dev/serial/by-id/usb-FTDI_A50285BI-if00-port0"};
  const TPresentDevice same{"/dev/ttyUSB0", "A50285BI"}, moved{"/dev/ttyUSB1", "A50285BI"},
      other{"/dev/ttyUSB0", "FT99XYZ"};
  struct TCase {
    const char* What;
    TDeviceIdentity Lost;
    bool PathExists, ByIdExists;
    std::vector<TPresentDevice> Present;
    std::string Expected;
  } cases[] = {
      {"pty link back", pty, true, false, {}, "/tmp/meter"},
      {"pty link not yet back", pty, false, false, {}, ""},
      {"a pty by its number: the number now names another pty", {"/dev/pts/7", "", ""}, true, false, {}, ""},
      {"adapter back at its path", usb, true, true, {same}, "/dev/ttyUSB0"},
      {"adapter back under another name, by-id link first", usb, false, true, {moved}, usb.ById},
      {"adapter back under another name, no by-id link", usb, false, false, {moved}, "/dev/ttyUSB1"},
      {"another adapter took the path", usb, true, false, {other}, ""},
      {"the path is back but its serial cannot be read", usb, true, false, {}, "/dev/ttyUSB0"},
      {"nothing there", usb, false, false, {}, ""},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(ChooseReturnPath(c.Lost, c.PathExists, c.ByIdExists, c.Present), c.Expected) << c.What;
}

// A USB adapter as the kernel shows it: /sys/class/tty/ttyUSB7/device is the interface, the
// serial number sits on the USB device above it; /dev/serial/by-id names it.
TEST(ReconnectRulesTest, TheIdentityOfADeviceIsReadFromSysAndById) {
  const fs::path root = fs::path(::testing::TempDir()) / ("sysfs-" + std::to_string(::getpid()));
  fs::remove_all(root);
  const fs::path iface = root / "sys/devices/usb1/1-1/1-1:1.0";
  fs::create_directories(iface);
  fs::create_directories(root / "sys/class/tty/ttyUSB7");
  fs::create_directories(root / "sys/class/tty/ttyS0");  // no device behind it
  fs::create_directory_symlink(iface, root / "sys/class/tty/ttyUSB7/device");
  std::ofstream(root / "sys/devices/usb1/1-1/serial") << "A50285BI\n";
  fs::create_directories(root / "dev/serial/by-id");
  std::ofstream(root / "dev/ttyUSB7") << "";
  fs::create_symlink("../../ttyUSB7", root / "dev/serial/by-id/usb-FTDI_A50285BI-if00-port0");

  const TDeviceIdentity id =
      DeviceIdentityOf((root / "dev/ttyUSB7").string(), (root / "sys").string(), (root / "dev/serial/by-id").string());
  EXPECT_EQ(id.Serial, "A50285BI");
  EXPECT_EQ(id.ById, (root / "dev/serial/by-id/usb-FTDI_A50285BI-if00-port0").string());
  const std::vector<TPresentDevice> present = PresentDevices((root / "sys").string(), (root / "dev").string());
  ASSERT_EQ(present.size(), 1u);
  EXPECT_EQ(present[0].Path, (root / "dev/ttyUSB7").string());
  EXPECT_EQ(present[0].Serial, "A50285BI");
  fs::remove_all(root);
}

// A pty behind a link path of our own, as `dlt645 simulate --link` makes it.
class ReconnectLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Link = (fs::path(::testing::TempDir()) / ("meter-link-" + std::to_string(::getpid()))).string();
    fs::remove(Link);
    Pty = std::make_unique<TTestPty>();
    ASSERT_TRUE(Pty->Ok());
    fs::create_symlink(Pty->SlavePath, Link);
  }
  void TearDown() override { fs::remove(Link); }
  // The device goes away: its pty is gone and its link removed.
  void Vanish() {
    Pty.reset();
    fs::remove(Link);
  }
  void ComeBack() {
    Pty = std::make_unique<TTestPty>();
    fs::create_symlink(Pty->SlavePath, Link);
  }
  std::string Link;
  std::unique_ptr<TTestPty> Pty;
  TRecordingSink Sink;
};

TEST_F(ReconnectLinkTest, AVanishedPtyIsReopenedAtItsLinkWhenItComesBack) {
  TPortLink port;
  ASSERT_TRUE(port.Open(Link, "9600,N,8,1", 1).Opened());
  Vanish();
  // Noticed on an idle link too; the link stays open in the user's eyes.
  ASSERT_TRUE(WaitUntil([&] { return port.Lost(); }));
  EXPECT_TRUE(port.PortOpen());
  std::string error;
  const uint8_t frame[] = {0x68, 0x16};
  EXPECT_NE(port.Write(frame, 2, error), 0);
  EXPECT_EQ(error.rfind(Link + "：连接已断开（串口" + Link, 0), 0u) << error;  // and why
  EXPECT_NE(error.find("），正在重连…"), std::string::npos) << error;
  EXPECT_FALSE(port.WaitLinked(50));
  // Logged once, by whichever thread noticed the loss first (just after the link shows it).
  ASSERT_TRUE(WaitUntil([&] { return Sink.Find(ltError, kSource, Link + "：连接已断开").size() == 1; }));

  ComeBack();
  ASSERT_TRUE(port.WaitLinked(5000));
  EXPECT_FALSE(port.Lost());
  ASSERT_EQ(port.Write(frame, 2, error), 0) << error;
  EXPECT_EQ(Pty->Read(2), std::vector<uint8_t>(frame, frame + 2));
  EXPECT_EQ(port.Losses(), 1u);
  // Logged right after the link is back.
  EXPECT_TRUE(WaitUntil([&] { return Sink.Find(ltNormal, kSource, "连接已恢复：" + Link).size() == 1; }));
}

// A meter killed leaves its link behind, naming a pty number the system hands to the next pty
// opened (here most likely the other one): that link is another program's line, never the
// meter's return. The meter's link made anew is.
TEST_F(ReconnectLinkTest, ALinkLeftBehindIsNotTakenForTheReturn) {
  TPortLink port;
  ASSERT_TRUE(port.Open(Link, "9600,N,8,1", 1).Opened());
  const std::string oldSlave = Pty->SlavePath;
  Pty.reset();  // killed: the link stays
  ASSERT_TRUE(WaitUntil([&] { return port.Lost(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the port lets go of the old pty
  TTestPty other;
  ASSERT_TRUE(other.Ok());
  EXPECT_FALSE(port.WaitLinked(1200)) << "other pty " << other.SlavePath << ", old " << oldSlave;
  fs::remove(Link);
  ComeBack();
  ASSERT_TRUE(port.WaitLinked(5000));
  std::string error;
  const uint8_t frame[] = {0x68, 0x16};
  ASSERT_EQ(port.Write(frame, 2, error), 0) << error;
  EXPECT_EQ(Pty->Read(2), std::vector<uint8_t>(frame, frame + 2));
}

TEST_F(ReconnectLinkTest, APortClosedByHandIsNotReopened) {
  TPortLink port;
  ASSERT_TRUE(port.Open(Link, "9600,N,8,1", 1).Opened());
  Vanish();
  ASSERT_TRUE(WaitUntil([&] { return port.Lost(); }));
  std::string error;
  EXPECT_EQ(port.Close(error), 0);
  ComeBack();
  std::this_thread::sleep_for(std::chrono::milliseconds(800));  // past the first try of a reopening
  EXPECT_FALSE(port.PortOpen());
  EXPECT_EQ(port.State(), TLinkState::Closed);
  EXPECT_TRUE(Sink.Find(ltNormal, kSource, "连接已恢复").empty());
  // The user opens it again by hand.
  EXPECT_TRUE(port.Open(Link, "9600,N,8,1", 1).Opened());
}

// A listening socket on 127.0.0.1 that can be put back on the same port. With a backlog of 0 the
// queue holds one connection not yet accepted; a connect after that one hangs.
int ListenOn(int port, int backlog = 2) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, backlog) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int PortOf(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

TEST(ReconnectTcpTest, AServerThatRestartsIsConnectedAgain) {
  TRecordingSink sink;
  int server = ListenOn(0);
  ASSERT_GE(server, 0);
  const int portNumber = PortOf(server);
  const std::string name = "tcp://127.0.0.1:" + std::to_string(portNumber);
  TPortLink port;
  ASSERT_TRUE(port.Open(name, "9600,E,8,1", 1).Opened());
  int peer = accept(server, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  close(peer);  // the server goes away: connection and listener
  close(server);
  ASSERT_TRUE(WaitUntil([&] { return port.Lost(); }));
  EXPECT_TRUE(WaitUntil([&] { return sink.Find(ltError, kSource, name + "：连接已断开").size() == 1; }));

  server = ListenOn(portNumber);
  ASSERT_GE(server, 0);
  ASSERT_TRUE(port.WaitLinked(5000));
  peer = accept(server, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  std::string error;
  const uint8_t frame[] = {0x68, 0x16};
  ASSERT_EQ(port.Write(frame, 2, error), 0) << error;
  uint8_t seen[2] = {};
  EXPECT_EQ(recv(peer, seen, 2, MSG_WAITALL), 2);
  EXPECT_EQ(seen[0], 0x68);
  EXPECT_TRUE(WaitUntil([&] { return sink.Find(ltNormal, kSource, "连接已恢复：" + name).size() == 1; }));
  EXPECT_EQ(port.Settings(), "9600,E,8,1");
  close(peer);
  close(server);
}

// A port closed by hand while its reconnect waits on a host that does not answer (a listener whose
// queue is full, so the connect hangs for its 3 s) is closed at once: the window's 关闭串口 does
// not freeze.
TEST(ReconnectTcpTest, ClosingByHandEndsAReconnectThatHangs) {
  int server = ListenOn(0);
  ASSERT_GE(server, 0);
  const int portNumber = PortOf(server);
  TPortLink port;
  ASSERT_TRUE(port.Open("tcp://127.0.0.1:" + std::to_string(portNumber), "9600,E,8,1", 1).Opened());
  close(accept(server, nullptr, nullptr));
  close(server);
  ASSERT_TRUE(WaitUntil([&] { return port.Lost(); }));
  server = ListenOn(portNumber, 0);
  ASSERT_GE(server, 0);
  const int filler = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(portNumber));
  ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the first attempt, due after 0.5 s, hangs
  const auto start = std::chrono::steady_clock::now();
  std::string error;
  EXPECT_EQ(port.Close(error), 0) << error;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));  // not the 3 s
  EXPECT_FALSE(port.PortOpen());
  close(filler);
  close(server);
}

}  // namespace
