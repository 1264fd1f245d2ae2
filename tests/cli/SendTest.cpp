// `dlt645 send` as a user runs it, against the virtual meter on a pseudo-terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <thread>

#include "comm/SerialPort.h"
#include "sim/MeterCore.h"
#include "sim/VirtualMeter.h"
#include "tests/cli/RunProcess.h"

namespace {
using Clock = std::chrono::steady_clock;

const std::vector<uint8_t> kReadVoltage = {0x68, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x68,
                                           0x11, 0x04, 0x33, 0x34, 0x34, 0x35, 0xB6, 0x16};

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class SendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(Meter.Start(error)) << error;
  }
  TProcessResult Send(std::vector<std::string> args) {
    args.insert(args.begin(), {DLT645_BIN, "send", "--port", Meter.PortPath()});
    return RunProcess(args, 20000);
  }
  void Faults(bool noReply, bool badSum = false) {
    TMeterFaults f;
    f.NoReply = noReply;
    f.BadChecksum = badSum;
    Meter.SetFaults(f);
  }
  TVirtualMeter Meter{TMeterOptions{}};
};
}  // namespace

TEST_F(SendTest, AComposedReadIsAnsweredAndDecoded) {
  auto r = Send({"--cmd", "read", "--address", "1", "--di", "02010100", "--preamble", "FE:4"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_NE(r.Out.find("Sent=FE FE FE FE 68 01 00 00 00 00 00 68 11 04 33 34 34 35 B6 16 \n"),
            std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\nReply=68 01 00 00 00 00 00 68 91 "), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\nAddress=000000000001\n"), std::string::npos);
  EXPECT_NE(r.Out.find("\nFuncCode=11\n"), std::string::npos);
  EXPECT_NE(r.Out.find("\nData=00010102"), std::string::npos);
  // The value follows the identifier and is shown most significant byte first: 0x12 0x34 on the
  // wire after the identifier reads 3412.
  const size_t data = r.Out.find("\nData=00010102");
  ASSERT_NE(data, std::string::npos);
  const std::string wireValue = r.Out.substr(data + 14, 4);
  EXPECT_NE(r.Out.find("\nValue=" + wireValue.substr(2, 2) + wireValue.substr(0, 2) + "\n"),
            std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\nRoundTripMs="), std::string::npos);
  EXPECT_NE(r.Out.find("\nResult=成功\n"), std::string::npos);
  std::vector<uint8_t> wire = {0xFE, 0xFE, 0xFE, 0xFE};
  wire.insert(wire.end(), kReadVoltage.begin(), kReadVoltage.end());
  EXPECT_EQ(Meter.ReceivedBytes(), wire);
}

// A typed frame goes out without preamble; its checksum and end byte are added as the main
// window adds them, unless the typed text already is a whole frame.
TEST_F(SendTest, ATypedFrameIsSentWithoutPreamble) {
  auto r = Send({"--settings", "2400,E,8,1", "--frame", "68 01 00 00 00 00 00 68 11 04 33 34 34 35"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(Meter.ReceivedBytes(), kReadVoltage);
  Meter.ClearReceived();
  r = Send({"--frame", "680100000000006811043334343 5B616"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(Meter.ReceivedBytes(), kReadVoltage);
  EXPECT_NE(r.Out.find("Result=成功"), std::string::npos);
}

TEST_F(SendTest, CountPrintsRoundTripStatistics) {
  auto r = Send({"--frame", "68010000000000681104333434 35", "--count", "20"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_NE(r.Out.find("Exchanges=20\n"), std::string::npos) << r.Out;
  for (const char* key : {"RoundTripMinMs=", "RoundTripMedianMs=", "RoundTripMaxMs="}) {
    EXPECT_NE(r.Out.find(key), std::string::npos) << key;
  }
  EXPECT_EQ(Meter.RepliesSent(), 20);
}

TEST_F(SendTest, NoReplyInTimeExitsTwoAndAnInvalidReplyExitsOne) {
  Faults(true);
  auto t0 = Clock::now();
  auto r = Send({"--cmd", "read", "--address", "1", "--di", "02010100", "--timeout", "1"});
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_NE(r.Err.find("等待数据回应超时！"), std::string::npos) << r.Err;
  EXPECT_GE(Clock::now() - t0, std::chrono::seconds(1));

  Faults(false, true);
  r = Send({"--cmd", "read", "--address", "1", "--di", "02010100"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("收到无效数据报文：68 01 00 00 00 00 00 68 91 "), std::string::npos) << r.Err;
}

TEST_F(SendTest, CtrlCStopsTheWaitWithExitThree) {
  Faults(true);
  int err[2];
  ASSERT_EQ(pipe(err), 0);
  std::string port = Meter.PortPath();
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(err[1], STDERR_FILENO);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDOUT_FILENO);
    execl(DLT645_BIN, DLT645_BIN, "send", "--port", port.c_str(), "--frame", "68010000000000681104333434 35",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(err[1]);
  ASSERT_TRUE(WaitFor([&] { return Meter.ReceivedBytes().size() >= 16; }, 5000));
  auto t0 = Clock::now();
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = read(err[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(err[0]);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_NE(text.find("通信被中断！"), std::string::npos) << text;
}

// A port held by another program and a missing port are refused with exit 1 and the reason.
TEST_F(SendTest, ABusyOrMissingPortExitsOne) {
  TSerialPort holder;
  std::string error;
  ASSERT_EQ(holder.Open(Meter.PortPath(), "9600,N,8,1", 1, error), 0) << error;
  auto r = Send({"--frame", "6816"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("占用"), std::string::npos) << r.Err;
  EXPECT_TRUE(Meter.ReceivedBytes().empty());
  holder.Close(error);

  r = RunProcess({DLT645_BIN, "send", "--port", "/dev/ttyMissing7", "--frame", "6816"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("串口/dev/ttyMissing7不存在！"), std::string::npos) << r.Err;

  r = RunProcess({DLT645_BIN, "send", "--frame", "6816"});
  EXPECT_EQ(r.ExitCode, 2);
  r = Send({"--frame", "6816", "--count", "0"});
  EXPECT_EQ(r.ExitCode, 2);
}

// With --count a failure is counted and the run goes on; a reply from a meter other than the
// one addressed is shown as stale, never as the reply, and the real answer behind it is taken;
// round trips have microsecond resolution.
TEST_F(SendTest, CountGoesOnAfterFailuresAndAnotherAddressIsStale) {
  Faults(false, true);
  auto r = Send({"--frame", "68010000000000681104333434 35", "--count", "3"});
  EXPECT_EQ(r.ExitCode, 1);
  for (const char* line : {"\nExchanges=3\n", "\nReplies=0\n", "\nInvalidReplies=3\n", "\nTimeouts=0\n"}) {
    EXPECT_NE(r.Out.find(line), std::string::npos) << line << r.Out;
  }
  EXPECT_NE(r.Err.find("收到无效数据报文：校验和错误\n"), std::string::npos) << r.Err;
  EXPECT_EQ(Meter.RepliesSent(), 3);

  Faults(true);
  Meter.ClearReceived();
  TProcessResult sent;
  std::thread sender([&] { sent = Send({"--cmd", "read", "--address", "1", "--di", "02010100"}); });
  ASSERT_TRUE(WaitFor([&] { return Meter.ReceivedBytes().size() >= 16; }, 5000));
  std::vector<uint8_t> both = TMeterCore::BuildFrame("000000000002", 0x91, {0x00, 0x01, 0x01, 0x02, 0x10, 0x23});
  std::vector<uint8_t> answer = TMeterCore::BuildFrame("000000000001", 0x91, {0x00, 0x01, 0x01, 0x02, 0x00, 0x22});
  both.insert(both.end(), answer.begin(), answer.end());
  Meter.WriteRaw(both);
  sender.join();
  EXPECT_EQ(sent.ExitCode, 0) << sent.Err;
  EXPECT_NE(sent.Out.find("\nStale=68 02 00 00 00 00 00 68 91 06 33 34 34 35 43 56 "), std::string::npos) << sent.Out;
  EXPECT_NE(sent.Out.find("非本次请求的应答：地址不符\n"), std::string::npos) << sent.Out;
  EXPECT_NE(sent.Out.find("\nReading=220.0 V\n"), std::string::npos) << sent.Out;
  EXPECT_EQ(sent.Out.find("231.0"), std::string::npos) << "the other meter's value is no reading" << sent.Out;
  const size_t trip = sent.Out.find("\nRoundTripMs=");
  ASSERT_NE(trip, std::string::npos);
  const std::string ms = sent.Out.substr(trip + 13, sent.Out.find('\n', trip + 1) - trip - 13);
  EXPECT_EQ(ms.size() - ms.find('.'), 4u) << ms;
}
