// Saved message files: the bytes of the file, and a save that fails leaving what was there.
#include "services/MessageFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "TestFiles.h"
#include "protocol/ReplyView.h"
#include "protocol/SendCycle.h"

namespace {
// Captions and texts in GBK, taken from an independent GBK table.
const std::string kHeaderGbk =
    "\xB1\xEA\xD6\xBE\x09\xBF\xD8\xD6\xC6\xD7\xD6\x09\xCF\xFB\xCF\xA2\xC4\xDA\xC8\xDD\x09\xCA\xB1\xBC\xE4\x09\xC7\xE9\xBF\xF6";
const std::string kSentGbk = "\xB7\xA2\xCB\xCD\xA1\xFA";
const std::string kSuccessGbk = "\xB3\xC9\xB9\xA6";
const std::string kSent = SendTexts::FlagSent;
const std::string kSuccess = ReplyTexts::Success;
}  // namespace

TEST(MessageFile, HeaderEmptyLineAndOneTabSeparatedLinePerRow) {
  TTempFolder dir;
  const std::vector<TMessageCells> rows = {
      {kSent, "11H", "68 01 16 ", "2026-12-09 12:00:01", ""},
      {"", "", "note", "2026-12-09 12:00:02", ""},
      {"x", "91H", "68 02 16 ", "2026-12-09 12:00:03", kSuccess},
  };
  std::string error;
  ASSERT_TRUE(SaveMessageFile(dir / "a.log", rows, error)) << error;
  EXPECT_EQ(ReadBytes(dir / "a.log"), kHeaderGbk + "\r\n\r\n" + kSentGbk +
                                          "\t11H\t68 01 16 \t2026-12-09 12:00:01\t\r\n"
                                          "\t\tnote\t2026-12-09 12:00:02\t\r\n"
                                          "x\t91H\t68 02 16 \t2026-12-09 12:00:03\t" +
                                          kSuccessGbk + "\r\n");
  // Saving again replaces the file.
  ASSERT_TRUE(SaveMessageFile(dir / "a.log", {}, error));
  EXPECT_EQ(ReadBytes(dir / "a.log"), kHeaderGbk + "\r\n\r\n");
}

TEST(MessageFile, FailedSaveSaysWhereAndLeavesNoPartialFile) {
  TTempFolder dir;
  WriteBytes(dir / "plainfile", "x");
  mkdir((dir / "folder").c_str(), 0755);
  for (const std::string& path : {dir / "plainfile/a.log", dir / "missing/a.log", dir / "folder"}) {
    std::string error;
    EXPECT_FALSE(SaveMessageFile(path, {{"a", "b", "c", "d", "e"}}, error)) << path;
    EXPECT_EQ(error, "无法写入文件" + path + "！");
  }
  // Nothing but what the test made: no temporary file stays behind.
  std::vector<std::string> names = TTempFolder::List(dir.path());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"folder", "plainfile"}));
  EXPECT_TRUE(TTempFolder::List(dir / "folder").empty());
}
