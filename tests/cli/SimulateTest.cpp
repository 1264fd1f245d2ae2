// `dlt645 simulate` as a user runs it: it prints where the meter is, keeps its link while it
// runs, answers on it, and ends cleanly on SIGINT or SIGTERM.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/RunProcess.h"
#include "tests/support/Background.h"

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

// Read of 00010000 from meter 000000000001.
const std::vector<uint8_t> ReadEnergy = {0x68, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x68,
                                         0x11, 0x04, 0x33, 0x33, 0x34, 0x33, 0xB3, 0x16};


// Opens the port, sends `request` and returns what comes back within `ms`.
std::vector<uint8_t> Exchange(const std::string& path, const std::vector<uint8_t>& request, int ms = 500) {
  std::vector<uint8_t> reply;
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return reply;
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  if (::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
    auto end = TClock::now() + std::chrono::milliseconds(ms);
    while (TClock::now() < end) {
      pollfd in{fd, POLLIN, 0};
      if (::poll(&in, 1, 50) <= 0) continue;
      uint8_t chunk[256];
      ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n > 0) reply.insert(reply.end(), chunk, chunk + n);
      if (!reply.empty() && reply.back() == 0x16) break;
    }
  }
  ::close(fd);
  return reply;
}

class SimulateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dlt645-simulate-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    Dir = pattern;
  }
  void TearDown() override { fs::remove_all(Dir); }
  std::string Dir;
};

TEST_F(SimulateTest, KeepsItsLinkWhileRunningAndEndsCleanlyOnSigint) {
  TBackground sim({DLT645_BIN, "simulate"}, Dir);
  ASSERT_TRUE(sim.WaitFor("Press Ctrl+C")) << sim.Text;
  std::string link = Dir + "/dlt645-workbench/meter-000000000001";
  EXPECT_EQ(sim.Field("Link: "), link);
  std::string pty = sim.Field("Virtual meter 000000000001 on ");
  EXPECT_EQ(pty.rfind("/dev/pts/", 0), 0u) << sim.Text;
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link).string(), pty);

  std::vector<uint8_t> reply = Exchange(link, ReadEnergy);
  ASSERT_EQ(reply.size(), 4u + 20u);
  EXPECT_EQ(reply[0], 0xFE);
  EXPECT_EQ(reply[4 + 8], 0x91);

  EXPECT_EQ(sim.Stop(SIGINT), 0) << sim.Text;
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_NE(sim.Text.find("Stopped"), std::string::npos);
}

// A port on 127.0.0.1 that nobody listens on right now (the system chose it).
// The meter behind a serial server: `send` and `poll` read it through tcp://.
TEST_F(SimulateTest, ListensOnTcpAndIsReadThroughTcpLinks) {
  const std::string name = "tcp://127.0.0.1:" + std::to_string(FreeLoopbackPort());
  TBackground sim({DLT645_BIN, "simulate", "--listen", name}, Dir);
  ASSERT_TRUE(sim.WaitFor("Press Ctrl+C")) << sim.Text;
  EXPECT_EQ(sim.Field("Listening: "), name);

  TProcessResult r = RunProcess({DLT645_BIN, "send", "--port", name, "--frame", "68010000000000681104333434 35"}, 10000);
  EXPECT_NE(r.Out.find("\nReply=68 01 00 00 00 00 00 68 91 06 33 34 34 35 "), std::string::npos) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("\nIdentifier=02010100\n"), std::string::npos) << r.Out;
  // One connection after the other, as a serial server serves one client at a time.
  r = RunProcess({DLT645_BIN, "poll", "--port", name, "--address", "1", "--di", "02010100", "--count", "2",
                  "--interval", "0"}, 10000);
  EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  // The bridge holds the meter's line as a port is held: a program opening the link directly
  // is told who has it, and never shares the meter's replies with the network client.
  r = RunProcess({DLT645_BIN, "send", "--port", sim.Field("Link: "), "--frame", "68010000000000681104333434 35"}, 10000);
  EXPECT_EQ(r.ExitCode, 1) << r.Out << r.Err;
  EXPECT_NE(r.Err.find("已被dlt645（进程号"), std::string::npos) << r.Err;
  EXPECT_EQ(sim.Stop(SIGINT), 0) << sim.Text;
  EXPECT_NE(sim.Text.find("Stopped (Interrupt), 3 replies sent."), std::string::npos) << sim.Text;
}

