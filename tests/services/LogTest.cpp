#include "services/Log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "GbkTexts.h"
#include "TestFiles.h"

namespace {

TDateTime At(int y, int mo, int d, int h, int mi, int s) {
  TDateParts p;
  p.Year = y, p.Month = mo, p.Day = d, p.Hour = h, p.Minute = mi, p.Second = s;
  return EncodeDateTime(p);
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Logger, nullptr); }
  void TearDown() override { EXPECT_EQ(Logger, nullptr); }

  // A clock the test moves by hand.
  TLog::TClock Clock() {
    return [this] { return Time.load(); };
  }
  std::string LogFile(const std::string& date) { return Dir / ("log/" + date + "Info.log"); }

  TTempFolder Dir;
  std::atomic<TDateTime> Time{At(2026, 12, 8, 13, 5, 26)};
};

const std::string kSendSource = "TFrameSendThread.Execute";

}  // namespace

TEST_F(LogTest, EntryIsHeaderAndMessageInGbkWithCrLf) {
  {
    TLog log(Dir.path(), Clock());
    EXPECT_EQ(Logger, &log);
    EXPECT_EQ(log.FileName(), LogFile("2026-12-08"));
    log.WriteLog(ltDebug, kSendSource, kFrameSentPrefix + "68AAAAAAAAAAAA681300DF16");
  }
  EXPECT_EQ(ReadBytes(LogFile("2026-12-08")),
            "2026-12-08 13:05:26  TFrameSendThread.Execute       " + kLabelDebugGbk + "\r\n" +
                kFrameSentPrefixGbk + "68AAAAAAAAAAAA681300DF16\r\n");
}

TEST_F(LogTest, LabelsStartInOneColumnForEverySourceAndType) {
  const std::string sources[] = {"TFrameSendThread.Execute", "TFrameRecvThread.Execute",
                                 "TChannel.DoDealFrame", "TProtocol.UnPack"};
  const std::map<int, std::string> labels = {
      {ltNormal, kLabelNormalGbk},       {ltDebug, kLabelDebugGbk}, {ltError, kLabelErrorGbk},
      {ltException, kLabelExceptionGbk}, {ltAlarm, kLabelAlarmGbk},
      {ltDebug | ltException, kLabelDebugGbk + kLabelExceptionGbk}};
  {
    TLog log(Dir.path(), Clock());
    for (const std::string& source : sources)
      for (const auto& [type, label] : labels) log.WriteLog(type, source, "m");
    // A source given in Chinese is padded by its GBK bytes (2 per character).
    log.WriteLog(ltDebug, kParityEven, "m");
  }
  std::vector<std::string> lines = CrLfLines(ReadBytes(LogFile("2026-12-08")));
  ASSERT_EQ(lines.size(), 2 * (4 * labels.size() + 1));
  std::size_t i = 0;
  for (const std::string& source : sources) {
    for (const auto& [type, label] : labels) {
      const std::string& header = lines[i];
      EXPECT_EQ(header.substr(0, 21), "2026-12-08 13:05:26  ");
      EXPECT_EQ(header.substr(21, source.size()), source);
      EXPECT_EQ(header.substr(21 + source.size(), 31 - source.size()),
                std::string(31 - source.size(), ' '));
      EXPECT_EQ(header.substr(52), label) << "type " << type;
      EXPECT_EQ(lines[i + 1], "m");
      i += 2;
    }
  }
  EXPECT_EQ(lines[i], "2026-12-08 13:05:26  " + kParityEvenGbk + std::string(24 + 1, ' ') +
                          kLabelDebugGbk);
}

