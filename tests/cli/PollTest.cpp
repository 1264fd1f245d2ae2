// `dlt645 poll` as a user runs it, against the virtual meter on a pseudo-terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "cli/RoundTrips.h"
#include "sim/VirtualMeter.h"
#include "tests/cli/RunProcess.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The CSV's rows (CR LF ended) split into fields; the fields used here hold no quotes.
std::vector<std::vector<std::string>> Rows(const std::string& csv) {
  std::vector<std::vector<std::string>> rows;
  size_t pos = 0;
  while (pos < csv.size()) {
    size_t end = csv.find("\r\n", pos);
    if (end == std::string::npos) break;
    std::vector<std::string> fields;
    std::stringstream line(csv.substr(pos, end - pos));
    for (std::string field; std::getline(line, field, ',');) fields.push_back(field);
    rows.push_back(fields);
    pos = end + 2;
  }
  return rows;
}

std::string Summary(const std::string& text, const std::string& key) {
  const size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos && text.rfind(key + "=", 0) != 0) return "(missing)";
  const size_t from = (at == std::string::npos ? 0 : at + 1) + key.size() + 1;
  return text.substr(from, text.find('\n', from) - from);
}

class PollTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TMeterOptions options;
    options.Values[0x00010000] = {0x56, 0x34, 0x12, 0x00};  // 1234.56 kWh
    Meter = std::make_unique<TVirtualMeter>(options);
    std::string error;
    ASSERT_TRUE(Meter->Start(error)) << error;
    Csv = ::testing::TempDir() + "/poll-" + std::to_string(::getpid()) + ".csv";
  }
  void TearDown() override { std::remove(Csv.c_str()); }
  std::vector<std::string> Poll(std::vector<std::string> args) {
    args.insert(args.begin(), {DLT645_BIN, "poll", "--port", Meter->PortPath(), "--address", "1"});
    return args;
  }
  std::unique_ptr<TVirtualMeter> Meter;
  std::string Csv;
};

}  // namespace

TEST_F(PollTest, WritesOneRowPerExchangeAndASummary) {
  auto r = RunProcess(Poll({"--di", "00010000", "--di", "0500FF00", "--count", "3", "--interval", "0", "--csv", Csv}));
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  const std::string csv = ReadFile(Csv);
  ASSERT_EQ(csv.rfind("\xEF\xBB\xBF", 0), 0u) << "a spreadsheet needs the byte order mark to take UTF-8";
  const auto rows = Rows(csv.substr(3));
  ASSERT_EQ(rows.size(), 7u) << csv;
  EXPECT_EQ(rows[0], (std::vector<std::string>{"time", "address", "identifier", "name", "raw value", "reading", "unit",
                                                "round trip ms", "outcome"}));
  const auto& energy = rows[1];
  ASSERT_EQ(energy.size(), 9u);
  EXPECT_EQ(energy[0].size(), 23u) << energy[0];  // yyyy-mm-dd hh:mm:ss.zzz
  EXPECT_EQ(std::vector<std::string>(energy.begin() + 1, energy.begin() + 7),
            (std::vector<std::string>{"000000000001", "00010000", "(当前)正向有功总电量", "00123456", "1234.56", "kWh"}));
  EXPECT_EQ(energy[7].size() - energy[7].find('.'), 4u) << energy[7];  // three decimals
  EXPECT_EQ(energy[8], "ok");
  EXPECT_EQ(rows[2][8], "error 02H 无请求数据");
  for (const auto& [key, value] : {std::pair{"Rounds", "3"}, {"Exchanges", "6"}, {"Replies", "6"}, {"ErrorReplies", "3"},
                                   {"Timeouts", "0"}, {"InvalidReplies", "0"}, {"Interrupted", "0"}}) {
    EXPECT_EQ(Summary(r.Out, key), value) << key << "\n" << r.Out;
  }
  for (const char* key : {"RoundTripMinMs", "RoundTripMedianMs", "RoundTripP95Ms", "RoundTripMaxMs"}) {
    EXPECT_NE(Summary(r.Out, key), "(missing)") << key;
  }
  EXPECT_LE(std::stod(Summary(r.Out, "RoundTripMinMs")), std::stod(Summary(r.Out, "RoundTripP95Ms")));
}

