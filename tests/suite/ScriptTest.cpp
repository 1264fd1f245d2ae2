// The engine with a script of its own against a scripted link: what a script may not do ends as
// an error of its case with the script's file and line, never a crash and never a pass; what the
// profile does not give is skipped; a lost link ends every remaining case as an error.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "suite/Runner.h"

namespace {
namespace fs = std::filesystem;

// Answers every read of 00010000 from meter 000000000001 with 1234.56 kWh, or fails as told.
class TFakeLink : public TSuiteLink {
 public:
  TLinkKind Fail = lkReply;
  int Exchanges = 0;
  TLinkResult Exchange(const TDltFrame&, const std::vector<uint8_t>&) override {
    ++Exchanges;
    TLinkResult r;
    r.Kind = Fail;
    if (Fail != lkReply) return r.Message = "发送报文发生错误：gone", r;
    r.HasReply = true;
    r.Body.Address = "000000000001";
    r.Body.Ctrl = 0x91;
    r.Body.Dir = 1;
    r.Body.Normal = true;
    r.Body.LastFrame = true;
    r.Body.FuncCode = 0x11;
    r.Body.Len = 8;
    r.Body.Data = "0000010056341200";
    return r;
  }
};

class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("dlt-suite-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    std::string error;
    ASSERT_TRUE(ProfileFromText("return { address = '000000000001', controls = { 0x11 } }", "p.lua", Profile, error)) << error;
  }
  void TearDown() override { fs::remove_all(Dir); }
  std::string Script(const std::string& text) {
    const std::string path = (Dir / "case.lua").string();
    std::ofstream(path) << text;
    return path;
  }
  std::vector<TCaseRecord> Run(const std::string& text) {
    TRunOptions options;
    options.CaseLimitSec = 0.3;
    return RunSuite({Script(text)}, Profile, Link, options);
  }
  fs::path Dir;
  TMeterProfile Profile;
  TFakeLink Link;
};

const char* const kPassing = "dlt.case{ id = 'ok', title = 't', clause = '7.1', run = function()\n"
                             "  dlt.expect_normal(dlt.read('00010000'), 0x11) end }\n";

TEST_F(ScriptTest, WhatAScriptMayNotDoEndsItsCaseAsAnErrorAtItsLineAndTheNextCaseStillRuns) {
  struct TRow {
    const char* Body;  // the run function's body, on line 2 of the file
    const char* Says;  // part of the message
  } rows[] = {
      {"while true do end", "用例超过用时限制"},
      {"io.open('/etc/passwd')", "io"},
      {"os.execute('true')", "os"},
      {"require('socket')", "require"},
      {"dofile('/etc/passwd')", "dofile"},
      {"local f, e = load('\\27Lua'); error(e)", "binary"},
      {"local s = string.rep('x', 1 << 20); local t = {} for i = 1, 200 do t[i] = s .. i end", "内存超过限制"},
      {"dlt.read('0001')", "8 位数据标识"},
      {"dlt.raw('68', { wait_ms = 0 })", "wait_ms"},
      {"error('boom')", "boom"},
  };
  for (const TRow& row : rows) {
    const auto cases = Run(std::string("dlt.case{ id = 'bad', title = 't', clause = '7.1', run = function()\n") + row.Body +
                           "\nend }\n" + kPassing);
    ASSERT_EQ(cases.size(), 2u) << row.Body;
    EXPECT_EQ(cases[0].Verdict, vdError) << row.Body;
    EXPECT_NE(cases[0].Why.find("case.lua:2:"), std::string::npos) << row.Body << ": " << cases[0].Why;
    EXPECT_NE(cases[0].Why.find(row.Says), std::string::npos) << row.Body << ": " << cases[0].Why;
    EXPECT_EQ(cases[1].Verdict, vdPass) << row.Body;
  }
}

TEST_F(ScriptTest, AScriptThatDoesNotLoadIsOneErrorNamingItsLineAndNoCaseRuns) {
  const auto cases = Run("dlt.case{ id = 'x', title = 't', clause = '1',\n run = function() end\n");
  ASSERT_EQ(cases.size(), 1u);
  EXPECT_EQ(cases[0].Verdict, vdError);
  EXPECT_NE(cases[0].Why.find("case.lua:3:"), std::string::npos) << cases[0].Why;
  EXPECT_EQ(Link.Exchanges, 0);
  // Fields come from the table itself: a metatable cannot supply them or run code meanwhile.
  const auto tricked = Run("dlt.case(setmetatable({}, { __index = function() while true do end end }))\n");
  ASSERT_EQ(tricked.size(), 1u);
  EXPECT_NE(tricked[0].Why.find("case.lua:1: 用例缺少文本字段 id"), std::string::npos) << tricked[0].Why;
  const auto endless = Run("while true do end\n");
  ASSERT_EQ(endless.size(), 1u);
  EXPECT_NE(endless[0].Why.find("case.lua:1:"), std::string::npos) << endless[0].Why;
}