TEST_F(LogTest, MaskFromLogtypeIniSelectsTypes) {
  WriteBytes(Dir / "logtype.ini", "[log]\r\nlogcontent=2\r\n");
  {
    TLog log(Dir.path(), Clock());
    EXPECT_EQ(log.LogTypes(), 2);
    EXPECT_TRUE(LogEnabled(ltDebug));
    EXPECT_FALSE(LogEnabled(ltError));
    log.WriteLog(ltDebug, kSendSource, "sent");
    log.WriteLog(ltError, "TChannel.DoDealFrame", "invalid");
    log.WriteLog(ltException, kSendSource, "error");
    log.WriteLog(ltDebug | ltError, kSendSource, "both");  // written only when all bits are on
  }
  std::vector<std::string> lines = CrLfLines(ReadBytes(LogFile("2026-12-08")));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "sent");
}

TEST_F(LogTest, MissingOrJunkLogtypeMeansAllTypes) {
  {
    TLog log(Dir.path(), Clock());
    EXPECT_EQ(log.LogTypes(), 31);
  }
  WriteBytes(Dir / "logtype.ini", "[LOG]\r\nLogContent=all\r\n");
  {
    TLog log(Dir.path(), Clock());
    EXPECT_EQ(log.LogTypes(), 31);
  }
  WriteBytes(Dir / "logtype.ini", "[LOG]\r\nLogContent=$0C\r\n");
  TLog log(Dir.path(), Clock());
  EXPECT_EQ(log.LogTypes(), 12);
}

TEST_F(LogTest, BlankMessagesAreNotWrittenOthersUnchanged) {
  {
    TLog log(Dir.path(), Clock());
    log.WriteLog(ltDebug, kSendSource, "");
    log.WriteLog(ltException, kSendSource, "   ");
    log.WriteLog(ltError, kSendSource, " \t\r\n ");
    log.WriteLog(ltDebug, kSendSource, "  padded  ");
  }
  std::vector<std::string> lines = CrLfLines(ReadBytes(LogFile("2026-12-08")));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "  padded  ");
}

TEST_F(LogTest, RunsOnTheSameDayAppendToOneFile) {
  {
    TLog log(Dir.path(), Clock());
    log.WriteLog(ltDebug, kSendSource, "first run");
  }
  Time = At(2026, 12, 8, 20, 0, 0);
  {
    TLog log(Dir.path(), Clock());
    log.WriteLog(ltDebug, kSendSource, "second run");
  }
  std::vector<std::string> lines = CrLfLines(ReadBytes(LogFile("2026-12-08")));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], "first run");
  EXPECT_EQ(lines[3], "second run");
}

TEST_F(LogTest, FirstWrittenEntryOfANewDaySwitchesFiles) {
  WriteBytes(Dir / "logtype.ini", "[LOG]\r\nLogContent=2\r\n");
  TLog log(Dir.path(), Clock());
  log.WriteLog(ltDebug, kSendSource, "before midnight");
  Time = At(2026, 12, 9, 0, 0, 1);
  // Entries that are not written do not switch.
  log.WriteLog(ltError, kSendSource, "filtered");
  log.WriteLog(ltDebug, kSendSource, " ");
  EXPECT_EQ(log.FileName(), LogFile("2026-12-08"));
  EXPECT_FALSE(FileExists(LogFile("2026-12-09")));

  log.WriteLog(ltDebug, kSendSource, "after midnight");
  EXPECT_EQ(log.FileName(), LogFile("2026-12-09"));
  std::vector<std::string> old = CrLfLines(ReadBytes(LogFile("2026-12-08")));
  std::vector<std::string> now = CrLfLines(ReadBytes(LogFile("2026-12-09")));
  ASSERT_EQ(old.size(), 2u);
  ASSERT_EQ(now.size(), 2u);
  EXPECT_EQ(old[1], "before midnight");
  EXPECT_EQ(now[0].substr(0, 20), "2026-12-09 00:00:01 ");
  EXPECT_EQ(now[1], "after midnight");
}

TEST_F(LogTest, OnlyOneLogIsInstalled) {
  TLog first(Dir.path(), Clock());
  TTempFolder other;
  {
    TLog second(other.path(), Clock());
    EXPECT_FALSE(second.Active());
    EXPECT_EQ(Logger, &first);
    EXPECT_EQ(GetLogSink(), &first);
    second.WriteLog(ltDebug, kSendSource, "to the second");
  }
  // The second object's end leaves the first installed.
  EXPECT_EQ(Logger, &first);
  LogEntry(ltDebug, kSendSource, "through the sink");
  EXPECT_FALSE(FileExists(other / "log/2026-12-08Info.log"));
  std::vector<std::string> lines = CrLfLines(ReadBytes(LogFile("2026-12-08")));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "through the sink");
}