// Silence, a bad checksum and a slow meter: each exchange is counted and the run goes on.
TEST_F(PollTest, KeepsGoingThroughTheMetersFaults) {
  struct TCase {
    TMeterFaults Faults;
    const char* Outcome;
    const char* Counter;
    int Exit;
  } cases[3];
  cases[0] = {{}, "timeout", "Timeouts", 2};
  cases[0].Faults.NoReply = true;
  cases[1] = {{}, "invalid reply", "InvalidReplies", 2};
  cases[1].Faults.BadChecksum = true;
  cases[2] = {{}, "ok", "Replies", 0};
  cases[2].Faults.DelayMs = 120;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Outcome);
    Meter->SetFaults(c.Faults);
    auto r = RunProcess(Poll({"--di", "02010100", "--count", "2", "--interval", "0", "--timeout", "1", "--csv", Csv}), 20000);
    EXPECT_EQ(r.ExitCode, c.Exit) << r.Err;
    const auto rows = Rows(ReadFile(Csv).substr(3));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1][8], c.Outcome);
    EXPECT_EQ(rows[2][8], c.Outcome);
    EXPECT_EQ(Summary(r.Out, c.Counter), "2") << r.Out;
    if (c.Faults.DelayMs) {
      EXPECT_GE(std::stod(Summary(r.Out, "RoundTripMinMs")), 120.0);
    }
    if (c.Faults.BadChecksum) {
      EXPECT_EQ(rows[1][4].rfind("68 01 00 00 00 00 00 68 91 ", 0), 0u) << rows[1][4];
    }
  }
}

TEST_F(PollTest, CtrlCEndsTheRunWithTheSummary) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  std::vector<std::string> args = Poll({"--di", "02010100", "--interval", "0.01", "--csv", Csv});
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  for (int i = 0; i < 500 && Meter->RepliesSent() < 5; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(pid, SIGINT);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << text;
  EXPECT_EQ(Summary(text, "Interrupted"), "1") << text;
  const long exchanges = std::stol(Summary(text, "Exchanges"));
  EXPECT_GE(exchanges, 5);
  EXPECT_EQ(Rows(ReadFile(Csv).substr(3)).size(), static_cast<size_t>(exchanges) + 1) << "every exchange has its row";
}

