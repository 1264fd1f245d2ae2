// `dlt645 encode` and `dlt645 decode` as a user's shell runs them: what they print, where, and
// how they exit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/RunProcess.h"

namespace {
const std::string kValid = "合法帧";
const std::string kInvalid = "非法帧";
const std::string kPackError = "生成发送报文内容发生错误：";

TProcessResult Dlt(std::vector<std::string> args) {
  args.insert(args.begin(), DLT645_BIN);
  return RunProcess(args);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
  for (const std::string& l : Lines(text)) {
    if (l == line) return true;
  }
  return false;
}
}  // namespace

TEST(EncodeCliTest, PrintsTheFrameAsSpacedHex) {
  TProcessResult r = Dlt({"encode", "--address", "000000000001", "--ctrl", "11", "--data", "33333434"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, "68 01 00 00 00 00 00 68 11 04 66 66 67 67 80 16 \n");
  EXPECT_EQ(r.Err, "");
}

TEST(EncodeCliTest, OptionForms) {
  struct TCase {
    std::vector<std::string> Args;
    const char* Out;
  } cases[] = {
      {{"--address", "000000000001", "--ctrl", "0x11"}, "68 01 00 00 00 00 00 68 11 00 E2 16 \n"},
      {{"--address=000000000001", "--ctrl=11H"}, "68 01 00 00 00 00 00 68 11 00 E2 16 \n"},
      {{"--address", "000000000001", "--ctrl", "11", "--relays", "2"},
       "68 01 00 00 00 00 00 68 51 00 22 16 \n"},
      {{"--address", "000000000001", "--ctrl", "11", "--relays", "3", "--data", "GZ3"},
       "68 01 00 00 00 00 00 68 71 01 33 76 16 \n"},
      {{"--address", "AAAAAAAAAAAA", "--ctrl", "13"}, "68 AA AA AA AA AA AA 68 13 00 DF 16 \n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args.front() + " " + c.Args.back());
    std::vector<std::string> args{"encode"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    TProcessResult r = Dlt(args);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, c.Out);
  }
}

TEST(EncodeCliTest, CodecRefusalExitsOneWithItsMessage) {
  struct TCase {
    const char* Address;
    std::string Data;
    std::string Message;
  } cases[] = {
      {"", "", kPackError + "'$' is not a valid integer value"},
      {"0000000001", "", kPackError + "'$' is not a valid integer value"},
      {"00000000000G", "", kPackError + "'$0G' is not a valid integer value"},
      {"000000000001", std::string(512, '0'), kPackError},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Address);
    TProcessResult r = Dlt({"encode", "--address", c.Address, "--ctrl", "11", "--data", c.Data});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err.rfind(c.Message, 0), 0u) << r.Err;
  }
}

TEST(EncodeCliTest, BadOptionsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"--ctrl", "11"},                                          // no address
      {"--address", "000000000001"},                             // no control code
      {"--address", "000000000001", "--ctrl", "1FF"},
      {"--address", "000000000001", "--ctrl", "zz"},
      {"--address", "000000000001", "--ctrl", ""},
      {"--address", "000000000001", "--ctrl", "11", "--relays", "8"},
      {"--address", "000000000001", "--ctrl", "11", "--relays", "-1"},
      {"--address", "000000000001", "--ctrl", "11", "--bogus", "1"},
      {"--address", "000000000001", "--ctrl", "11", "stray"},
      {"--address"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.back());
    std::vector<std::string> args{"encode"};
    args.insert(args.end(), c.begin(), c.end());
    TProcessResult r = Dlt(args);
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Out, "");
    EXPECT_FALSE(r.Err.empty());
  }
}

TEST(DecodeCliTest, ValidFrameFields) {
  TProcessResult r = Dlt({"decode", "68 01 00 00 00 00 00 68 11 04 66 66 67 67 80 16"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  const std::vector<std::string> lines = Lines(r.Out);
  ASSERT_GE(lines.size(), 10u) << r.Out;
  const std::vector<std::string> expected = {
      kValid,     "Address=000000000001", "Ctrl=11", "Dir=0",         "Normal=1", "LastFrame=1",
      "FuncCode=11", "Len=4",              "Data=33333434",
      "FrameText=68 01 00 00 00 00 00 68 11 04 66 66 67 67 80 16 "};
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 10), expected);
  EXPECT_FALSE(HasLine(r.Out, "Skipped=0"));
  EXPECT_EQ(r.Out.find("ErrorText="), std::string::npos);
}

