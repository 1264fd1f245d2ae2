#include "services/IniFile.h"

#include <gtest/gtest.h>

#include "GbkTexts.h"
#include "TestFiles.h"

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  TTempFolder Dir;
  std::string Path = Dir / "Setup.ini";
};

}  // namespace

TEST_F(IniFileTest, NamesMatchWithoutCaseAndValuesAreTrimmed) {
  WriteBytes(Path,
             "[DltParameter]\r\n"
             "  Psw =  12345678  \r\n"
             "operator=AB00\r\n"
             "[rs232]\r\n"
             "SERIAL_PORT=\t/dev/ttyUSB0\r\n");
  TIniFile ini(Path);
  EXPECT_EQ(ini.ReadString("DLTPARAMETER", "PSW", "x"), "12345678");
  EXPECT_EQ(ini.ReadString("dltparameter", "OPERATOR", "x"), "AB00");
  EXPECT_EQ(ini.ReadString("RS232", "serial_port", "x"), "/dev/ttyUSB0");
  EXPECT_EQ(ini.ReadString("RS232", "PSW", "dflt"), "dflt");       // key of another section
  EXPECT_EQ(ini.ReadString("NOSECTION", "PSW", "dflt"), "dflt");
  EXPECT_TRUE(ini.ValueExists("rs232", "Serial_Port"));
  EXPECT_FALSE(ini.ValueExists("rs232", "SERIAL_RATE"));
  EXPECT_EQ(TIniFile(Dir / "missing.ini").ReadString("A", "B", "dflt"), "dflt");
}

TEST_F(IniFileTest, IntegersAndBooleansFollowTheReadingRule) {
  WriteBytes(Path,
             "[N]\r\n"
             "dec=42\r\nneg=-7\r\nhex=0x10\r\nHEX=0X1f\r\ndollar=$10\r\nall=$FFFFFFFF\r\n"
             "junk=12ab\r\nyes=yes\r\nempty=\r\nhuge=99999999999\r\nhugehex=0x100000000\r\n"
             "bare=0x\r\nspaced= 17 \r\ntwo=2\r\nzero=0\r\n");
  TIniFile ini(Path);
  EXPECT_EQ(ini.ReadInteger("N", "dec", 0), 42);
  EXPECT_EQ(ini.ReadInteger("N", "neg", 0), -7);
  EXPECT_EQ(ini.ReadInteger("N", "hex", 0), 16);
  EXPECT_EQ(ini.ReadInteger("N", "Hex", 0), 16);  // first of the two spellings wins
  EXPECT_EQ(ini.ReadInteger("N", "dollar", 0), 16);
  EXPECT_EQ(ini.ReadInteger("N", "all", 0), -1);
  EXPECT_EQ(ini.ReadInteger("N", "junk", 9), 9);
  EXPECT_EQ(ini.ReadInteger("N", "yes", 9), 9);
  EXPECT_EQ(ini.ReadInteger("N", "empty", 9), 9);
  EXPECT_EQ(ini.ReadInteger("N", "huge", 9), 9);
  EXPECT_EQ(ini.ReadInteger("N", "hugehex", 9), 9);
  EXPECT_EQ(ini.ReadInteger("N", "bare", 9), 9);
  EXPECT_EQ(ini.ReadInteger("N", "spaced", 0), 17);
  EXPECT_TRUE(ini.ReadBool("N", "two", false));
  EXPECT_FALSE(ini.ReadBool("N", "zero", true));
  EXPECT_FALSE(ini.ReadBool("N", "yes", false));
  EXPECT_TRUE(ini.ReadBool("N", "yes", true));  // not a number: the default
}

TEST_F(IniFileTest, WriteChangesOnlyTheOneEntryAndKeepsEveryOtherLine) {
  const std::string before =
      "; settings written by hand\r\n"
      "[DLTPARAMETER]\r\n"
      "PSW=26404915\r\n"
      "Unknown = keep me\r\n"
      "LCCOUNT = 3\r\n"
      "\r\n"
      "[Other]\r\n"
      "x=\xB7\xA2 and stray \xFF\x80 bytes\r\n"
      "# comment\r\n";
  WriteBytes(Path, before);
  TIniFile ini(Path);
  std::string error = "unset";
  ASSERT_TRUE(ini.WriteInteger("DltParameter", "LCCount", 7, &error));
  EXPECT_EQ(error, "");
  std::string expected = before;
  expected.replace(expected.find("LCCOUNT = 3"), 11, "LCCOUNT =7");  // spelling of the file kept
  EXPECT_EQ(ReadBytes(Path), expected);
  EXPECT_EQ(ini.ReadInteger("DLTPARAMETER", "lccount", 0), 7);

  // A new key goes after the section's last entry, before the blank line.
  ASSERT_TRUE(ini.WriteString("DLTPARAMETER", "LC", "FE"));
  expected.insert(expected.find("\r\n\r\n[Other]") + 2, "LC=FE\r\n");
  EXPECT_EQ(ReadBytes(Path), expected);

  // A new section goes at the end.
  ASSERT_TRUE(ini.WriteString("RS232", "SERIAL_PORT", "/dev/ttyS0"));
  expected += "[RS232]\r\nSERIAL_PORT=/dev/ttyS0\r\n";
  EXPECT_EQ(ReadBytes(Path), expected);

  // Writing the value a key already has leaves the file as it is.
  ASSERT_TRUE(ini.WriteString("rs232", "serial_port", "/dev/ttyS0"));
  EXPECT_EQ(ReadBytes(Path), expected);
  // No temporary file is left behind.
  EXPECT_EQ(TTempFolder::List(Dir.path()), std::vector<std::string>{"Setup.ini"});
}