TEST_F(PollTest, BadInputIsRefusedBeforeTheFirstExchange) {
  const std::string diFile = Csv + ".di";
  std::ofstream(diFile) << "00010000  # energy\n\n0201010\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--di", "00010000", "--csv", "/nonexistent-dir/x.csv"}, "无法写入/nonexistent-dir/x.csv："},
      {{"--di-file", diFile}, diFile + ":3：“0201010”不是8位十六进制数字的数据标识"},
      {{"--di", "00010000", "--interval", "-1"}, "--interval“-1”应为0到86400之间的秒数"},
      {{"--di", "0001000G"}, "--di“0001000G”应为8位十六进制数字"},
      {{"--di", "00010000", "--duration", "5x"}, "--duration“5x”应为90、90s、15m或2h这样的时长"},
      {{"--di", "00010000", "--count", "0"}, "--count“0”应为不小于1的轮数"},
      {{"--address", "1234567890123", "--di", "00010000"}, "--address“1234567890123”应为1到12位十六进制数字的地址"},
      {{}, "请用--di或--di-file给出数据标识"},
  };
  for (const auto& [args, message] : cases) {
    auto r = RunProcess(Poll(args));
    EXPECT_EQ(r.ExitCode, 1) << message;
    EXPECT_NE(r.Err.find(message), std::string::npos) << r.Err;
  }
  auto r = RunProcess({DLT645_BIN, "poll", "--port", "/dev/ttyMissing7", "--address", "1", "--di", "00010000"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_TRUE(Meter->ReceivedBytes().empty());
  std::remove(diFile.c_str());
}

// A meter slower than the timeout answers each request during the next one (energy and voltage
// alternating): its late replies are counted as stale, and no row shows one identifier's value
// as another's reading.
TEST_F(PollTest, ALateMeterNeverGivesOneIdentifiersValueAsAnothers) {
  TMeterFaults faults;
  faults.DelayMs = 1500;
  Meter->SetFaults(faults);
  auto r = RunProcess(Poll({"--di", "00010000", "--di", "02010100", "--count", "2", "--interval", "0", "--timeout", "1",
                            "--csv", Csv}), 30000);
  EXPECT_EQ(r.ExitCode, 2) << r.Err;
  const auto rows = Rows(ReadFile(Csv).substr(3));
  ASSERT_EQ(rows.size(), 5u);
  int timeouts = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    // A reading, if any, is always the row's own identifier's (a late reply to an earlier read of
    // the same identifier cannot be told apart from the answer, and carries that identifier).
    const std::string unit = rows[i][2] == "00010000" ? "kWh" : "V";
    if (!rows[i][6].empty()) {
      EXPECT_EQ(rows[i][6], unit) << "row " << i << ": " << rows[i][5];
    }
    timeouts += rows[i][8].rfind("timeout", 0) == 0;
  }
  EXPECT_GE(timeouts, 2);
  EXPECT_GE(std::stol(Summary(r.Out, "Stale")), 1L) << r.Out;
}

// The port goes away mid-run and does not come back: every exchange after it is lost, in its
// row and in the summary, and the exit code says so.
TEST_F(PollTest, APortThatGoesAwayIsCountedAndExitsThree) {
  TProcessResult r;
  std::thread poll([&] {
    r = RunProcess(Poll({"--di", "00010000", "--count", "8", "--interval", "0.05", "--timeout", "1", "--csv", Csv}),
                   30000);
  });
  for (int i = 0; i < 500 && Meter->RepliesSent() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  Meter->ClosePeer();
  poll.join();
  EXPECT_EQ(r.ExitCode, 3) << r.Err;
  const auto rows = Rows(ReadFile(Csv).substr(3));
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_EQ(rows[1][8], "ok");
  EXPECT_EQ(rows[8][8].rfind("lost: 发送报文发生错误：", 0), 0u) << rows[8][8];
  const long replies = std::stol(Summary(r.Out, "Replies"));
  const long lost = std::stol(Summary(r.Out, "Lost"));
  EXPECT_GE(replies, 2L);
  EXPECT_GE(lost, 1L);
  EXPECT_EQ(replies + lost + std::stol(Summary(r.Out, "Timeouts")), 8L) << r.Out;
}

// The summary's figures for known round trips: the median of an even count is the mean of the
// middle two; the 95th percentile is the value of rank ceil(0.95 n).
TEST(PollFigures, MedianAndNearestRankP95) {
  // 11 values 1..11 out of order: median 6; rank ceil(10.45) = 11 -> 11.
  TRoundTrips f = RoundTripFigures({7, 3, 11, 1, 9, 5, 2, 10, 4, 8, 6});
  EXPECT_EQ(f.Median, 6);
  EXPECT_EQ(f.P95, 11);
  EXPECT_EQ(f.Min, 1);
  EXPECT_EQ(f.Max, 11);
  // 20 values 10, 20, ..., 200 reversed: median (100 + 110) / 2 = 105; rank 19 -> 190.
  std::vector<double> twenty;
  for (int v = 200; v >= 10; v -= 10) twenty.push_back(v);
  f = RoundTripFigures(twenty);
  EXPECT_EQ(f.Median, 105);
  EXPECT_EQ(f.P95, 190);
  // Two values: the median is their mean, the 95th percentile the larger.
  f = RoundTripFigures({4, 1});
  EXPECT_EQ(f.Median, 2.5);
  EXPECT_EQ(f.P95, 4);
}
