// The send cycle's rules as the main window applies them: the typed frame's layout check and the
// bytes it becomes, the row a frame is taken back from, the table editors, the relay pane, and
// what a reply shows (row and status panes) for each control code.
#include "protocol/SendCycle.h"

#include <gtest/gtest.h>

#include "ExpectedFrame.h"
#include "protocol/Protocol.h"
#include "protocol/ReplyView.h"
#include "protocol/StringUtil.h"

namespace {

const char* const kSeconds = "秒";  // the unit after a round-trip time
const char* const kWrongPassword = "密码错";  // the text of error word 04H
const char* const kEnergyName = "(当前)正向有功总电量";
const char* const kVoltageName = "A相电压";
const char* const kAddressName = "通信地址";

std::vector<uint8_t> Bytes(const std::string& spacedHex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < spacedHex.size(); i += 3)
    out.push_back(static_cast<uint8_t>(std::stoi(spacedHex.substr(i, 2), nullptr, 16)));
  return out;
}

// The body of a reply frame built independently of the codec.
TFrameBody Reply(int ctrl, const std::string& data, const std::string& address = "000000000001") {
  const std::vector<uint8_t> frame = Bytes(ExpectedFrame(address, ctrl, data));
  TFrameBody body;
  std::string error;
  EXPECT_EQ(TProtocol::UnPack(frame.data(), static_cast<int>(frame.size()), body, error), 0) << error;
  return body;
}

}  // namespace

TEST(SendCycle, FrameTextLayout) {
  const struct {
    const char* Text;
    bool Accepted;
  } cases[] = {
      {"", true},          {"68", true},         {"68 12 34", true}, {"68 12 34 ", true},
      {"68 1", false},     {"6812", false},      {"68  12", false},  {"6: 12", false},
      {"68 1G", false},    {"68 12 3@", false},  {" 68", false},     {"6", false},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckFrameText(c.Text), c.Accepted) << '"' << c.Text << '"';
  EXPECT_EQ(FrameFormatHint(), std::string(SendTexts::FrameHint1) + "\r\n" + SendTexts::FrameHint2 + "\r\n" +
                                   SendTexts::FrameHint3);
}

TEST(SendCycle, TypedFrameGetsChecksumAndEndByte) {
  const struct {
    const char* Text;
    const char* Sent;
  } cases[] = {
      {"68 11 22 33 44 55 66 68 13 00", "68 11 22 33 44 55 66 68 13 00 48 16 "},
      {"", "00 16 "},
      {"FE FE 68 1", "FE FE 68 64 16 "},  // a last unpaired digit is ignored; FE counts in the sum
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> bytes = TypedFrameBytes(c.Text);
    EXPECT_EQ(TStringUtil::BytesToHexSpaced(bytes.data(), static_cast<int>(bytes.size())), c.Sent) << c.Text;
  }
  const TDltFrame command = TypedFrameCommand();
  EXPECT_TRUE(command.RawFrame);
  EXPECT_FALSE(command.NoReply);
  EXPECT_FALSE(command.ViaCollector);
  EXPECT_EQ(command.TimeoutSec, 10);
}

TEST(SendCycle, RowsAndTheFrameTakenBackFromThem) {
  const TComMsg sent = SentRow("11H", "FE FE 68 01 00 00 00 00 00 68 11 04 33 33 34 33 B3 16 ", 0, "");
  const TComMsg received = SentRow("", " 68 01 00 00 00 00 00 68 91 00 E9 16 ", 0, "");
  TComMsg receivedRow = received;
  receivedRow.Flag = SendTexts::FlagReceived;
  const TComMsg note = NoReplyRow("X", 0, "");
  std::string frame;
  ASSERT_TRUE(RowFrameForEditing(sent, frame));
  EXPECT_EQ(frame, "FE FE 68 01 00 00 00 00 00 68 11 04 33 33 34 33 ");
  ASSERT_TRUE(RowFrameForEditing(receivedRow, frame));
  EXPECT_EQ(frame, "68 01 00 00 00 00 00 68 91 00 ");
  EXPECT_FALSE(RowFrameForEditing(note, frame));
  EXPECT_TRUE(note.Flag.empty());
  EXPECT_TRUE(note.Func.empty());
  EXPECT_EQ(FuncText(0x11), "11H");
  EXPECT_EQ(FuncText(0xD1), "D1H");
}