TEST(DecodeCliTest, EncodedFramesDecodeBack) {
  TProcessResult enc = Dlt({"encode", "--address", "123456789012", "--ctrl", "91", "--data",
                            "00010000341200"});
  ASSERT_EQ(enc.ExitCode, 0) << enc.Err;
  // The spaced text is split over several arguments, as a shell would.
  std::vector<std::string> args{"decode"};
  for (size_t i = 0; i + 2 < enc.Out.size(); i += 3) args.push_back(enc.Out.substr(i, 2));
  TProcessResult r = Dlt(args);
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(HasLine(r.Out, "Address=123456789012")) << r.Out;
  EXPECT_TRUE(HasLine(r.Out, "Ctrl=91"));
  EXPECT_TRUE(HasLine(r.Out, "Dir=1"));
  EXPECT_TRUE(HasLine(r.Out, "Len=7"));
  EXPECT_TRUE(HasLine(r.Out, "Data=00010000341200"));
}

// A normal read reply also names its identifier and reads its value in engineering units.
TEST(DecodeCliTest, ReadRepliesShowTheirReading) {
  TProcessResult r = Dlt({"decode", "68 01 00 00 00 00 00 68 91 08 33 33 34 33 89 67 45 33 9F 16"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  for (const char* line : {"Value=00123456", "Identifier=00010000", "Name=(当前)正向有功总电量", "Reading=1234.56 kWh"}) {
    EXPECT_TRUE(HasLine(r.Out, line)) << line << "\n" << r.Out;
  }
  EXPECT_LT(r.Out.find("Value="), r.Out.find("Reading="));
  // A follow-up reply (92H): identifier, 1234.56, then its sequence number 02 closing the data.
  r = Dlt({"decode", "68 01 00 00 00 00 00 68 92 09 33 33 34 33 89 67 45 33 35 D6 16"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(HasLine(r.Out, "Value=00123456")) << r.Out;
  EXPECT_TRUE(HasLine(r.Out, "Sequence=2")) << r.Out;
  // -1.234 A with its sign bit, and a current whose bytes are not BCD.
  for (const auto& [data, reading] : {std::pair{"00010202341280", "Reading=-1.234 A"},
                                      std::pair{"0001020234128A", "Reading=无法按带符号XXX.XXX A解析：字节8A不是BCD码"}}) {
    TProcessResult enc = Dlt({"encode", "--address", "000000000001", "--ctrl", "91", "--data", data});
    ASSERT_EQ(enc.ExitCode, 0) << enc.Err;
    r = Dlt({"decode", enc.Out});
    EXPECT_TRUE(HasLine(r.Out, "Name=A相电流")) << r.Out;
    EXPECT_TRUE(HasLine(r.Out, reading)) << r.Out;
  }
}

TEST(DecodeCliTest, ExplainsAMetersAbnormalReply) {
  // FE wake-up bytes, an abnormal reply to 11H with error word 04H, then two stray bytes.
  // First with a checksum of 01H where DAH belongs: invalid, the reason on stderr.
  TProcessResult r = Dlt({"decode", "FEFEFEFE68010000000000" "68D1013701" "16" "0011"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(Lines(r.Out).front(), kInvalid);
  EXPECT_NE(r.Err.find("dlt645 decode: 校验和为01H，各字节之和为DAH\n"), std::string::npos) << r.Err;

  r = Dlt({"decode", "FEFEFEFE 68 01 00 00 00 00 00 68 D1 01 37 DA 16 00 11"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(Lines(r.Out).front(), kValid);
  for (const char* line : {"Ctrl=D1", "Dir=1", "Normal=0", "LastFrame=1", "FuncCode=11", "Len=1",
                           "Data=04", "FrameText=68 01 00 00 00 00 00 68 D1 01 37 DA 16 ",
                           "Skipped=4", "Trailing=2", "ErrorWord=04"}) {
    EXPECT_TRUE(HasLine(r.Out, line)) << line << "\n" << r.Out;
  }
  EXPECT_TRUE(HasLine(r.Out, "ErrorText=密码错")) << r.Out;

  // Error word 06H is not one of the specific texts; B1H says further frames follow.
  r = Dlt({"decode", "68 01 00 00 00 00 00 68 D1 01 39 DC 16"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(HasLine(r.Out, "ErrorText=其它错误")) << r.Out;
  r = Dlt({"decode", "68 01 00 00 00 00 00 68 B1 00 82 16"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_TRUE(HasLine(r.Out, "LastFrame=0")) << r.Out;
  EXPECT_EQ(r.Out.find("ErrorWord="), std::string::npos);
}

TEST(DecodeCliTest, InvalidFramesExitOne) {
  const char* cases[] = {
      "68 01 00 00 00 00 00 68 11 04 66 66 67 67 81 16",  // checksum
      "68 01 00 00 00 00 00 68 11 04 66 66 67 67 80 17",  // end byte
      "68 01 00 00 00 00 00 67 11 04 66 66 67 67 80 16",  // second 68H
      "68 01 00 00 00 00 00 68 11 05 66 66 67 67 80 16",  // L one more than the data
      "68 01 00 00 00 00 00 68 11 04 66 66 67",           // cut short
      "68 01 00 00 00 00 00 68 11 00 E2",                 // 11 bytes
      "FE FE FE",                                          // no 68H at all
      "FE 68",
  };
  for (const char* c : cases) {
    SCOPED_TRACE(c);
    TProcessResult r = Dlt({"decode", c});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out, kInvalid + "\n");
    EXPECT_FALSE(r.Err.empty());
  }
}

TEST(DecodeCliTest, TextThatIsNotHexExitsTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"68 0"}, {"680"}, {"68", "0"}, {"6G"}, {"0x68"}, {"68,16"}, {}, {" "}, {"--frame", "68"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.empty() ? "(nothing)" : c.front());
    std::vector<std::string> args{"decode"};
    args.insert(args.end(), c.begin(), c.end());
    TProcessResult r = Dlt(args);
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Out, "");
    EXPECT_FALSE(r.Err.empty());
  }
}

TEST(CliHelpTest, EncodeAndDecodeExplainThemselves) {
  TProcessResult r = Dlt({"encode", "--help"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Out.find("--address"), std::string::npos);
  EXPECT_NE(r.Out.find("--relays"), std::string::npos);
  r = Dlt({"decode", "--help"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Out.find("Trailing"), std::string::npos);
  EXPECT_NE(r.Out.find("布尔值输出为1或0"), std::string::npos);
  r = Dlt({"--help"});
  EXPECT_NE(r.Out.find("encode"), std::string::npos);
  EXPECT_NE(r.Out.find("decode"), std::string::npos);
}

// Each command tells its usage and refuses an option it does not know in the user's language,
// with its own exit status for bad options; an unknown command gets the general usage.
TEST(CliHelpTest, EveryCommandSpeaksChinese) {
  const struct {
    const char* Command;
    int BadOptionExit;
  } rows[] = {{"catalog", 2}, {"compose", 2}, {"encode", 2}, {"decode", 2}, {"send", 2},
              {"poll", 1},    {"simulate", 2}, {"test", 1},  {"run", 1}};
  for (const auto& row : rows) {
    const std::string name = row.Command;
    TProcessResult r = Dlt({name, "--help"});
    EXPECT_EQ(r.ExitCode, 0) << name;
    EXPECT_EQ(r.Out.rfind("用法：dlt645 " + name + " ", 0), 0u) << r.Out;
    r = Dlt({name, "--bogus"});
    EXPECT_EQ(r.ExitCode, row.BadOptionExit) << name << ": " << r.Err;
    EXPECT_EQ(r.Err, "dlt645 " + name + ": 不认识的选项“--bogus”\n") << name;
  }
  TProcessResult r = Dlt({"help"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Out.rfind("用法：dlt645 命令 [选项]\n", 0), 0u) << r.Out;
  r = Dlt({"nosuch"});
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_EQ(r.Err.rfind("dlt645: 不认识的命令“nosuch”\n\n用法：dlt645 命令 [选项]\n", 0), 0u) << r.Err;
}

namespace {
// A load record block of class 1 at `time` (YYMMDDhhmm, wire order) with the voltages, currents
// and frequency `values`, the five other sections empty; its checksum over A0H .. the last AAH.
std::string LoadBlockHex(const std::string& time, const std::string& values) {
  std::vector<int> bytes = {0xA0, 0xA0, 0};
  const std::string body = time + values + "AAAAAAAAAAAA";
  for (size_t i = 0; i < body.size(); i += 2) bytes.push_back(std::stoi(body.substr(i, 2), nullptr, 16));
  bytes[2] = static_cast<int>(body.size() / 2);
  int sum = 0;
  for (int b : bytes) sum += b;
  char tail[16];
  std::snprintf(tail, sizeof tail, "%02XE5E5", sum & 0xFF);
  std::string hex;
  for (int b : bytes) {
    char two[4];
    std::snprintf(two, sizeof two, "%02X", b);
    hex += two;
  }
  return hex + tail;
}
}  // namespace

// Replies of every table of Appendix A, read as a technician reads them: values worked out by
// hand from the standard's formats (data in wire order after the identifier, DI0 first).
TEST(DecodeCliTest, RepliesOfEveryTableReadEntryByEntry) {
  const std::string ids = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";
  const std::string point1 = LoadBlockHex("1510091226", "002298210322" "005000804900205080" "0050");
  const std::string point2 = LoadBlockHex("3010091226", "152298210322" "005000804900205080" "0050");
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"00000000" "67452381", {"Reading=-12345.67 kWh"}},  // combined active: signed
      {"00001500" "67452381", {"Reading=812345.67 kWh"}},  // phase A forward active: never negative
      {"00000301" "0050811510091226", {"Reading=-1.5000 kvar, 2026-12-09 10:15"}},
      {"00010702" "0512", {"Reading=120.5 °"}},
      {"00010802" "3402", {"Reading=2.34 %"}},
      {"02010A02" "5001", {"Reading=1.50 %"}},
      {"00000503" "120000341200", {"Reading=12, 1234 min"}},
      {"00001103" "050000", {"Reading=5"}},
      {"00003003" "070000", {"Reading=7"}},
      {"01003003" "001510091226" "78563412" "01010004" + ids,
       {"Reading=发生时刻 2026-12-09 10:15:00", "Reading=操作者代码 12345678",
        "Reading=编程的前10个数据标识码(不足补FFFFFFFFH) 04000101, FFFFFFFF, FFFFFFFF, FFFFFFFF, FFFFFFFF, "
        "FFFFFFFF, FFFFFFFF, FFFFFFFF, FFFFFFFF, FFFFFFFF"}},
      {"01010605" "00000100" "00200000" "00100000",
       {"Reading=总 100.00 kWh", "Reading=费率1 20.00 kWh", "Reading=费率2 10.00 kWh"}},
      {"01000006" + point1 + point2,
       {"Reading=记录块1 负荷记录存储时间 2026-12-09 10:15", "Reading=记录块1 A相电压 220.0 V",
        "Reading=记录块1 C相电流 -5.020 A", "Reading=记录块1 频率 50.00 Hz",
        "Reading=记录块2 负荷记录存储时间 2026-12-09 10:30", "Reading=记录块2 A相电压 221.5 V"}},
  };
  for (const auto& [data, lines] : cases) {
    SCOPED_TRACE(data.substr(0, 8));
    TProcessResult enc = Dlt({"encode", "--address", "000000000001", "--ctrl", "91", "--data", data});
    ASSERT_EQ(enc.ExitCode, 0) << enc.Err;
    TProcessResult r = Dlt({"decode", enc.Out});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    for (const std::string& line : lines) EXPECT_TRUE(HasLine(r.Out, line)) << line << "\n" << r.Out;
  }
}

// The read of a load record from a given time names its count and time; a 93H reply reads as
// the address; a follow-up reads its own data without the sequence number, or waits for more.
TEST(DecodeCliTest, RequestsAddressesAndFollowUpsRead) {
  const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
      {{"--ctrl", "11", "--data", "01000006" "02" "1510091226"},
       {"Request=记录块数 2", "Request=给定时间 2026-12-09 10:15"}},
      {{"--ctrl", "93", "--data", "129078563412"}, {"Reading=123456789012"}},
      {{"--ctrl", "92", "--data", "00000100" "56341200" "02"},
       {"Value=00123456", "Sequence=2", "Identifier=00010000", "Reading=1234.56 kWh"}},
      {{"--ctrl", "B2", "--data", "00000100" "56341200" "01"}, {"Sequence=1", "Reading=暂无法解析：还有后续数据帧"}},
  };
  for (const auto& [options, lines] : cases) {
    std::vector<std::string> args = {"encode", "--address", "000000000001"};
    args.insert(args.end(), options.begin(), options.end());
    TProcessResult enc = Dlt(args);
    ASSERT_EQ(enc.ExitCode, 0) << enc.Err;
    TProcessResult r = Dlt({"decode", enc.Out});
    for (const std::string& line : lines) EXPECT_TRUE(HasLine(r.Out, line)) << line << "\n" << r.Out;
  }
}
