#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "GbkTexts.h"
#include "TestFiles.h"
#include "services/SingletonUnit.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  TTempFolder Dir;
  std::string Path = Dir / "Setup.ini";
};

int CountLinesContaining(const std::string& bytes, const std::string& needle) {
  int n = 0;
  for (const std::string& line : CrLfLines(bytes))
    if (line.find(needle) != std::string::npos) ++n;
  return n;
}

}  // namespace

TEST_F(SettingsTest, MissingFileGivesDefaults) {
  TDltParam p(Dir.path());
  EXPECT_EQ(p.FileName, "Setup.ini");
  EXPECT_EQ(p.FilePath(), Path);
  EXPECT_EQ(p.Psw, "26404915");
  EXPECT_EQ(p.Operator, "QUIL");
  EXPECT_FALSE(p.UseCollector);
  EXPECT_EQ(p.Collector, "");
  TPreamble pre = p.GetPreamble();
  EXPECT_FALSE(pre.UseLC);
  EXPECT_EQ(pre.LC, "");
  EXPECT_EQ(pre.LCCount, 0);
  EXPECT_EQ(p.ComInfo.Port, "COM1");
  EXPECT_EQ(p.ComInfo.BaudRate, "9600");
  EXPECT_EQ(p.ComInfo.Parity, "None");
  EXPECT_EQ(p.ComInfo.DataBits, "8");
  EXPECT_EQ(p.ComInfo.StopBits, "1");
  EXPECT_EQ(p.ComInfo.InputMode, "1");
  EXPECT_FALSE(p.ComInfo.Opened);
  EXPECT_FALSE(FileExists(Path));  // reading never creates the file
}

TEST_F(SettingsTest, HandEditedValuesFollowTheReadingRules) {
  WriteBytes(Path,
             "[dltparameter]\r\n"
             "psw = 1234567890 \r\n"
             "UseCollector=2\r\n"
             "USELC=yes\r\n"
             "LC=fe\r\n"
             "LCCOUNT=0x10\r\n"
             "OPERATOR=\x81\x30\xFF" "A\r\n");
  TDltParam p(Dir.path());
  EXPECT_EQ(p.Psw, "1234567890");  // taken as it stands
  EXPECT_TRUE(p.UseCollector);
  EXPECT_FALSE(p.GetPreamble().UseLC);  // "yes" is not a number: the default
  EXPECT_EQ(p.GetPreamble().LC, "fe");
  EXPECT_EQ(p.GetPreamble().LCCount, 16);
  EXPECT_EQ(p.Operator, "?0?A");
  EXPECT_EQ(p.ComInfo.Port, "COM1");  // missing section: defaults

  WriteBytes(Path, "[DLTPARAMETER]\r\nLCCount=$10\r\nUSECOLLECTOR=junk\r\nUSELC=0x1\r\n");
  TDltParam q(Dir.path());
  EXPECT_EQ(q.GetPreamble().LCCount, 16);
  EXPECT_FALSE(q.UseCollector);
  EXPECT_TRUE(q.GetPreamble().UseLC);
}

TEST_F(SettingsTest, CountFromTheFileIsBoundedForTheSendingThread) {
  WriteBytes(Path, "[DLTPARAMETER]\r\nLCCOUNT=1000\r\n");
  TDltParam big(Dir.path());
  EXPECT_EQ(big.StoredPreamble().LCCount, 1000);  // the dialog shows what the file holds
  EXPECT_EQ(big.GetPreamble().LCCount, TDltParam::MaxLCCount);

  WriteBytes(Path, "[DLTPARAMETER]\r\nLCCOUNT=-5\r\n");
  TDltParam negative(Dir.path());
  EXPECT_EQ(negative.GetPreamble().LCCount, 0);

  WriteBytes(Path, "[DLTPARAMETER]\r\nLCCOUNT=99999999999\r\n");
  TDltParam huge(Dir.path());
  EXPECT_EQ(huge.StoredPreamble().LCCount, 0);  // beyond 32 bits: not a number, the default

  WriteBytes(Path, "[DLTPARAMETER]\r\nLCCOUNT=12\r\n");
  EXPECT_EQ(TDltParam(Dir.path()).GetPreamble().LCCount, 12);
}

