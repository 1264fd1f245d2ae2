// `dlt645 compose` as a user's shell runs it: the bytes it prints, its messages and exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/RunProcess.h"
#include "protocol/Compose.h"
#include "protocol/ExpectedFrame.h"

namespace {

TProcessResult Compose(std::vector<std::string> args) {
  args.insert(args.begin(), {DLT645_BIN, "compose"});
  return RunProcess(args);
}

// The frame a meter expects, as one output line.
std::string Expected(const std::string& address, int ctrl, const std::string& data, const std::string& preamble = "") {
  return ExpectedFrame(address, ctrl, data, preamble) + "\n";
}

class ComposeCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "compose-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    Dir = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
  // Writes a settings file (GBK bytes, CR LF) and returns its path.
  std::string WriteSettings(const std::string& name, const std::vector<std::string>& lines) {
    const std::string path = (std::filesystem::path(Dir) / name).string();
    std::ofstream out(path, std::ios::binary);
    out << "[DLTPARAMETER]\r\n";
    for (const auto& line : lines) out << line << "\r\n";
    return path;
  }
  std::string Dir;
};

const std::string ReadLine = "68 01 00 00 00 00 00 68 11 04 33 33 34 33 B3 16 \n";
const std::string Psw = "15494026";       // default password 26404915, wire order
const std::string Operator = "4C495551";  // default operator QUIL, last character first

}  // namespace

