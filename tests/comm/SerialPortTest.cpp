#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "comm/CommTestUtil.h"
#include "comm/PortList.h"
#include "comm/SerialPort.h"

namespace {
using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class TTempDir {
 public:
  TTempDir() {
    char templ[] = "/tmp/dlt_comm_XXXXXX";
    Path = mkdtemp(templ) ? templ : "";
  }
  ~TTempDir() { std::system(("rm -rf '" + Path + "'").c_str()); }
  std::string Path;
};

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Pty.Ok());
    std::string error;
    ASSERT_EQ(Port.Open(Pty.SlavePath, "9600,E,8,1", 0, error), 0) << error;
  }
  TTestPty Pty;
  TSerialPort Port;
};
}  // namespace

TEST(SerialPortOpenTest, RefusesMissingPortsNonPortsAndBadSettings) {
  TSerialPort port;
  std::string error;
  EXPECT_EQ(port.Open("/dev/ttyDoesNotExist9", "9600,N,8,1", 1, error), 1);
  EXPECT_EQ(error, "串口/dev/ttyDoesNotExist9不存在！");
  EXPECT_FALSE(port.PortOpen());

  TTempDir dir;
  std::string file = dir.Path + "/plain";
  std::ofstream(file) << "x";
  EXPECT_EQ(port.Open(file, "9600,N,8,1", 1, error), 1);
  EXPECT_EQ(error, file + "不是串口！");

  TTestPty pty;
  for (const char* bad : {"9600,X,8,1", "12345,N,8,1", "9600,N,9,1", "9600,N,8,3", "9600", "", "abc,N,8,1"}) {
    EXPECT_EQ(port.Open(pty.SlavePath, bad, 1, error), 1) << bad;
    EXPECT_EQ(error.find(std::string("串口设置“") + bad + "”无效："), 0u) << bad << ": " << error;
    EXPECT_FALSE(port.PortOpen());
  }
  // A pseudo-terminal keeps its own 8 data bits and no parity; opening it again and again with
  // parity asked for must not fail.
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(port.Open(pty.SlavePath, "9600,E,8,1", 1, error), 0) << error;
    ASSERT_EQ(port.Close(error), 0);
  }
  EXPECT_EQ(port.Open(pty.SlavePath, " 2400 , o , 7 , 2 ", 0, error), 0) << error;
  EXPECT_EQ(port.Settings(), " 2400 , o , 7 , 2 ");
  EXPECT_EQ(port.InputMode(), 0);
  EXPECT_EQ(port.Open(pty.SlavePath, "9600,N,8,1", 0, error), 1) << "already open";
}

// Whether the port can be had is told before any word on the settings; a free port whose line
// cannot take the settings is refused as such and stays closed.
TEST(SerialPortOpenTest, RefusalSaysWhetherThePortOrItsSettingsAreAtFault) {
  TTestPty pty;
  TTempDir dir;
  std::ofstream(dir.Path + "/plain") << "x";
  const struct {
    std::string Port, Settings;
    TOpenRefusal Refusal;
    const char* Says;
  } cases[] = {
      {"/dev/ttyDoesNotExist9", "9600,N,8,1", TOpenRefusal::Unavailable, "不存在"},
      {"/dev/ttyDoesNotExist9", "12345,N,8,1", TOpenRefusal::Unavailable, "不存在"},
      {dir.Path + "/plain", "12345,N,8,1", TOpenRefusal::Unavailable, "不是串口"},
      {pty.SlavePath, "12345,N,8,1", TOpenRefusal::Settings, "不支持波特率“12345”"},
      {pty.SlavePath, "9600,N,8,1.5", TOpenRefusal::Settings, "不支持1.5位停止位"},
      // A pseudo-terminal has no RS-485 mode (its driver refuses TIOCSRS485).
      {pty.SlavePath, "9600,N,8,1,RS485", TOpenRefusal::Settings, "不支持RS-485收发控制"},
      {pty.SlavePath, "9600,N,8,1,RS485:5", TOpenRefusal::Settings, "第五项“RS485:5”应为RS485"},
      {pty.SlavePath, "9600,N,8,1,RTS", TOpenRefusal::Settings, "第五项“RTS”"},
  };
  TSerialPort port;
  for (const auto& c : cases) {
    const TOpenResult result = port.Open(c.Port, c.Settings, 1);
    EXPECT_EQ(result.Refusal, c.Refusal) << c.Port << " " << c.Settings;
    EXPECT_NE(result.Message.find(c.Says), std::string::npos) << result.Message;
    EXPECT_FALSE(port.PortOpen());
  }
}

