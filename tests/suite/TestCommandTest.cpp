// `dlt645 test` as a lab or a CI runs it: the bundled suite against the virtual meter passes and
// its JUnit report reads back with a JUnit parser; bad options and unwritable reports are said
// before any case runs; a meter fault fails the cases that check for it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/VirtualMeter.h"
#include "tests/cli/RunProcess.h"

namespace {
namespace fs = std::filesystem;

int CountOf(const std::string& text, const std::string& word) {
  int n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + word.size())) ++n;
  return n;
}

class TestCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(Meter.Start(error)) << error;
    Dir = fs::temp_directory_path() / ("dlt-test-cmd-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }
  TProcessResult Test(std::vector<std::string> args) {
    args.insert(args.begin(), {DLT645_BIN, "test", "--port", Meter.PortPath()});
    return RunProcess(args, 120000);
  }
  // The virtual meter as `dlt645 simulate` runs it: answering 22 ms after a request.
  static TMeterOptions SimulateOptions() {
    TMeterOptions options;
    options.ResponseMs = 22;
    return options;
  }
  TVirtualMeter Meter{SimulateOptions()};
  fs::path Dir;
};

TEST_F(TestCommand, TheBundledSuitePassesAgainstTheVirtualMeterAndItsJUnitReportParses) {
  const std::string junit = (Dir / "report.xml").string();
  const TProcessResult r = Test({"--junit", junit});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  const int cases = CountOf(r.Out, "通过  ");
  EXPECT_GE(cases, 25) << r.Out;
  // The default profile keeps the destructive commands off: those are skipped, saying why.
  const int skipped = CountOf(r.Out, "档案不允许破坏性操作");
  EXPECT_EQ(skipped, CountOf(r.Out, "跳过  cmd.")) << r.Out;
  EXPECT_NE(r.Out.find("共 " + std::to_string(cases + skipped) + " 项：通过 " + std::to_string(cases) + "，失败 0，跳过 " +
                       std::to_string(skipped) + "，错误 0"),
            std::string::npos) << r.Out;
  // Every case names its clause.
  EXPECT_EQ(CountOf(r.Out, "（5."), CountOf(r.Out, "  frame.")) << r.Out;
  EXPECT_EQ(CountOf(r.Out, "（7."), CountOf(r.Out, "  read.") + CountOf(r.Out, "  cmd.")) << r.Out;
  const TProcessResult parsed = RunProcess(
      {"/usr/bin/python3", "-c",
       "import sys, xml.etree.ElementTree as E\n"
       "root = E.parse(sys.argv[1]).getroot()\n"
       "cases = root.findall('./testsuite/testcase')\n"
       "print(root.get('tests'), root.get('failures'), root.get('errors'), len(cases),\n"
       "      sum(1 for c in cases if c.find('failure') is not None or c.find('error') is not None))\n"
       "print([c.get('name') for c in cases if c.get('name').startswith('frame.checksum ')][0])\n",
       junit});
  ASSERT_EQ(parsed.ExitCode, 0) << parsed.Err;
  const std::string n = std::to_string(cases + skipped);
  EXPECT_EQ(parsed.Out, n + " 0 0 " + n + " 0\nframe.checksum 校验码错误的帧不应答\n");
}

TEST_F(TestCommand, TheHtmlPageHasOneRowPerCaseWithItsVerdictAndTheRunsPort) {
  TMeterFaults faults;
  faults.BadChecksum = true;
  Meter.SetFaults(faults);
  const std::string html = (Dir / "report.html").string();
  const TProcessResult r = Test({"--case", "frame.c*", "--html", html});
  EXPECT_EQ(r.ExitCode, 2) << r.Out;
  std::ifstream in(html);
  const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(page.find("<tr><th>端口</th><td>" + Meter.PortPath() + "</td></tr>"), std::string::npos) << page;
  EXPECT_NE(page.find("共 2 项："), std::string::npos);
  EXPECT_NE(page.find("<tr class=\"fail\"><td>1</td><td><a href=\"#c1\">frame.correct</a>"), std::string::npos) << page;
  EXPECT_NE(page.find("<tr class=\"pass\"><td>2</td><td><a href=\"#c2\">frame.checksum</a>"), std::string::npos) << page;
  EXPECT_EQ(CountOf(page, "<section class=\"case "), 2);
  // The bad reply is shown with what the frame check found.
  EXPECT_NE(page.find("非法帧：校验和错误"), std::string::npos) << page;
}