TEST_F(SimulateTest, OptionsShapeTheMeterAndSigtermEndsIt) {
  std::string link = Dir + "/my-meter";
  TBackground sim({DLT645_BIN, "simulate", "--address", "000000000001", "--link", link, "--preamble", "0", "--verbose"},
                  Dir);
  ASSERT_TRUE(sim.WaitFor("Press Ctrl+C")) << sim.Text;
  std::vector<uint8_t> reply = Exchange(link, ReadEnergy);
  ASSERT_EQ(reply.size(), 20u);
  EXPECT_EQ(reply[0], 0x68);
  EXPECT_TRUE(sim.WaitFor("request  68 01 00")) << sim.Text;
  EXPECT_TRUE(sim.WaitFor("reply    68 01 00")) << sim.Text;
  // Text lines travel as GBK; the trace shows them readable ("电能" echoed).
  const std::string echo = "AT+ECHO=\xB5\xE7\xC4\xDC\r";
  Exchange(link, std::vector<uint8_t>(echo.begin(), echo.end()), 200);
  EXPECT_TRUE(sim.WaitFor("text in  AT+ECHO=\xE7\x94\xB5\xE8\x83\xBD\n")) << sim.Text;
  EXPECT_TRUE(sim.WaitFor("text out \xE7\x94\xB5\xE8\x83\xBD\\r\\n")) << sim.Text;
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(SimulateTest, SilentFaultMeansNoReply) {
  TBackground sim({DLT645_BIN, "simulate", "--fault", "silent", "--link", Dir + "/m"}, Dir);
  ASSERT_TRUE(sim.WaitFor("Press Ctrl+C")) << sim.Text;
  EXPECT_TRUE(Exchange(Dir + "/m", ReadEnergy, 300).empty());
  EXPECT_EQ(sim.Stop(SIGINT), 0);
}

TEST_F(SimulateTest, ReplyFromAnswersWithAnotherAddress) {
  TBackground sim({DLT645_BIN, "simulate", "--reply-from", "000000000002", "--preamble", "0", "--link", Dir + "/m"}, Dir);
  ASSERT_TRUE(sim.WaitFor("Press Ctrl+C")) << sim.Text;
  std::vector<uint8_t> reply = Exchange(Dir + "/m", ReadEnergy);
  ASSERT_EQ(reply.size(), 20u);
  EXPECT_EQ(std::vector<uint8_t>(reply.begin(), reply.begin() + 8),
            (std::vector<uint8_t>{0x68, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x68}));
  EXPECT_EQ(sim.Stop(SIGINT), 0);
}

TEST_F(SimulateTest, BadOptionsAreRefused) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--address", "12345"}, {"--password", "XYZ"}, {"--fault", "bogus"},
        {"--preamble", "99"}, {"--delay", "-1"}, {"--reply-from", "12345"}, {"--nonsense"}, {"extra"}}) {
    std::vector<std::string> argv = {DLT645_BIN, "simulate"};
    argv.insert(argv.end(), args.begin(), args.end());
    TProcessResult result = RunProcess(argv, 5000);
    EXPECT_EQ(result.ExitCode, 2) << args[0] << ": " << result.Err;
    EXPECT_FALSE(result.Err.empty());
  }
  TProcessResult help = RunProcess({DLT645_BIN, "simulate", "--help"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_NE(help.Out.find("--fault"), std::string::npos);
}

}  // namespace

// Readings given in their own form, on the command line and in a file whose junk lines are
// reported with their numbers; `dlt645 send` reads them back as set.
TEST_F(SimulateTest, SetAndValuesFileGiveTheReadings) {
  const std::string values = Dir + "/values.txt";
  std::FILE* file = std::fopen(values.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs("# readings\n02010100=231.5\nnot a reading\n\n02020100=12.3456\n04000404=220V\n", file);
  std::fclose(file);
  TBackground sim({DLT645_BIN, "simulate", "--link", Dir + "/m", "--set", "02020100=-1.234", "--values", values}, Dir);
  ASSERT_TRUE(sim.WaitFor("Press Ctrl+C")) << sim.Text;
  EXPECT_NE(sim.Text.find(values + ":3：“not a reading”不是DI=VALUE（DI为8位十六进制数字）"), std::string::npos) << sim.Text;
  EXPECT_NE(sim.Text.find(values + ":5：02020100：“12.3456”的小数超过3位（该行已跳过）"), std::string::npos) << sim.Text;
  for (const auto& [di, reading] : {std::pair{"02020100", "Reading=-1.234 A\n"}, {"02010100", "Reading=231.5 V\n"},
                                    {"04000404", "Reading=220V\n"}}) {
    TProcessResult r = RunProcess({DLT645_BIN, "send", "--port", Dir + "/m", "--cmd", "read", "--address", "1", "--di", di});
    EXPECT_NE(r.Out.find(reading), std::string::npos) << r.Out << r.Err;
  }
  EXPECT_EQ(sim.Stop(SIGINT), 0);

  for (const char* set : {"02010100=-1", "0201010=1", "12345678=1", "00010500=1"}) {
    TProcessResult r = RunProcess({DLT645_BIN, "simulate", "--set", set}, 5000);
    EXPECT_EQ(r.ExitCode, 2) << set;
    EXPECT_NE(r.Err.find("--set"), std::string::npos) << r.Err;
  }
}

// A meter started after a power cut counts it and holds its power-down record.
TEST_F(SimulateTest, PowerCutGivesAPowerDownRecord) {
  TBackground sim({DLT645_BIN, "simulate", "--link", Dir + "/m", "--power-cut", "90"}, Dir);
  ASSERT_TRUE(sim.WaitFor("Press Ctrl+C")) << sim.Text;
  TProcessResult r = RunProcess({DLT645_BIN, "send", "--port", Dir + "/m", "--cmd", "read", "--address", "1", "--di", "03110000"});
  EXPECT_NE(r.Out.find("Reading=1\n"), std::string::npos) << r.Out << r.Err;
  r = RunProcess({DLT645_BIN, "send", "--port", Dir + "/m", "--cmd", "read", "--address", "1", "--di", "03110001"});
  EXPECT_NE(r.Out.find("Reading=发生时刻 20"), std::string::npos) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("Reading=结束时刻 20"), std::string::npos) << r.Out << r.Err;
  r = RunProcess({DLT645_BIN, "send", "--port", Dir + "/m", "--cmd", "read", "--address", "1", "--di", "03110002"});
  EXPECT_NE(r.Out.find("ErrorWord=02"), std::string::npos) << r.Out << r.Err;  // one cut only
  EXPECT_EQ(sim.Stop(SIGINT), 0);
  EXPECT_EQ(RunProcess({DLT645_BIN, "simulate", "--power-cut", "0"}, 5000).ExitCode, 2);
}