TEST(SendCycle, GridBoundAndShading) {
  EXPECT_FALSE(GridMustEmpty(0));
  EXPECT_FALSE(GridMustEmpty(1000));
  EXPECT_TRUE(GridMustEmpty(1001));  // the 1002nd row finds the grid emptied
  EXPECT_FALSE(RowShaded(0));
  EXPECT_TRUE(RowShaded(1));
  EXPECT_FALSE(RowShaded(2));
}

TEST(SendCycle, TableEditorForTheDataField) {
  const struct {
    int Code;
    bool Enabled;
    const char* DS;
    TTableEditor Editor;
  } cases[] = {
      {0x14, true, "04010000", TTableEditor::Zones},    {0x14, true, "04020000", TTableEditor::Zones},
      {0x14, true, "04010003", TTableEditor::Segments}, {0x14, true, "04020008", TTableEditor::Segments},
      {0x14, true, "04010009", TTableEditor::None},     {0x14, true, "0401000A", TTableEditor::None},
      {0x14, true, "0401000", TTableEditor::None},      {0x14, false, "04010003", TTableEditor::None},
      {0x11, true, "04010003", TTableEditor::None},     {0x14, true, "04030001", TTableEditor::None},
  };
  for (const auto& c : cases) EXPECT_EQ(TableEditorFor(c.Code, c.Enabled, c.DS), c.Editor) << c.DS;
}

TEST(SendCycle, RelayPaneCountsRelaysWhileOn) {
  TRouteTable table(7);
  table.Addresses = {"111111111111", "222222222222", "333333333333"};
  table.SetEnabled(true);
  const std::string shown = RelayPaneText(table);
  EXPECT_NE(shown.find('3'), std::string::npos);
  EXPECT_EQ(shown.find("%d"), std::string::npos);
  table.SetEnabled(false);
  EXPECT_EQ(RelayPaneText(table), "");
}