TEST(SerialPortOpenTest, Rs485IsAskedForByAFifthPartOfTheSettings) {
  const struct {
    const char* Settings;
    bool Ok;
    TRs485 Rs485;
  } cases[] = {
      {"9600,E,8,1", true, {}},
      {"9600,E,8,1,RS485", true, {true, 0, 0}},
      {"9600,E,8,1, rs485:2:10 ", true, {true, 2, 10}},
      {"9600,E,8,1,RS485:1001:0", false, {}},
      {"9600,E,8,1,RS485::", false, {}},
  };
  for (const auto& c : cases) {
    TRs485 rs485;
    std::string error;
    EXPECT_EQ(TSerialPort::ParseRs485(c.Settings, rs485, error), c.Ok) << c.Settings;
    if (c.Ok) {
      EXPECT_EQ(rs485, c.Rs485) << c.Settings;
    }
  }
}

// A port this user may not open is refused with a second line naming the group that owns it.
TEST(SerialPortOpenTest, NoPermissionNamesTheGroupOwningThePort) {
  TTestPty pty;
  const std::string path = pty.SlavePath;
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  struct stat st{};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  const group* owner = getgrgid(st.st_gid);
  const std::string name = owner ? owner->gr_name : std::to_string(st.st_gid);
  // Root may open anything, so the attempt is made by a child that gives up root first.
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(out[0]);
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(1);
    TSerialPort port;
    const TOpenResult result = port.Open(path, "9600,N,8,1", 1);
    const std::string text = result.Message + "\n" + result.Detail;
    _exit(write(out[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
  }
  close(out[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(text, "没有打开串口" + path + "的权限（串口属于用户组" + name + "）！\n" +
                      "当前用户无权打开" + path + "：串口属于用户组" + name + "，请把用户加入该组后重新登录。");
}

// A process started as `sleep 60` with `device` open as its descriptor 3, as a shell with
// "exec 3<>device" or a terminal program holds a port: no flock, no lock file. Killed on exit.
class TPlainHolder {
 public:
  explicit TPlainHolder(const std::string& device) {
    Pid = fork();
    if (Pid == 0) {
      if (!device.empty()) {
        const int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || dup2(fd, 3) != 3) _exit(127);
      }
      execlp("sleep", "sleep", "60", static_cast<char*>(nullptr));
      _exit(127);
    }
    // Ready once the program runs (its descriptors were opened before).
    WaitUntil([this] {
      std::ifstream comm("/proc/" + std::to_string(Pid) + "/comm");
      std::string name;
      return std::getline(comm, name) && name == "sleep";
    });
  }
  ~TPlainHolder() {
    kill(Pid, SIGKILL);
    waitpid(Pid, nullptr, 0);
  }
  pid_t Pid = -1;
};

TEST(SerialPortHolderTest, AProgramHoldingThePortWithoutALockIsNamed) {
  TTestPty pty;
  ASSERT_TRUE(pty.Ok());
  TTempDir locks;
  TSerialPort port;
  port.SetLockFolders({locks.Path});
  {
    TPlainHolder shell(pty.SlavePath);
    const TOpenResult result = port.Open(pty.SlavePath, "9600,N,8,1", 1);
    EXPECT_EQ(result.Refusal, TOpenRefusal::Unavailable) << result.Message;
    EXPECT_EQ(result.Detail, "占用程序：sleep（进程号" + std::to_string(shell.Pid) + "）");
    EXPECT_FALSE(port.PortOpen());
  }
  std::string error;
  EXPECT_EQ(port.Open(pty.SlavePath, "9600,N,8,1", 1, error), 0) << error;
}

// UUCP lock files: a live holder is obeyed and named, a dead one is removed; while the port is
// open its lock file names this process, and it goes when the port is closed.
TEST(SerialPortHolderTest, LockFilesAreHonouredTakenAndRemoved) {
  TTestPty pty;
  ASSERT_TRUE(pty.Ok());
  TTempDir locks;
  const std::string lockFile = locks.Path + "/LCK..pts_" + pty.SlavePath.substr(9);
  auto lockText = [&] {
    std::ifstream in(lockFile);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  auto pidText = [](int pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", pid);
    return std::string(text);
  };
  TSerialPort port;
  port.SetLockFolders({locks.Path});
  {
    TPlainHolder other("");
    std::ofstream(lockFile) << pidText(other.Pid);
    const TOpenResult result = port.Open(pty.SlavePath, "9600,N,8,1", 1);
    EXPECT_EQ(result.Refusal, TOpenRefusal::Unavailable);
    EXPECT_EQ(result.Detail, "占用程序：sleep（进程号" + std::to_string(other.Pid) + "）");
    EXPECT_EQ(lockText(), pidText(other.Pid));
  }
  // Its process has ended now: the file is stale.
  std::string error;
  ASSERT_EQ(port.Open(pty.SlavePath, "9600,N,8,1", 1, error), 0) << error;
  EXPECT_EQ(lockText(), pidText(getpid()));
  ASSERT_EQ(port.Close(error), 0);
  EXPECT_FALSE(std::ifstream(lockFile).good());
}

// A lock file left behind by a program that ended (or one that names no process at all) does not
// keep the port: it is removed and replaced by this process's own, in either common form.
TEST(SerialPortHolderTest, AStaleLockFileIsRemovedAndThePortOpened) {
  TTestPty pty;
  ASSERT_TRUE(pty.Ok());
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
  char ascii[16];
  std::snprintf(ascii, sizeof ascii, "%10d\n", static_cast<int>(dead));
  const int binaryPid = static_cast<int>(dead);
  const std::string binary(reinterpret_cast<const char*>(&binaryPid), sizeof binaryPid);
  char own[16];
  std::snprintf(own, sizeof own, "%10d\n", static_cast<int>(getpid()));
  for (const std::string& stale : {std::string(ascii), binary, std::string("no pid here\n")}) {
    TTempDir locks;
    const std::string lockFile = locks.Path + "/LCK..pts_" + pty.SlavePath.substr(9);
    std::ofstream(lockFile, std::ios::binary) << stale;
    TSerialPort port;
    port.SetLockFolders({locks.Path});
    std::string error;
    ASSERT_EQ(port.Open(pty.SlavePath, "9600,N,8,1", 1, error), 0) << error;
    std::ifstream in(lockFile);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), own);
  }
}

// The port is held exclusively: a second opener, in this process or another, is refused until
// the holder closes it.
TEST_F(SerialPortTest, ASecondOpenerIsRefusedUntilThePortIsClosed) {
  TSerialPort second;
  std::string error;
  EXPECT_EQ(second.Open(Pty.SlavePath, "9600,N,8,1", 1, error), 1);
  EXPECT_NE(error.find("占用"), std::string::npos) << error;

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TSerialPort other;
    std::string e;
    _exit(other.Open(Pty.SlavePath, "9600,N,8,1", 1, e) == 1 && e.find("占用") != std::string::npos ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a second process opened the port";

  ASSERT_EQ(Port.Close(error), 0) << error;
  EXPECT_EQ(second.Open(Pty.SlavePath, "9600,N,8,1", 1, error), 0) << error;
}

// Raw mode in either input mode: control characters pass unchanged, nothing waits for a newline.
TEST_F(SerialPortTest, BytesPassUnchangedInBothDirections) {
  const std::vector<uint8_t> bytes = {0x68, 0x0D, 0x0A, 0x03, 0x11, 0x13, 0x7F, 0x00, 0xFF, 0x1A, 0x04};
  Pty.Write(bytes);
  std::string error;
  ASSERT_TRUE(WaitUntil([&] { return Port.InBufferCount(error) == static_cast<int>(bytes.size()); }));
  std::vector<uint8_t> got;
  EXPECT_EQ(Port.Read(100, got, error), static_cast<int>(bytes.size()));
  EXPECT_EQ(got, bytes);

  ASSERT_EQ(Port.Write(bytes.data(), static_cast<int>(bytes.size()), error), 0) << error;
  EXPECT_EQ(Pty.Read(bytes.size()), bytes);

  Pty.Write({1, 2, 3});
  ASSERT_TRUE(WaitUntil([&] { return Port.InBufferCount(error) == 3; }));
  ASSERT_EQ(Port.DiscardInput(error), 0) << error;
  EXPECT_EQ(Port.InBufferCount(error), 0);
}

TEST_F(SerialPortTest, WaitReadableEndsOnBytesOnInterruptOrAfterItsPeriod) {
  auto t0 = Clock::now();
  EXPECT_EQ(Port.WaitReadable(30), 0);
  EXPECT_GE(MsSince(t0), 29);

  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Pty.Write({0x68});
  });
  t0 = Clock::now();
  EXPECT_EQ(Port.WaitReadable(5000), 1);
  EXPECT_LT(MsSince(t0), 2000);
  writer.join();
  std::string error;
  ASSERT_EQ(Port.DiscardInput(error), 0);

  std::thread interrupter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Port.Interrupt();
  });
  t0 = Clock::now();
  EXPECT_EQ(Port.WaitReadable(5000), 0);
  EXPECT_LT(MsSince(t0), 2000);
  interrupter.join();

  // Closing from another thread ends a wait in progress instead of waiting for it.
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string e;
    Port.Close(e);
  });
  t0 = Clock::now();
  Port.WaitReadable(5000);
  EXPECT_LT(MsSince(t0), 2000);
  closer.join();
  EXPECT_FALSE(Port.PortOpen());
  EXPECT_EQ(Port.WaitReadable(10), -1);
}