// On a terminal a progress line names the case that runs, redrawn in place below the case lines.
TEST_F(TestCommand, OnATerminalAProgressLineIsRedrawnInPlace) {
  const TProcessResult r = RunProcess({"/usr/bin/python3", "-c", "import pty, sys; sys.exit(pty.spawn(sys.argv[1:]) >> 8)",
                                       DLT645_BIN, "test", "--port", Meter.PortPath(), "--case", "frame.c*"},
                                      120000);
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("\r\033[K[1/2] frame.correct\r\033[K通过  frame.correct"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\r\033[K[2/2] frame.checksum\r\033[K通过  frame.checksum"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("共 2 项：通过 2"), std::string::npos) << r.Out;
}

TEST_F(TestCommand, WithTheDestructiveProfileEveryCommandCaseRunsAndPasses) {
  const TProcessResult r =
      Test({"--profile", std::string(DLT_SOURCE_DIR) + "/suite/bundled/profiles/virtual-meter-destructive.lua"});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  const int cases = CountOf(r.Out, "通过  ");
  EXPECT_GE(CountOf(r.Out, "通过  cmd."), 15) << r.Out;
  EXPECT_NE(r.Out.find("共 " + std::to_string(cases) + " 项：通过 " + std::to_string(cases) + "，失败 0，跳过 0，错误 0"),
            std::string::npos) << r.Out;
  // The password and the address changed and changed back: the meter has its first ones again.
  EXPECT_EQ(Meter.Password(), "26404915");
  EXPECT_EQ(Meter.Address(), "000000000001");
}

TEST_F(TestCommand, AMeterThatAnswersWithABadChecksumFailsTheCasesThatWaitForItsReply) {
  TMeterFaults faults;
  faults.BadChecksum = true;
  Meter.SetFaults(faults);
  const TProcessResult r = Test({"--case", "frame.c*"});
  EXPECT_EQ(r.ExitCode, 2) << r.Out;
  // frame.correct needs the reply; frame.checksum expects none, and none valid comes.
  EXPECT_NE(r.Out.find("失败  frame.correct"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("通过  frame.checksum"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("共 2 项：通过 1，失败 1"), std::string::npos) << r.Out;
}

TEST_F(TestCommand, BadOptionsAndAnUnwritableReportAreSaidBeforeAnyCaseRuns) {
  const std::string broken = (Dir / "broken.lua").string();
  std::ofstream(broken) << "return { address = 12 }\n";
  fs::create_directories(Dir / "empty");
  struct TRow {
    std::vector<std::string> Args;
    const char* Says;
  } rows[] = {
      {{"--junit", "/nonexistent-folder/r.xml"}, "无法写入报告文件：/nonexistent-folder/r.xml"},
      {{"--html", "/nonexistent-folder/r.html"}, "无法写入报告文件：/nonexistent-folder/r.html"},
      {{"--profile", broken}, "档案字段 address 应为文本"},
      {{"--suite", (Dir / "empty").string()}, "目录中没有用例脚本"},
      {{"--suite", Dir.string()}, "没有可运行的用例"},  // broken.lua defines no case
      {{"--case", "no.such.*"}, "没有可运行的用例"},
      {{"--bogus"}, "--bogus"},
  };
  for (const TRow& row : rows) {
    const TProcessResult r = Test(row.Args);
    EXPECT_EQ(r.ExitCode, 1) << row.Says;
    EXPECT_NE(r.Err.find(row.Says), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out, "") << row.Says;
  }
  EXPECT_EQ(Meter.ReceivedBytes().size(), 0u);  // not one frame went out
}
}  // namespace