TEST_F(ScriptTest, VerdictsFollowTheExpectationsTheProfileAndTheScript) {
  const auto cases = Run(std::string(kPassing) +
                         "dlt.case{ id = 'wrong', title = 't', clause = '7.1', run = function()\n"
                         "  dlt.expect_abnormal(dlt.read('00010000'), 1, 0x11) end }\n"
                         "dlt.case{ id = 'addr', title = 't', clause = '7.4', requires = { ctrl = 0x13 }, run = function() end }\n"
                         "dlt.case{ id = 'clear', title = 't', clause = '7.11', requires = { destructive = 'clear_meter' },\n"
                         "  run = function() end }\n"
                         "dlt.case{ id = 'own', title = 't', clause = '7.1', run = function() dlt.skip('不适用') end }\n"
                         "dlt.case{ id = 'value', title = 't', clause = '7.1', run = function()\n"
                         "  local r = dlt.read('00010000')\n"
                         "  dlt.expect_range('正向有功总电能', r.number, 1234, 1235)\n"
                         "  dlt.expect_length(r, '00010000'); dlt.expect_bcd(r, '00010000') end }\n");
  ASSERT_EQ(cases.size(), 6u);
  EXPECT_EQ(cases[0].Verdict, vdPass);
  EXPECT_EQ(cases[1].Verdict, vdFail);
  EXPECT_EQ(cases[2].Verdict, vdSkipped);
  EXPECT_EQ(cases[2].Why, "档案未列出控制码 13H");
  EXPECT_EQ(cases[3].Verdict, vdSkipped);
  EXPECT_EQ(cases[4].Verdict, vdSkipped);
  EXPECT_EQ(cases[4].Why, "不适用");
  EXPECT_EQ(cases[5].Verdict, vdPass);
  // 11 04 then the read's bytes: the frame written and the reply with its round trip are kept.
  ASSERT_EQ(cases[0].Frames.size(), 2u);
  EXPECT_EQ(cases[0].Frames[0].Hex, "68 01 00 00 00 00 00 68 11 04 33 33 34 33 B3 16 ");
  EXPECT_FALSE(cases[0].Frames[1].Sent);
}

TEST_F(ScriptTest, ALostLinkEndsThatCaseAndEveryLaterOneAsErrorsWithoutRunningThem) {
  Link.Fail = lkSendError;
  const auto cases = Run(std::string(kPassing) + kPassing + kPassing);
  ASSERT_EQ(cases.size(), 3u);
  for (const TCaseRecord& c : cases) EXPECT_EQ(c.Verdict, vdError);
  EXPECT_NE(cases[0].Why.find("gone"), std::string::npos);
  EXPECT_EQ(Link.Exchanges, 1);
}

TEST(Profile, ABadProfileIsRefusedWithTheFieldNamed) {
  struct TRow {
    const char* Text;
    const char* Says;
  } rows[] = {
      {"return {", "p.lua:1:"},
      {"return 5", "应返回一个表"},
      {"return { address = 1 }", "address"},
      {"return { address = '12345' }", "12 位地址"},
      {"return { controls = { 'read' } }", "controls 的第 1 项"},
      {"return { identifiers = { energy = { '0001' } } }", "identifiers.energy 的第 1 项"},
      {"return { destructive = { clear_meter = 'yes' } }", "destructive"},
      {"return { timing = { reply_timeout_s = 0 } }", "timing.reply_timeout_s"},
      {"return { timing = { no_reply_ms = 'short' } }", "timing.no_reply_ms"},
      {"return { timing = { byte_gap_max_ms = -1 } }", "timing.byte_gap_max_ms"},
      {"while true do end", "用例超过用时限制"},
  };
  for (const TRow& row : rows) {
    TMeterProfile profile;
    std::string error;
    EXPECT_FALSE(ProfileFromText(row.Text, "p.lua", profile, error)) << row.Text;
    EXPECT_NE(error.find(row.Says), std::string::npos) << row.Text << ": " << error;
  }
}
}  // namespace