// The other end goes away (a USB adapter pulled out, the pty master closed): every operation
// fails at once with a message instead of waiting or spinning.
TEST_F(SerialPortTest, AVanishedPeerMakesOperationsFail) {
  Pty.CloseMaster();
  auto t0 = Clock::now();
  std::string error;
  EXPECT_EQ(Port.WaitReadable(3000, error), -1);
  EXPECT_LT(MsSince(t0), 1000);
  EXPECT_EQ(error, "串口" + Pty.SlavePath + "等待数据失败：设备已断开");
  EXPECT_EQ(Port.InBufferCount(error), -1);
  EXPECT_FALSE(error.empty());
  std::vector<uint8_t> got;
  EXPECT_EQ(Port.Read(10, got, error), -1);
  const uint8_t b = 0x68;
  EXPECT_EQ(Port.Write(&b, 1, error), 1);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Port.Close(error), 0) << error;
  EXPECT_FALSE(Port.PortOpen());
}

TEST(PortListTest, ListsLiveVirtualMeterLinksSortedWithoutLetterCase) {
  TTempDir dir;
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  std::string saved = old ? old : "";
  setenv("XDG_RUNTIME_DIR", dir.Path.c_str(), 1);
  std::string folder = VirtualPortDir();
  EXPECT_EQ(folder, dir.Path + "/dlt645-workbench");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  TTestPty pty;
  ASSERT_EQ(symlink(pty.SlavePath.c_str(), (folder + "/b-meter").c_str()), 0);
  ASSERT_EQ(symlink(pty.SlavePath.c_str(), (folder + "/A-meter").c_str()), 0);
  ASSERT_EQ(symlink("/dev/gone-forever", (folder + "/dangling").c_str()), 0);

  std::vector<std::string> list = {"stale entry"};
  ListComPorts(list);
  auto a = std::find(list.begin(), list.end(), folder + "/A-meter");
  auto b = std::find(list.begin(), list.end(), folder + "/b-meter");
  ASSERT_NE(a, list.end());
  ASSERT_NE(b, list.end());
  EXPECT_LT(a, b);
  EXPECT_EQ(std::find(list.begin(), list.end(), folder + "/dangling"), list.end());
  EXPECT_EQ(std::find(list.begin(), list.end(), "stale entry"), list.end());
  for (const auto& p : list) {
    if (p.rfind("/dev/ttyS", 0) == 0) {
      struct stat st{};
      EXPECT_EQ(stat(p.c_str(), &st), 0) << p;
    }
  }

  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(VirtualPortDir(), "/tmp/dlt645-workbench-" + std::to_string(getuid()));
  if (!saved.empty()) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

// The time the line takes to carry a request, which the first-byte time of a reply leaves out:
// worked out by hand as characters x (start + data + parity + stop bits) / baud.
TEST(LineSendingTest, ARequestTakesItsCharactersAtTheBaudRate) {
  struct {
    const char* settings;
    int count;
    double ms;
  } const cases[] = {
      {"9600,E,8,1", 16, 16 * 11 * 1000.0 / 9600},  // 18.33 ms: a read request with no preamble
      {"1200,E,8,1", 20, 20 * 11 * 1000.0 / 1200},  // 183.3 ms: the slowest common meter line
      {"2400,N,8,1", 10, 10 * 10 * 1000.0 / 2400},
      {"9600,N,7,2", 3, 3 * 10 * 1000.0 / 9600},
      {"9600,E,8,1", 0, 0},
      {"fast,E,8,1", 16, 0},
  };
  for (const auto& c : cases) EXPECT_NEAR(LineSendingMs(c.settings, c.count), c.ms, 1e-9) << c.settings << " " << c.count;
}

// A pseudo-terminal carries bytes at once, whatever baud rate it was opened with.
TEST_F(SerialPortTest, APseudoTerminalTakesNoSendingTime) { EXPECT_EQ(Port.SendingMs(16), 0); }