TEST_F(LogTest, DestructionUninstallsLogAndSink) {
  {
    TLog log(Dir.path(), Clock());
    EXPECT_EQ(GetLogSink(), &log);
  }
  EXPECT_EQ(GetLogSink(), nullptr);
  LogEntry(ltDebug, kSendSource, "dropped");  // nothing installed: no effect, no crash
  EXPECT_EQ(ReadBytes(LogFile("2026-12-08")), "");
}

TEST_F(LogTest, UncreatableFolderDropsEntriesSilently) {
  WriteBytes(Dir / "file", "x");
  TLog log(Dir / "file", Clock());  // "file/log" cannot be made
  log.WriteLog(ltDebug, kSendSource, "lost");
  Time = At(2026, 12, 9, 1, 0, 0);
  log.WriteLog(ltDebug, kSendSource, "lost too");
  EXPECT_EQ(ReadBytes(Dir / "file"), "x");
}

TEST_F(LogTest, EntriesFromTwoThreadsStayWhole) {
  const int perThread = 1000;
  {
    TLog log(Dir.path(), Clock());
    auto writer = [&log](const std::string& source, const std::string& tag) {
      for (int i = 0; i < perThread; ++i)
        log.WriteLog(ltDebug, source, kFrameSentPrefix + tag + std::to_string(i));
    };
    std::thread a(writer, "TFrameSendThread.Execute", "A");
    std::thread b(writer, "TFrameRecvThread.Execute", "B");
    a.join();
    b.join();
  }
  std::vector<std::string> lines = CrLfLines(ReadBytes(LogFile("2026-12-08")));
  ASSERT_EQ(lines.size(), 4u * perThread);
  int next[2] = {0, 0};
  for (std::size_t i = 0; i < lines.size(); i += 2) {
    bool fromA = lines[i].find("TFrameSendThread.Execute") == 21;
    ASSERT_TRUE(fromA || lines[i].find("TFrameRecvThread.Execute") == 21) << lines[i];
    int& n = next[fromA ? 0 : 1];
    // The message belongs to the header's thread and each thread's entries keep their order.
    ASSERT_EQ(lines[i + 1], kFrameSentPrefixGbk + (fromA ? "A" : "B") + std::to_string(n)) << i;
    ++n;
  }
  EXPECT_EQ(next[0], perThread);
  EXPECT_EQ(next[1], perThread);
}

// A live view of the log sees each written entry once, in the order of the file; entries the
// type mask drops and blank messages are not seen; after removal nothing is.
TEST_F(LogTest, ObserverSeesWrittenEntriesInOrder) {
  WriteBytes(Dir / "logtype.ini", "[LOG]\r\nLogContent=2\r\n");
  std::vector<TLogEntry> seen;
  TLog log(Dir.path(), Clock());
  log.SetObserver([&seen](const TLogEntry& entry) { seen.push_back(entry); });
  log.WriteLog(ltDebug, kSendSource, kFrameSentPrefix + "01");
  log.WriteLog(ltError, "TChannel.DoDealFrame", "dropped by the mask");
  log.WriteLog(ltDebug, kSendSource, "  ");
  log.WriteLog(ltDebug, "TFrameRecvThread.Execute", "02");
  log.SetObserver(nullptr);
  log.WriteLog(ltDebug, kSendSource, "03");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Time, "2026-12-08 13:05:26");
  EXPECT_EQ(seen[0].Content(), kSendSource + kLabelDebug + " " + kFrameSentPrefix + "01");
  EXPECT_EQ(seen[1].Content(), "TFrameRecvThread.Execute" + kLabelDebug + " 02");
}
