// `dlt645 poll` and `send` when the meter's link goes away and comes back, and a meter that
// dials in: the virtual meter runs as its own process, killed and started again as a user
// would; 127.0.0.1 only, every run bounded.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "tests/cli/RunProcess.h"
#include "tests/support/Background.h"

namespace fs = std::filesystem;

namespace {

// `dlt645 simulate` in the background.
struct TSim : TBackground {
  explicit TSim(std::vector<std::string> args) : TBackground(WithProgram(std::move(args))) {}
  static std::vector<std::string> WithProgram(std::vector<std::string> args) {
    args.insert(args.begin(), {DLT645_BIN, "simulate"});
    return args;
  }
};

// After `upMs` the meter is killed, as a pulled cable; `downMs` later it is started again.
void RestartAfter(std::unique_ptr<TSim>& sim, const std::vector<std::string>& args, int upMs, int downMs) {
  std::this_thread::sleep_for(std::chrono::milliseconds(upMs));
  sim.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(downMs));
  sim = std::make_unique<TSim>(args);
  EXPECT_TRUE(sim->WaitFor("Press Ctrl+C")) << sim->Text;
}

std::string Summary(const std::string& text, const std::string& key) {
  const size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) return "-1";
  const size_t from = at + key.size() + 2;
  return text.substr(from, text.find('\n', from) - from);
}

// The outcome column of every row of a CSV without quoted fields (the header left out).
std::vector<std::string> Outcomes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> outcomes;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) outcomes.push_back(line.substr(line.rfind(',') + 1, line.size() - line.rfind(',') - 2));
  return outcomes;
}

class ReconnectCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::path(::testing::TempDir()) / ("reconnect-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    Csv = (Dir / "poll.csv").string();
  }
  void TearDown() override { fs::remove_all(Dir); }

  // Polls through `port` while the meter (`simArgs`) is killed after a second and started
  // again 2.5 s later, longer than an exchange's timeout, so that exchanges are lost.
  TProcessResult PollAcrossARestart(const std::string& port, const std::vector<std::string>& simArgs) {
    auto sim = std::make_unique<TSim>(simArgs);
    EXPECT_TRUE(sim->WaitFor("Press Ctrl+C")) << sim->Text;
    TProcessResult r;
    std::thread poll([&] {
      r = RunProcess({DLT645_BIN, "poll", "--port", port, "--address", "1", "--di", "00010000", "--count", "20",
                      "--interval", "0.2", "--timeout", "1", "--csv", Csv},
                     60000);
    });
    RestartAfter(sim, simArgs, 1000, 2500);
    poll.join();
    return r;
  }

  // Every exchange is in a row and counted once, whatever it ended with (on a loaded machine
  // some exchanges around the return may time out or get an abnormal reply); some were lost,
  // and the poll went on to read the meter again.
  void ExpectLostAndCounted(const TProcessResult& r) {
    EXPECT_EQ(r.ExitCode, 3) << r.Err;
    const std::vector<std::string> outcomes = Outcomes(Csv);
    std::ifstream in(Csv, std::ios::binary);
    const std::string rows = r.Out + std::string(std::istreambuf_iterator<char>(in), {});
    ASSERT_EQ(outcomes.size(), 20u) << rows;
    long ok = 0, lost = 0, abnormal = 0;
    for (const std::string& o : outcomes) {
      ok += o == "ok";
      lost += o.rfind("lost: ", 0) == 0;
      abnormal += o.rfind("error ", 0) == 0;
    }
    EXPECT_GE(lost, 1) << rows;
    EXPECT_EQ(outcomes.back(), "ok") << rows;
    EXPECT_EQ(std::stol(Summary(r.Out, "Lost")), lost) << rows;
    EXPECT_EQ(std::stol(Summary(r.Out, "Replies")), ok + abnormal) << rows;
    EXPECT_EQ(std::stol(Summary(r.Out, "ErrorReplies")), abnormal) << rows;
    EXPECT_EQ(ok + abnormal + lost + std::stol(Summary(r.Out, "Timeouts")), 20) << rows;
    EXPECT_NE(r.Err.find("连接已断开"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("连接已恢复"), std::string::npos) << r.Err;
  }

  fs::path Dir;
  std::string Csv;
};

TEST_F(ReconnectCliTest, PollGoesOnWhenThePtyVanishesAndComesBackAtItsLink) {
  const std::string link = (Dir / "meter").string();
  ExpectLostAndCounted(PollAcrossARestart(link, {"--link", link}));
}

TEST_F(ReconnectCliTest, PollGoesOnWhenTheTcpServerRestarts) {
  const std::string name = "tcp://127.0.0.1:" + std::to_string(FreeLoopbackPort());
  ExpectLostAndCounted(PollAcrossARestart(name, {"--link", (Dir / "meter").string(), "--listen", name}));
}