TEST(ReplyView, DecodeTable) {
  const std::string di = "00000100";  // 00010000 in wire order
  const struct {
    const char* Name;
    int Ctrl;
    std::string Data;
    bool ViaCollector;
    std::string Succ, Value, ErrHint, More, Seq;
  } cases[] = {
      {"read", 0x91, di + "78563412", false, ReplyTexts::Success, "12345678", "", "", ""},
      {"read, identifier only", 0x91, di, false, ReplyTexts::Success, "", "", "", ""},
      {"read, more follows", 0xB1, di + "0102", false, ReplyTexts::Success, "0201", "", ReplyTexts::MoreFrames, ""},
      {"read, error word", 0xD1, "04", false, ReplyTexts::Failure, "", TDLT::ErrorText(0x04), "", ""},
      {"read, error of two bytes", 0xD1, "0400", false, ReplyTexts::Failure, "", "", "", ""},
      {"follow-up", 0x92, di + "7856341205", false, ReplyTexts::Success, "12345678", "", "", "5"},
      {"follow-up, more", 0xB2, di + "AB0C", false, ReplyTexts::Success, "AB", "", ReplyTexts::MoreFrames, "12"},
      {"read address", 0x93, "010000000000", false, ReplyTexts::Success, "000000000001", "", "", ""},
      {"write", 0x94, "", false, ReplyTexts::Success, "", "", "", ""},
      {"write, wrong password", 0xD4, "04", false, ReplyTexts::Failure, "", TDLT::ErrorText(0x04), "", ""},
      {"write address", 0x95, "", false, ReplyTexts::Success, "000000000001", "", "", ""},
      {"freeze, error", 0xD6, "02", false, ReplyTexts::Failure, "", TDLT::ErrorText(0x02), "", ""},
      {"rate", 0x97, "08", false, ReplyTexts::Success, "2400", "", "", ""},
      {"rate, error", 0xD7, "08", false, ReplyTexts::Failure, "", TDLT::ErrorText(0x08), "", ""},
      {"password", 0x98, "78563412", false, ReplyTexts::Success, "12345678", "", "", ""},
      {"meter reset, error", 0xDA, "04", false, ReplyTexts::Failure, "", TDLT::ErrorText(0x04), "", ""},
      {"unknown code", 0x9C, "1122", false, ReplyTexts::Success, "", "", "", ""},
      {"collector: address dropped", 0x91, di + "78563412" + "010000000000", true, ReplyTexts::Success, "12345678", "", "", ""},
      {"collector: six bytes kept", 0x91, di + "3412", true, ReplyTexts::Success, "1234", "", "", ""},
      {"collector: error word, address dropped", 0xD1, "04" + std::string("010000000000"), true, ReplyTexts::Failure, "",
       kWrongPassword, "", ""},
      {"application layer timeout", 0xC0, di + "78563412", false, ReplyTexts::AppTimeout, "", "", "", ""},
  };
  for (const auto& c : cases) {
    TReplyInput input{Reply(c.Ctrl, c.Data), c.ViaCollector, 5000, 5187};
    const TReplyView view = ViewReply(input, 46000.5);
    EXPECT_EQ(view.Row.Flag, SendTexts::FlagReceived) << c.Name;
    EXPECT_EQ(view.Row.Func, FuncText(c.Ctrl)) << c.Name;
    EXPECT_EQ(view.Row.Content, input.Body.FrameText) << c.Name;
    EXPECT_EQ(view.Row.Time, 46000.5) << c.Name;
    EXPECT_EQ(view.Row.Succ, c.Succ) << c.Name;
    EXPECT_EQ(view.UseTime, std::string("0.187") + kSeconds) << c.Name;
    EXPECT_EQ(view.Data, c.Value) << c.Name;
    EXPECT_EQ(view.ErrHint, c.ErrHint) << c.Name;
    EXPECT_EQ(view.IsLastFrame, c.More) << c.Name;
    EXPECT_EQ(view.SEQ, c.Seq) << c.Name;
  }
}

TEST(ReplyView, RoundTripAcrossTheTickWrap) {
  EXPECT_EQ(RoundTripText(0), std::string("0.000") + kSeconds);
  TReplyInput input{Reply(0x94, ""), false, 0xFFFFFFF0u, 0x10u};
  EXPECT_EQ(ViewReply(input, 0).UseTime, std::string("0.032") + kSeconds);
  EXPECT_EQ(RoundTripText(12345), std::string("12.345") + kSeconds);
}