TEST_F(IniFileTest, FileIsWrittenAsGbkWithCrLf) {
  TIniFile ini(Path);
  ASSERT_TRUE(ini.WriteString("RS232", "SERIAL_PARITY", kParityEven));
  ASSERT_TRUE(ini.WriteBool("DLTPARAMETER", "USELC", true));
  EXPECT_EQ(ReadBytes(Path), "[RS232]\r\nSERIAL_PARITY=" + kParityEvenGbk +
                                 "\r\n[DLTPARAMETER]\r\nUSELC=1\r\n");
  EXPECT_EQ(ini.ReadString("RS232", "SERIAL_PARITY", ""), kParityEven);

  // A file with LF line ends gets CR LF on rewrite; line contents stay.
  WriteBytes(Path, "[A]\nk=1\nother=\xB7\xA2\n");
  ASSERT_TRUE(ini.WriteString("A", "k", "2"));
  EXPECT_EQ(ReadBytes(Path), "[A]\r\nk=2\r\nother=\xB7\xA2\r\n");
}

TEST_F(IniFileTest, ValuesCannotAddLines) {
  TIniFile ini(Path);
  ASSERT_TRUE(ini.WriteString("A", "k", "v\r\n[B]\r\nevil=1"));
  EXPECT_FALSE(ini.ValueExists("B", "evil"));
  EXPECT_EQ(CrLfLines(ReadBytes(Path)).size(), 2u);
}

TEST_F(IniFileTest, NonGbkBytesReadWithoutHarm) {
  WriteBytes(Path, std::string("[A]\r\nbad=\x81\x30x\xFF\r\nnul=a\0b\r\n", 24));
  TIniFile ini(Path);
  EXPECT_EQ(ini.ReadString("A", "bad", ""), "?0x?");
  EXPECT_EQ(ini.ReadString("A", "nul", ""), std::string("a\0b", 3));
  // A UTF-8 byte order mark in front of the first section does not hide it.
  WriteBytes(Path, "\xEF\xBB\xBF[A]\r\nk=5\r\n");
  EXPECT_EQ(ini.ReadInteger("A", "k", 0), 5);
  ASSERT_TRUE(ini.WriteInteger("A", "k", 6));
  EXPECT_EQ(ReadBytes(Path), "\xEF\xBB\xBF[A]\r\nk=6\r\n");
}

TEST_F(IniFileTest, UnwritableFileReportsAnErrorAndKeepsRunning) {
  WriteBytes(Dir / "plainfile", "x");
  TIniFile ini(Dir / "plainfile/Setup.ini");  // its folder is a file
  std::string error;
  EXPECT_FALSE(ini.WriteString("A", "k", "v", &error));
  EXPECT_NE(error.find("Unable to write to " + Dir / "plainfile/Setup.ini"), std::string::npos);
  EXPECT_EQ(ReadBytes(Dir / "plainfile"), "x");

  // A folder in the file's place is neither read nor replaced.
  mkdir((Dir / "folder.ini").c_str(), 0755);
  TIniFile dirIni(Dir / "folder.ini");
  EXPECT_FALSE(dirIni.WriteString("A", "k", "v", &error));
  EXPECT_EQ(dirIni.ReadString("A", "k", "dflt"), "dflt");
}

TEST_F(IniFileTest, WritesThroughASymbolicLink) {
  WriteBytes(Dir / "real.ini", "[A]\r\nk=1\r\n");
  ASSERT_EQ(symlink((Dir / "real.ini").c_str(), Path.c_str()), 0);
  ASSERT_TRUE(TIniFile(Path).WriteInteger("A", "k", 2));
  EXPECT_EQ(ReadBytes(Dir / "real.ini"), "[A]\r\nk=2\r\n");
  struct stat st {};
  ASSERT_EQ(lstat(Path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(IniFileTest, GbkNamesWhoseSecondByteIsABracketStayOneEntry) {
  // GBK: 乚 815DH and 癩 B05DH end in ']', 乕 815BH in '[', 亄 817BH in '{'.
  TIniFile ini(Path);
  for (const char* value : {"1", "乚]=[癩;", "2"}) {
    ASSERT_TRUE(ini.WriteString("乚", "乕", value));
    ASSERT_TRUE(ini.WriteString("x癩", "亄;", value));
    EXPECT_EQ(ini.ReadString("乚", "乕", "default"), value);
    EXPECT_EQ(ini.ReadString("X癩", "亄;", "default"), value);
  }
  EXPECT_EQ(ReadBytes(Path), "[\x81\x5D]\r\n\x81\x5B=2\r\n[x\xB0\x5D]\r\n\x81\x7B;=2\r\n");
  // Names a read would not find again are refused, and the file stays as it is.
  EXPECT_FALSE(ini.WriteString("a]b", "k", "v"));
  EXPECT_FALSE(ini.WriteString("乚", "k=1", "v"));
  EXPECT_FALSE(ini.WriteString("乚", ";k", "v"));
  EXPECT_EQ(CrLfLines(ReadBytes(Path)).size(), 4u);
}
