// The JUnit report as a CI's parser reads it: counts per verdict, and a title, a reason and a
// frame note that hold XML's own characters, control bytes and broken UTF-8 still parse and keep
// their text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "suite/Report.h"
#include "tests/cli/RunProcess.h"

TEST(JUnitReport, ParsesBackWithEveryVerdictAndAwkwardText) {
  TCaseRecord pass{"frame.a", "A <&> \"B\" 'C'", "5.2", "/x/frame.lua", {}, {}, {}, vdPass, "", 12};
  TCaseRecord fail = pass;
  fail.Id = "frame.b";
  fail.Expectations = {{"正常应答 91H", "无应答（超时）", false}};
  fail.Verdict = vdFail;
  TCaseRecord error = pass;
  error.Id = "read.c";
  error.File = "/x/read.lua";
  error.Verdict = vdError;
  error.Why = std::string("case.lua:2: bad \x01\x1f byte \xff here");
  TCaseRecord skipped = error;
  skipped.Id = "read.d";
  skipped.Verdict = vdSkipped;
  skipped.Why = "档案未列出控制码 13H";
  TCaseRecord stopped = error;
  stopped.Id = "read.e";
  stopped.Verdict = vdStopped;
  stopped.Why = "运行被用户停止，用例未完成";
  const std::string path = std::filesystem::temp_directory_path() / ("dlt-junit-" + std::to_string(::getpid()) + ".xml");
  std::ofstream(path) << JUnitXml({pass, fail, error, skipped, stopped}, "DL/T 645-2007");
  const TProcessResult r = RunProcess(
      {"/usr/bin/python3", "-c",
       "import sys, xml.etree.ElementTree as E\n"
       "root = E.parse(sys.argv[1]).getroot()\n"
       "print(root.get('tests'), root.get('failures'), root.get('errors'), root.get('skipped'))\n"
       "for s in root.findall('testsuite'): print(s.get('name'), s.get('tests'))\n"
       "cases = root.findall('./testsuite/testcase')\n"
       "print(cases[0].get('name'))\n"
       "print(cases[1].find('failure').get('message'))\n"
       "print(cases[2].find('error').get('message'))\n"
       "print(cases[3].find('skipped').get('message'))\n"
       "print(cases[4].find('skipped').get('message'))\n",
       path});
  std::filesystem::remove(path);
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "5 1 1 2\n"
            "frame 2\n"
            "read 3\n"
            "frame.a A <&> \"B\" 'C'\n"
            "期望 正常应答 91H，实际 无应答（超时）\n"
            "case.lua:2: bad  byte  here\n"
            "档案未列出控制码 13H\n"
            "已停止：运行被用户停止，用例未完成\n");
}

// The decoded fields of a frame, worked out by hand from the frame layout: 68 A0..A5 68 C L
// DATA+33H CS 16.
TEST(HtmlReport, FramesAreDecodedFieldByField) {
  const std::string request = "68 01 00 00 00 00 00 68 11 04 33 33 34 33 B3 16";
  struct TRow {
    std::string Hex;
    std::vector<std::string> Says;
  } rows[] = {
      {request, {"控制码 11H（读数据，主站请求）；地址 000000000001；L=4；标识 00010000"}},
      {"FE FE " + request, {"前导 FEH ×2；控制码 11H"}},
      // 91H with 00010000 and 56 34 12 00: 1234.56 kWh
      {"68 01 00 00 00 00 00 68 91 08 33 33 34 33 89 67 45 33 9F 16",
       {"控制码 91H（读数据，正常应答）；地址 000000000001；L=8；标识 00010000", "读数 1234.56 kWh"}},
      {"68 01 00 00 00 00 00 68 D1 01 35 D8 16", {"控制码 D1H（读数据，异常应答）；地址 000000000001；L=1；错误信息字 02H"}},
      {"68 01 00 00 00 00 00 68 11 04 33 33 34 33 B4 16", {"非法帧：校验和错误"}},
  };
  for (const TRow& row : rows)
    for (const std::string& part : row.Says) EXPECT_NE(FrameFieldsText(row.Hex).find(part), std::string::npos) << row.Hex << " -> " << FrameFieldsText(row.Hex);
  EXPECT_EQ(FrameFieldsText("68 0G"), "");
  EXPECT_EQ(FrameFieldsText(""), "");
}

TEST(HtmlReport, OnePagePerRunWithOneRowPerCaseAndNothingFetched) {
  TCaseRecord pass{"frame.a", "<script>alert(1)</script> & co", "5.2", "/x/frame.lua", {}, {}, {"往返 1.0 ms"}, vdPass, "", 12};
  pass.Frames = {{true, "68 01 00 00 00 00 00 68 11 04 33 33 34 33 B3 16", 0, 0, ""}};
  TCaseRecord fail = pass;
  fail.Id = "frame.b";
  fail.Expectations = {{"正常应答 91H", "无应答（超时）", false}};
  fail.Verdict = vdFail;
  TCaseRecord stopped = pass;
  stopped.Id = "read.c";
  stopped.Verdict = vdStopped;
  stopped.Why = "运行被用户停止";
  TRunInfo info;
  info.Port = "/dev/ttyUSB0";
  info.Address = "000000000001";
  const std::string page = HtmlReport({pass, fail, stopped}, info);
  EXPECT_EQ(page.rfind("<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">", 0), 0u);
  for (const char* row : {"<tr class=\"pass\"><td>1</td><td><a href=\"#c1\">frame.a</a></td><td>&lt;script&gt;alert(1)&lt;/script&gt; &amp; co</td><td>5.2</td><td class=\"v\">通过</td>",
                          "<tr class=\"fail\"><td>2</td><td><a href=\"#c2\">frame.b</a>", "<td class=\"v\">失败</td>",
                          "<tr class=\"stopped\"><td>3</td>", "<td class=\"v\">已停止</td>", "<section class=\"case stopped\" id=\"c3\">",
                          "原因：运行被用户停止", "<td>正常应答 91H</td><td>无应答（超时）</td><td class=\"unmet\">未满足</td>",
                          "<tr><th>端口</th><td>/dev/ttyUSB0</td></tr>", "共 3 项：", "<li>往返 1.0 ms</li>", "控制码 11H（读数据，主站请求）"})
    EXPECT_NE(page.find(row), std::string::npos) << row;
  EXPECT_EQ(page.find("<script"), std::string::npos);
  // Nothing is fetched: no link, source, import or address of another page.
  for (const char* fetch : {"src=", "<link", "@import", "url(", "http"}) EXPECT_EQ(page.find(fetch), std::string::npos) << fetch;
}
