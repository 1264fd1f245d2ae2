// `dlt645 run` as a user runs a script of their own against the virtual meter: the script's top
// level exchanges frames with the API of the cases, prints, and ends with its expectations and
// a verdict; the exit status says whether every expectation was met.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "sim/VirtualMeter.h"
#include "tests/cli/RunProcess.h"

namespace {
namespace fs = std::filesystem;

class RunCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(Meter.Start(error)) << error;
    Dir = fs::temp_directory_path() / ("dlt-run-cmd-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }
  std::string Script(const std::string& name, const std::string& text) {
    const std::string path = (Dir / name).string();
    std::ofstream(path) << text;
    return path;
  }
  TProcessResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {DLT645_BIN, "run"});
    return RunProcess(args, 60000);
  }
  TVirtualMeter Meter{TMeterOptions{}};
  fs::path Dir;
};

TEST_F(RunCommand, AScriptReadsTheMeterPrintsAndEndsWithItsExpectations) {
  const std::string ok = Script("ok.lua",
                                "local r = dlt.read('04000401')\n"
                                "print('地址 ' .. r.reading)\n"
                                "dlt.expect_normal(r)\n"
                                "dlt.expect_equal('表地址', r.reading, dlt.profile.address)\n");
  const TProcessResult r = Run({ok, "--port", Meter.PortPath()});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_EQ(r.Out,
            "地址 000000000001\n"
            "满足    正常应答 91H：91H 应答，L=10\n"
            "满足    表地址 等于 000000000001：000000000001\n"
            "通过  ok.lua：期望 2 项，满足 2 项\n");
  // 11H for 04000401 went out: 68 A0..A5 68 11 04 (01 04 00 04)+33H CS 16.
  const std::vector<uint8_t> read{0x68, 0x01, 0, 0, 0, 0, 0, 0x68, 0x11, 0x04, 0x34, 0x37, 0x33, 0x37};
  const std::vector<uint8_t> got = Meter.ReceivedBytes();
  EXPECT_NE(std::search(got.begin(), got.end(), read.begin(), read.end()), got.end());
}

TEST_F(RunCommand, AnUnmetExpectationOrAScriptErrorEndsWithStatusTwo) {
  struct TRow {
    const char* Text;
    const char* Says;
  } rows[] = {
      {"dlt.expect('读数为零', false, '12')\n", "未满足  读数为零：12\n失败  bad.lua：期望 1 项，满足 0 项\n"},
      {"dlt.expect_normal(dlt.read('00010000'))\nlocal x = nil\nx.y = 1\n", "bad.lua:3: attempt to index a nil value"},
      {"dlt.read('0001')\n", "bad.lua:1: 参数 #1：应为 8 位数据标识"},
      {"while true do end\n", "bad.lua:1: 用例超过用时限制（1 秒）"},
  };
  for (const TRow& row : rows) {
    const TProcessResult r = Run({Script("bad.lua", row.Text), "--port", Meter.PortPath(), "--limit", "1"});
    EXPECT_EQ(r.ExitCode, 2) << row.Text;
    EXPECT_NE(r.Out.find(row.Says), std::string::npos) << r.Out;
  }
}

TEST_F(RunCommand, BadOptionsAreSaidWithoutSendingAFrame) {
  const std::string ok = Script("ok.lua", "dlt.read('00010000')\n");
  struct TRow {
    std::vector<std::string> Args;
    const char* Says;
  } rows[] = {
      {{"--port", Meter.PortPath()}, "缺少脚本"},
      {{(Dir / "none.lua").string(), "--port", Meter.PortPath()}, "无法读取文件"},
      {{ok}, "缺少--port"},
      {{ok, "--port", Meter.PortPath(), "--limit", "soon"}, "--limit应为1到86400之间的秒数"},
      {{ok, ok, "--port", Meter.PortPath()}, "只能给出一个脚本"},
  };
  for (const TRow& row : rows) {
    const TProcessResult r = Run(row.Args);
    EXPECT_EQ(r.ExitCode, 1) << row.Says;
    EXPECT_NE(r.Err.find(row.Says), std::string::npos) << r.Err;
  }
  EXPECT_EQ(Meter.ReceivedBytes().size(), 0u);
}
}  // namespace