TEST_F(SettingsTest, FirstSaveWritesEveryFieldInOrder) {
  TDltParam p(Dir.path());
  p.Psw = "12345678";
  p.Operator = "AB00";
  p.UseCollector = true;
  p.Collector = "000000001234";
  p.SetPreamble({true, "FE", 4});
  p.ComInfo = {"/dev/ttyUSB0", "2400", "8", kParityEven, "1.5", "Text", true};
  std::string error = "unset";
  ASSERT_TRUE(p.Save(error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(ReadBytes(Path),
            "[DLTPARAMETER]\r\nPSW=12345678\r\nOPERATOR=AB00\r\nUSECOLLECTOR=1\r\n"
            "COLLECTOR=000000001234\r\nUSELC=1\r\nLC=FE\r\nLCCount=4\r\n"
            "[RS232]\r\nSERIAL_PORT=/dev/ttyUSB0\r\nSERIAL_RATE=2400\r\nSERIAL_PARITY=" +
                kParityEvenGbk +
                "\r\nSERIAL_DATABITS=8\r\nSERIAL_STOPBITS=1.5\r\nSERIAL_INPUTMODE=Text\r\n");

  // A new start reproduces every field but Opened.
  TDltParam q(Dir.path());
  EXPECT_EQ(q.Psw, "12345678");
  EXPECT_EQ(q.Operator, "AB00");
  EXPECT_TRUE(q.UseCollector);
  EXPECT_EQ(q.Collector, "000000001234");
  TPreamble pre = q.GetPreamble();
  EXPECT_TRUE(pre.UseLC);
  EXPECT_EQ(pre.LC, "FE");
  EXPECT_EQ(pre.LCCount, 4);
  EXPECT_EQ(q.ComInfo.Port, "/dev/ttyUSB0");
  EXPECT_EQ(q.ComInfo.BaudRate, "2400");
  EXPECT_EQ(q.ComInfo.DataBits, "8");
  EXPECT_EQ(q.ComInfo.Parity, kParityEven);
  EXPECT_EQ(q.ComInfo.StopBits, "1.5");
  EXPECT_EQ(q.ComInfo.InputMode, "Text");
  EXPECT_FALSE(q.ComInfo.Opened);

  // Saving false values writes 0.
  q.UseCollector = false;
  q.SetPreamble({false, "FE", 0});
  ASSERT_TRUE(q.Save(error));
  TDltParam r(Dir.path());
  EXPECT_FALSE(r.UseCollector);
  EXPECT_FALSE(r.GetPreamble().UseLC);
  EXPECT_EQ(r.GetPreamble().LCCount, 0);
}

TEST_F(SettingsTest, CountIsOneEntryWhicheverSpellingTheFileHas) {
  for (const std::string spelling : {"LCCOUNT", "LCCount", "lccount"}) {
    WriteBytes(Path, "[DLTPARAMETER]\r\n" + spelling + "=3\r\n");
    TDltParam p(Dir.path());
    EXPECT_EQ(p.GetPreamble().LCCount, 3) << spelling;
    p.SetPreamble({true, "68", 5});
    std::string error;
    ASSERT_TRUE(p.Save(error));
    std::string bytes = ReadBytes(Path);
    EXPECT_EQ(CountLinesContaining(bytes, "=5"), 1) << bytes;
    EXPECT_NE(bytes.find(spelling + "=5\r\n"), std::string::npos) << bytes;
    EXPECT_EQ(TDltParam(Dir.path()).GetPreamble().LCCount, 5);
  }
}

TEST_F(SettingsTest, SaveKeepsEveryOtherLine) {
  const std::string before =
      "; workbench settings\r\n"
      "[RS232]\r\n"
      "SERIAL_PORT=/dev/ttyS0\r\n"
      "FLOW=none\r\n"
      "\r\n"
      "[Custom]\r\n"
      "note=\xB7\xA2\xCB\xCD \xFF odd bytes\r\n"
      "[DLTPARAMETER]\r\n"
      "psw=11111111\r\n";
  WriteBytes(Path, before);
  TDltParam p(Dir.path());
  std::string error;
  ASSERT_TRUE(p.Save(error));
  std::vector<std::string> lines = CrLfLines(ReadBytes(Path));
  const std::vector<std::string> kept = {"; workbench settings", "[RS232]", "SERIAL_PORT=/dev/ttyS0",
                                         "FLOW=none",           "",        "[Custom]",
                                         "note=\xB7\xA2\xCB\xCD \xFF odd bytes", "[DLTPARAMETER]",
                                         "psw=11111111"};
  // The kept lines appear in their order (new entries go between them).
  std::size_t at = 0;
  for (const std::string& line : kept) {
    while (at < lines.size() && lines[at] != line) ++at;
    ASSERT_LT(at, lines.size()) << "lost: " << line;
  }
  EXPECT_EQ(CountLinesContaining(ReadBytes(Path), "[DLTPARAMETER]"), 1);
  EXPECT_EQ(CountLinesContaining(ReadBytes(Path), "[RS232]"), 1);
}

TEST_F(SettingsTest, UnwritableFileFailsWithItsPathAndKeepsValues) {
  WriteBytes(Dir / "notafolder", "x");
  TDltParam p(Dir / "notafolder");
  p.Psw = "87654321";
  p.SetPreamble({true, "FE", 2});
  std::string error;
  EXPECT_FALSE(p.Save(error));
  EXPECT_EQ(error, "无法写入设置文件" + Dir / "notafolder/Setup.ini" + "！");
  EXPECT_EQ(p.Psw, "87654321");
  EXPECT_EQ(p.GetPreamble().LC, "FE");
  EXPECT_EQ(ReadBytes(Dir / "notafolder"), "x");
}

TEST_F(SettingsTest, PreambleIsReadAsOneConsistentCopy) {
  TDltParam p(Dir.path());
  const TPreamble a{true, "FE", 4}, b{false, "68", 9};
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) p.SetPreamble(i % 2 ? a : b);
    done = true;
  });
  int mixed = 0;
  while (!done) {
    TPreamble got = p.GetPreamble();
    bool isA = got.UseLC == a.UseLC && got.LC == a.LC && got.LCCount == a.LCCount;
    bool isB = got.UseLC == b.UseLC && got.LC == b.LC && got.LCCount == b.LCCount;
    bool initial = !got.UseLC && got.LC.empty() && got.LCCount == 0;
    if (!isA && !isB && !initial) ++mixed;
  }
  writer.join();
  EXPECT_EQ(mixed, 0);
}