// The reading column: a read's name and reading with its unit, an abnormal reply's error text, the
// decoded value of other replies; a sent row's identifier and name.
TEST(ReplyView, ReadingColumn) {
  const std::string energy = "00000100", voltage = "00010102";  // 00010000 and 02010100, wire order
  const struct {
    int Ctrl;
    std::string Data;
    bool ViaCollector;
    std::string Parse;
  } cases[] = {
      {0x91, energy + "60341200", false, std::string(kEnergyName) + " 1234.60 kWh"},
      {0x91, voltage + "2422", false, std::string(kVoltageName) + " 222.4 V"},
      {0x91, energy + "603412", false, std::string(kEnergyName) + " 123460"},  // too short: the raw value
      {0xD1, "04", false, kWrongPassword},
      {0xD1, "04010000000000", true, kWrongPassword},
      {0x93, "010000000000", false, std::string(kAddressName) + " 000000000001"},
      {0x97, "08", false, "2400"},
      {0x94, "", false, ""},
      {0xC0, energy, false, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ViewReply({Reply(c.Ctrl, c.Data), c.ViaCollector, 0, 0}, 0).Parse, c.Parse) << c.Data;

  TDltFrame read;
  read.DI = energy;
  EXPECT_EQ(SentParse(read), std::string("00010000 ") + kEnergyName);
  EXPECT_EQ(SentParse(TDltFrame{}), "");
  EXPECT_EQ(TypedFrameParse(Bytes("FE FE " + ExpectedFrame("000000000001", 0x11, energy))),
            std::string("00010000 ") + kEnergyName);
  EXPECT_EQ(TypedFrameParse(Bytes(ExpectedFrame("000000000001", 0x13, ""))), "");
  EXPECT_EQ(TypedFrameParse(Bytes(ExpectedFrame("000000000001", 0x91, energy))), "");  // a reply, not a request
}

TEST(ReplyView, ValuePaneTipHoldsTheReadingAndTheWholeValue) {
  const std::string value(64, '3');
  TReplyView view;
  view.Data = value;
  EXPECT_EQ(ValuePaneTip(view), value);
  view.Tip = "tip";
  EXPECT_EQ(ValuePaneTip(view), "tip\r\n" + value);
  view.Data.clear();
  EXPECT_EQ(ValuePaneTip(view), "tip");
}

// A typed frame that already ends with its own checksum and 16H goes out as typed; one whose L
// does not count its data bytes is refused even though its checksum is right.
TEST(SendCycle, TypedFrameWithItsOwnChecksum) {
  const std::string whole = ExpectedFrame("000000000001", 0x11, "00000100");  // 68 ... B3 16
  const std::string typed = whole.substr(0, whole.size() - 1);
  EXPECT_EQ(TypedFrameKind(TypedBytes(typed)), TTypedFrameKind::Complete);
  EXPECT_EQ(TypedFrameBytes(typed), Bytes(whole));
  EXPECT_EQ(TypedFrameBytes("FE FE " + typed), Bytes("FE FE " + whole));
  EXPECT_EQ(TypedFrameRefusal(typed), "");
  // L = 2 for four data bytes, the checksum made right for those bytes.
  std::vector<uint8_t> shortL = Bytes(whole);
  shortL[9] = 0x02;
  shortL[shortL.size() - 2] = static_cast<uint8_t>(shortL[shortL.size() - 2] - 2);
  const std::string shortText = TStringUtil::BytesToHexSpaced(shortL.data(), static_cast<int>(shortL.size()));
  EXPECT_EQ(TypedFrameKind(shortL), TTypedFrameKind::LengthMismatch);
  EXPECT_EQ(TypedFrameRefusal(shortText), SendTexts::FrameLengthMismatch);
  // Without the checksum the frame still gets one; a wrong checksum is just a data byte.
  EXPECT_EQ(TypedFrameKind(TypedBytes(whole.substr(0, whole.size() - 7))), TTypedFrameKind::NeedsChecksum);
  shortL[9] = 0x04;
  EXPECT_EQ(TypedFrameKind(shortL), TTypedFrameKind::NeedsChecksum);
}

TEST(SendCycle, NoteWhileTheDataIsAnotherIdentifiersTable) {
  EXPECT_EQ(TableDataNote("04010001", "0800", "04010001", "0800"), "");
  const std::string note = TableDataNote("04000102", "0800", "04010001", "0800");
  EXPECT_NE(note.find("04010001"), std::string::npos);
  EXPECT_EQ(note.find("%s"), std::string::npos);
  EXPECT_NE(TableDataNote("04000102", "080001", "04010001", "0800010900"), "");  // cut to the new length
  EXPECT_EQ(TableDataNote("04000102", "120000", "04010001", "0800"), "");  // the data was changed since
  EXPECT_EQ(TableDataNote("04000102", "", "", ""), "");
}