// A conformance run goes on when the meter's link comes back: the case that was on the line
// when it vanished ends as an error, the exchanges lost are counted, and cases after the return
// run and pass (the meter answers slowly, so the run is still going when it vanishes).
TEST_F(ReconnectCliTest, ATestRunGoesOnWhenThePtyVanishesAndComesBack) {
  const std::string link = (Dir / "meter").string();
  const std::vector<std::string> simArgs = {"--link", link, "--response", "150"};
  auto sim = std::make_unique<TSim>(simArgs);
  ASSERT_TRUE(sim->WaitFor("Press Ctrl+C")) << sim->Text;
  TProcessResult r;
  std::thread run([&] { r = RunProcess({DLT645_BIN, "test", "--port", link, "--case", "read.*"}, 90000); });
  RestartAfter(sim, simArgs, 1200, 3000);
  run.join();
  EXPECT_EQ(r.ExitCode, 2) << r.Out << r.Err;
  EXPECT_GE(std::stol(Summary(r.Out, "Lost")), 1L) << r.Out;
  EXPECT_EQ(r.Out.find("通信链路已断开，用例未执行"), std::string::npos) << r.Out;
  const size_t firstError = r.Out.find("\n错误  read.");
  ASSERT_NE(firstError, std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\n通过  read.", firstError), std::string::npos) << r.Out;
}

// A DTU dials in: `send` and then `poll` listen and wait for it (within their timeout); the
// meter dials again after each of them hung up.
TEST_F(ReconnectCliTest, AMeterThatDialsInIsReadThroughTcpListen) {
  const int portNumber = FreeLoopbackPort();
  const std::string listen = "tcp-listen://127.0.0.1:" + std::to_string(portNumber);
  TProcessResult r;
  std::thread send([&] {
    r = RunProcess({DLT645_BIN, "send", "--port", listen, "--timeout", "8", "--frame", "68010000000000681104333434 35"},
                   20000);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the device dials after the listener is up
  TSim sim({"--link", (Dir / "meter").string(), "--connect", "tcp://127.0.0.1:" + std::to_string(portNumber)});
  send.join();
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_NE(r.Out.find("\nIdentifier=02010100\n"), std::string::npos) << r.Out << r.Err;

  r = RunProcess({DLT645_BIN, "poll", "--port", listen, "--address", "1", "--di", "02010100", "--count", "2",
                  "--interval", "0", "--timeout", "8"},
                 20000);
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(Summary(r.Err, "Replies"), "2") << r.Err;
  EXPECT_TRUE(sim.WaitFor("Disconnected: ")) << sim.Text;
}

// A peer that sends half a reply and hangs up: the exchange ends with the reason, counted as
// lost, well before the reply's timeout.
TEST_F(ReconnectCliTest, BadLinksGiveAClearMessageWithoutHanging) {
  const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(server, 1), 0);
  socklen_t len = sizeof addr;
  ::getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len);
  const std::string name = "tcp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  std::thread peer([server] {
    const int fd = ::accept(server, nullptr, nullptr);
    char request[64];
    (void)!::read(fd, request, sizeof request);
    const uint8_t half[] = {0x68, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x68, 0x91, 0x08};
    (void)!::write(fd, half, sizeof half);
    ::close(fd);
  });
  TProcessResult r = RunProcess({DLT645_BIN, "poll", "--port", name, "--address", "1", "--di", "00010000", "--count",
                                 "1", "--timeout", "30"},
                                20000);
  peer.join();
  ::close(server);
  EXPECT_EQ(r.ExitCode, 3) << r.Err;
  EXPECT_EQ(Summary(r.Err, "Lost"), "1") << r.Err;
  EXPECT_NE(r.Out.find(",lost: 发送报文发生错误："), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("已断开：对方关闭了连接"), std::string::npos) << r.Out;

  struct TCase {
    std::vector<std::string> Args;
    std::string Complaint;
    int Exit = 1;
  } cases[] = {
      {{"send", "--port", "tcp://no-such-host.invalid:4001", "--cmd", "read", "--address", "1", "--di", "00010000"},
       "找不到主机“no-such-host.invalid”"},
      {{"send", "--port", "tcp://127.0.0.1:" + std::to_string(FreeLoopbackPort()), "--cmd", "read", "--address", "1",
        "--di", "00010000"},
       "连接被拒绝"},
      {{"simulate", "--link", (Dir / "m").string(), "--connect", "tcp://no-such-host.invalid:4001"},
       "找不到主机“no-such-host.invalid”", 2},
      {{"simulate", "--link", (Dir / "m").string(), "--connect", "tcp-listen://127.0.0.1:4001"}, "--connect应为tcp://HOST:PORT", 2},
  };
  for (const TCase& c : cases) {
    std::vector<std::string> argv = {DLT645_BIN};
    argv.insert(argv.end(), c.Args.begin(), c.Args.end());
    const TProcessResult bad = RunProcess(argv, 10000);
    EXPECT_EQ(bad.ExitCode, c.Exit) << c.Complaint << ": " << bad.Err;
    EXPECT_NE((bad.Out + bad.Err).find(c.Complaint), std::string::npos) << bad.Out << bad.Err;
  }
}

}  // namespace
