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
  const std::string path = std::filesystem::temp_directory_path() / ("dlt-junit-" + std::to_string(::getpid()) + ".xml");
  std::ofstream(path) << JUnitXml({pass, fail, error, skipped}, "DL/T 645-2007");
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
       "print(cases[3].find('skipped').get('message'))\n",
       path});
  std::filesystem::remove(path);
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "4 1 1 1\n"
            "frame 2\n"
            "read 2\n"
            "frame.a A <&> \"B\" 'C'\n"
            "期望 正常应答 91H，实际 无应答（超时）\n"
            "case.lua:2: bad  byte  here\n"
            "档案未列出控制码 13H\n");
}