TEST_F(ComposeCliTest, ReadDataByEntryOrShortName) {
  const std::string entry = CtrlListEntries()[0];
  for (const std::string& cmd : {entry, std::string("read"), std::string("READ")}) {
    TProcessResult r = Compose({"--cmd", cmd, "--address", "1", "--di", "00010000"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, ReadLine) << cmd;
    EXPECT_EQ(r.Err, "");
  }
}

TEST_F(ComposeCliTest, RelaysGoIntoTheControlByteAndTheDataField) {
  TProcessResult r = Compose({"--cmd", "read", "--address", "123456789012", "--di", "00010000", "--relay", "11",
                              "--relay", "22", "--relay", "000000000033"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out.substr(24, 3), "71 ");
  EXPECT_EQ(r.Out, Expected("000000000011", 0x71, "220000000000" "330000000000" "129078563412" "00000100"));
}

TEST_F(ComposeCliTest, WriteTariffTableIsReversedGroupByGroup) {
  TProcessResult r = Compose({"--cmd", "write", "--address", "1", "--di", "04010001", "--data", "000101120002"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  std::string table = "010100020012";
  for (int i = 0; i < 12; ++i) table += "000000";
  EXPECT_EQ(r.Out, Expected("000000000001", 0x14, "01000104" + Psw + Operator + table));
}

TEST_F(ComposeCliTest, CommandsWithFixedAddressesAndDecimalData) {
  EXPECT_EQ(Compose({"--cmd", "read-mac"}).Out, Expected("AAAAAAAAAAAA", 0x13, "01"));
  EXPECT_EQ(Compose({"--cmd", "read-address"}).Out, Expected("AAAAAAAAAAAA", 0x13, ""));
  EXPECT_EQ(Compose({"--cmd", "write-address", "--data", "1"}).Out, Expected("AAAAAAAAAAAA", 0x15, "010000000000"));
  EXPECT_EQ(Compose({"--cmd", "broadcast-time", "--data", "240102030405"}).Out,
            Expected("999999999999", 0x08, "050403020124"));
  EXPECT_EQ(Compose({"--cmd", "read-next", "--address", "1", "--di", "00010000", "--data", "300"}).Out,
            Expected("000000000001", 0x12, "000001002C"));
  EXPECT_EQ(Compose({"--cmd", "baud", "--address", "1", "--data", "9600"}).Out, Expected("000000000001", 0x17, "20"));
  EXPECT_EQ(Compose({"--cmd", "write", "--address", "1", "--di", "04FF0001", "--len", "4", "--data", "1234"}).Out,
            Expected("000000000001", 0x14, "0100FF04" + Psw + Operator + "34120000"));
}

// Without --data, broadcast time sends the local time of the moment (ssmmhhDDMMYY on the line)
// and freeze sends 99999999, freeze at once; both say so on stderr.
TEST_F(ComposeCliTest, BroadcastTimeAndFreezeWithoutDataSendNowAndSaySo) {
  TProcessResult r = Compose({"--cmd", "freeze", "--address", "1"});
  EXPECT_EQ(r.Out, Expected("000000000001", 0x16, "99999999"));
  EXPECT_NE(r.Err.find("99999999（立即冻结）"), std::string::npos) << r.Err;

  auto wire = [](std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%S%M%H%d%m%y", &local);
    return std::string(text);
  };
  const std::time_t before = std::time(nullptr);
  r = Compose({"--cmd", "broadcast-time"});
  const std::time_t after = std::time(nullptr);
  bool now = false;
  for (std::time_t t = before; t <= after; ++t) now = now || r.Out == Expected("999999999999", 0x08, wire(t));
  EXPECT_TRUE(now) << r.Out;
  EXPECT_NE(r.Err.find("广播校时发送本机当前时间"), std::string::npos) << r.Err;
}

TEST_F(ComposeCliTest, SettingsFileGivesPasswordOperatorCollectorAndPreamble) {
  // Operator code: one GBK character (2 bytes) and two letters.
  const std::vector<std::string> lines = {"PSW=12345678", "OPERATOR=\xB2\xE2" "AB", "USECOLLECTOR=1",
                                          "COLLECTOR=000000000099", "USELC=1", "LC=fe", "LCCount=2"};
  const std::string setup = WriteSettings("Setup.ini", lines);
  const std::string other = WriteSettings("meter.ini", lines);
  const std::string expected = Expected("000000000099", 0x1A, "78563412" "4241E2B2" "050000000000", "FE FE ");
  for (const std::string& path : {setup, Dir, other}) {
    TProcessResult r = Compose({"--cmd", "clear-meter", "--address", "5", "--settings", path});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, expected) << path;
  }
  // Options override the file.
  TProcessResult r = Compose({"--cmd", "clear-meter", "--address", "5", "--settings", setup, "--password", "1",
                              "--operator", "\xE6\xB5\x8B", "--collector", "77", "--preamble", "none"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, Expected("000000000077", 0x1A, "00000010" "3030E2B2" "050000000000"));
  // The collector is not used when reading the address.
  EXPECT_EQ(Compose({"--cmd", "read-address", "--settings", setup}).Out, Expected("AAAAAAAAAAAA", 0x13, "", "FE FE "));
  // A preamble byte the channel could not send is refused.
  const std::string bad = WriteSettings("bad.ini", {"USELC=1", "LC=XY", "LCCOUNT=2"});
  r = Compose({"--cmd", "clear-meter", "--address", "5", "--settings", bad});
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_EQ(r.Out, "");
  // No settings: the defaults of a new installation, no preamble.
  EXPECT_EQ(Compose({"--cmd", "clear-meter", "--address", "5", "--preamble", "e:3"}).Out,
            Expected("000000000005", 0x1A, Psw + Operator, "0E 0E 0E "));
}

TEST_F(ComposeCliTest, NoFrameExitsOneWithTheReason) {
  struct TCase {
    std::vector<std::string> Args;
    const char* Reason;
  };
  const TCase cases[] = {
      {{"--cmd", "baud", "--address", "1", "--data", "14400"}, "无法组帧：波特率应为600、1200、2400、4800、9600、19200之一"},
      {{"--cmd", "baud", "--address", "1"}, "无法组帧：波特率应为"},
      {{"--cmd", "read", "--address", "1", "--di", "0001000"}, "该命令需要恰好8位十六进制数字的数据标识"},
      {{"--cmd", "read", "--address", "1"}, "该命令需要恰好8位十六进制数字的数据标识"},
      {{"--cmd", "read", "--address", "1", "--di", "00010000", "--relay", "2", "--settings",
        WriteSettings("Setup.ini", {"USECOLLECTOR=1"})},
       "采集器地址不是12位十六进制数字"},
  };
  for (const TCase& c : cases) {
    TProcessResult r = Compose(c.Args);
    EXPECT_EQ(r.ExitCode, 1) << c.Reason;
    EXPECT_EQ(r.Out, "");
    EXPECT_NE(r.Err.find(c.Reason), std::string::npos) << r.Err;
  }
  // Without relays the empty collector address fails in packing, with the codec's message.
  TProcessResult r = Compose({"--cmd", "read", "--address", "1", "--di", "00010000", "--settings", Dir});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_FALSE(r.Err.empty());
}

TEST_F(ComposeCliTest, BadOptionsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--cmd", "fly", "--address", "1"},
      {"--cmd", "read", "--di", "00010000"},
      {"--cmd", "read", "--address", "1", "--di", "0001000G"},
      {"--cmd", "read", "--address", "1234567890123", "--di", "00010000"},
      {"--cmd", "clear-meter", "--address", "1", "--di", "00010000"},
      {"--cmd", "read-address", "--relay", "1"},
      {"--cmd", "broadcast-time", "--address", "1"},
      {"--cmd", "freeze", "--address", "1", "--data", "123456789"},
      {"--cmd", "read", "--address", "1", "--di", "00010000", "--data", "12"},
      {"--cmd", "read", "--address", "1", "--di", "06010002", "--data", "02"},
      {"--cmd", "write", "--address", "1", "--di", "04000101", "--len", "4"},
      {"--cmd", "read", "--address", "1", "--di", "00010000", "--relay", "1", "--relay", "1"},
      {"--cmd", "read", "--address", "1", "--di", "00010000", "--relay", "1", "--relay", "2", "--relay", "3",
       "--relay", "4", "--relay", "5", "--relay", "6", "--relay", "7", "--relay", "8"},
      {"--cmd", "read", "--address", "1", "--di", "00010000", "--settings", "/nonexistent/dlt645"},
      {"--cmd", "read", "--address", "1", "--di", "00010000", "--preamble", "FE:99"},
      {"--cmd", "read", "--address", "1", "--di", "00010000", "--operator", "ABCDE"},
      {"--cmd", "read", "--address", "1", "--di", "00010000", "--bogus"},
      {"--cmd", "read", "--address", "1", "--di", "00010000", "extra"},
  };
  for (const auto& args : cases) {
    TProcessResult r = Compose(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.ExitCode, 2) << joined;
    EXPECT_EQ(r.Out, "") << joined;
    EXPECT_NE(r.Err, "") << joined;
  }
}

TEST_F(ComposeCliTest, VerbosePrintsTheComposedFields) {
  TProcessResult r = Compose({"--cmd", "read", "--address", "1", "--di", "00010000", "--relay", "11", "--verbose"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  for (const char* line : {"Address=000000000011\n", "CtrlCode=11H\n", "RelayCount=1\n", "DI=00000100\n",
                           "DataField=01000000000000000100\n", "DataLen=10\n", "TimeoutSec=20\n", "NoReply=0\n",
                           "ViaCollector=0\n"})
    EXPECT_NE(r.Out.find(line), std::string::npos) << line;
  EXPECT_EQ(r.Out.find("68 11 00 00 00 00 00 68 31 0A "), 0u);

  r = Compose({"--cmd", "freeze", "--address", "999999999999", "--data", "12311200", "--verbose"});
  EXPECT_NE(r.Out.find("NoReply=1\n"), std::string::npos);
  r = Compose({"--cmd", "freeze", "--address", "1", "--verbose"});
  EXPECT_NE(r.Out.find("NoReply=0\n"), std::string::npos);
}

TEST_F(ComposeCliTest, HelpListsEveryCommand) {
  TProcessResult r = Compose({"--help"});
  EXPECT_EQ(r.ExitCode, 0);
  for (const std::string& entry : CtrlListEntries()) EXPECT_NE(r.Out.find(entry), std::string::npos) << entry;
  for (const char* name : {"read", "write", "read-mac", "write-mac", "read-address", "write-address", "broadcast-time",
                           "freeze", "baud", "password", "clear-demand", "clear-meter", "clear-events", "read-next"})
    EXPECT_NE(r.Out.find(std::string("  ") + name + "\n"), std::string::npos) << name;
}
