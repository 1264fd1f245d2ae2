// Command composition checked down to the packed bytes that go on the line.
#include <gtest/gtest.h>

#include <memory>

#include "protocol/Catalog.h"
#include "protocol/Compose.h"
#include "protocol/ExpectedFrame.h"
#include "protocol/Protocol.h"

namespace {

std::string Expected(const std::string& address, int ctrl, const std::string& data) {
  return ExpectedFrame(address, ctrl, data);
}

// The command panel as the main window drives it: pick a command, type the fields, compose.
struct TPanel {
  TCommandFields fields;
  TMeterParams params;
  TRouteTable route{7};
  TIdentifierDlt cur;
  TBuildFailure why = bfNone;

  TPanel() {
    FillCtrlList(fields);
    params.Psw = "26404915";
    params.Operator = "QUIL";
  }
  // Selects the entry of `code`; for 13H and 15H the MAC entry when `mac`.
  void Select(int code, bool mac = false) {
    for (size_t i = 0; i < fields.CtrlEntries.size(); ++i) {
      const TCtrlItem item = CtrlItemFor(fields.CtrlEntries[i]);
      if (item.Code == code && (item.Name.find("MAC") != std::string::npos) == mac) {
        fields.CtrlIndex = static_cast<int>(i);
        return;
      }
    }
    ADD_FAILURE() << "no entry for " << code;
  }
  void TypeDI(const std::string& di) {
    fields.edtDS.Text = di;
    IdentifierChanged(di, GetCtrlItem(fields), cur, fields.edtDS.Hint);
  }
  bool Build(TDltFrame& frame) {
    TCtrlItem item = GetCtrlItem(fields);
    ApplyCtrlItem(item, fields, cur);
    return BuildFrame(item, fields, params, route, frame, &why);
  }
  void Relays(std::vector<std::string> addresses) {
    route.Addresses = std::move(addresses);
    route.SetEnabled(true);
  }
};

// Packs the frame and returns its bytes as spaced hex; a packing error as "error: ...".
std::string Wire(const TDltFrame& frame) {
  std::unique_ptr<uint8_t[]> bytes;
  int count = 0;
  std::string error;
  if (TProtocol::Pack(frame.Address, frame, frame.DataField, bytes, count, error) != 0) return "error: " + error;
  return PreviewText(bytes.get(), count, false, "", 0);
}

TDltFrame Composed(TPanel& panel) {
  TDltFrame frame;
  EXPECT_TRUE(panel.Build(frame)) << BuildFailureText(panel.why);
  return frame;
}

const char* const Password = "15494026";  // 26404915 in wire order
const char* const Operator = "4C495551";  // QUIL, last character first

}  // namespace

TEST(ComposeList, FourteenEntriesInOrderWithTheirCodes) {
  const std::vector<std::string> texts = {"读数据-11H",
                                         "写数据-14H",
                                         "读MAC地址-13H",
                                         "写MAC地址-15H",
                                         "读设备地址-13H",
                                         "写设备地址-15H",
                                         "广播校时-08H",
                                         "冻结命令-16H",
                                         "更改通信速率-17H",
                                         "修改密码-18H",
                                         "最大需量清零-19H",
                                         "电表清零-1AH",
                                         "事件清零-1BH",
                                         "读后续数据-12H"};
  TCommandFields fields;
  fields.CtrlEntries = {"stale"};
  FillCtrlList(fields);
  EXPECT_EQ(fields.CtrlEntries, texts);
  EXPECT_EQ(fields.CtrlIndex, 0);
  const int codes[] = {0x11, 0x14, 0x13, 0x15, 0x13, 0x15, 0x08, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x12};
  for (size_t i = 0; i < texts.size(); ++i) {
    fields.CtrlIndex = static_cast<int>(i);
    const TCtrlItem item = GetCtrlItem(fields);
    EXPECT_EQ(item.Code, codes[i]) << texts[i];
    EXPECT_EQ(item.Name, texts[i].substr(0, texts[i].size() - 4));
    EXPECT_EQ(item.ReplyCode, codes[i] == 0x08 ? 0 : codes[i] + 0x80);
    EXPECT_EQ(item.ErrReplyCode, codes[i] == 0x08 ? 0 : codes[i] + 0xC0);
  }
}

TEST(ComposeList, MacEntriesCarryFixedDataAndNoSelectionGivesNoFrame) {
  TPanel panel;
  panel.Select(0x13, true);
  TCtrlItem mac = GetCtrlItem(panel.fields);
  EXPECT_EQ(mac.FixedData, "01");
  EXPECT_EQ(mac.FixedDataLen, 1);
  panel.Select(0x15, true);
  mac = GetCtrlItem(panel.fields);
  EXPECT_EQ(mac.FixedData, "0101");
  EXPECT_EQ(mac.FixedDataLen, 2);
  panel.Select(0x15, false);
  EXPECT_TRUE(GetCtrlItem(panel.fields).FixedData.empty());

  for (int index : {-1, 14, 99}) {
    panel.fields.CtrlIndex = index;
    EXPECT_TRUE(GetCtrlItem(panel.fields).Name.empty());
    TDltFrame frame;
    frame.CmdName = "untouched";
    EXPECT_FALSE(panel.Build(frame));
    EXPECT_EQ(panel.why, bfNoCtrlCode);
    EXPECT_EQ(frame.CmdName, "untouched");
  }
  for (const char* bad : {"", "11H", "name-ZZH", "name-20H"}) EXPECT_TRUE(CtrlItemFor(bad).Name.empty()) << bad;
}

TEST(ComposeApply, FieldsFollowTheCommand) {
  TPanel panel;
  panel.fields.edtID.Text = "12";
  panel.fields.edtData.Text = "123";
  panel.fields.edtDS.Hint = "old hint";

  panel.Select(0x08);
  TDltFrame frame;
  panel.Build(frame);
  EXPECT_EQ(panel.fields.edtID.Text, "999999999999");
  EXPECT_FALSE(panel.fields.edtDS.Enabled);
  EXPECT_FALSE(panel.fields.bbtDSEnabled);
  EXPECT_TRUE(panel.fields.edtDS.Hint.empty());
  EXPECT_TRUE(panel.fields.bbtRTEnabled);
  EXPECT_TRUE(panel.fields.edtData.Enabled);
  EXPECT_EQ(panel.fields.edtData.MaxLength, 12);
  EXPECT_EQ(panel.fields.edtData.Text, "123");
  EXPECT_FALSE(panel.fields.edtLen.Enabled);

  panel.Select(0x13);
  panel.Build(frame);
  EXPECT_EQ(panel.fields.edtID.Text, "AAAAAAAAAAAA");
  EXPECT_FALSE(panel.fields.edtData.Enabled);
  EXPECT_TRUE(panel.fields.edtData.Text.empty());
  EXPECT_FALSE(panel.fields.bbtRTEnabled);

  panel.Select(0x12);
  panel.Build(frame);
  EXPECT_EQ(panel.fields.edtData.MaxLength, 3);
  EXPECT_TRUE(panel.fields.edtDS.Enabled);
  panel.Select(0x16);
  panel.Build(frame);
  EXPECT_EQ(panel.fields.edtData.MaxLength, 8);
  panel.Select(0x17);
  panel.Build(frame);
  EXPECT_EQ(panel.fields.edtData.MaxLength, 5);
  panel.Select(0x18);
  panel.Build(frame);
  EXPECT_EQ(panel.fields.edtData.MaxLength, 8);
  EXPECT_TRUE(panel.fields.edtDS.Enabled);
  for (int code : {0x19, 0x1A, 0x1B}) {
    panel.fields.edtData.Text = "55";
    panel.Select(code);
    panel.Build(frame);
    EXPECT_FALSE(panel.fields.edtData.Enabled);
    EXPECT_TRUE(panel.fields.edtData.Text.empty());
  }
}

TEST(ComposeApply, WriteDataLengthComesFromCatalogueOrLengthField) {
  TPanel panel;
  panel.fields.edtID.Text = "1";
  panel.Select(0x14);
  panel.fields.edtLen.Text = "9";
  panel.fields.edtData.Text = "1";
  panel.TypeDI("0401000");  // 7 characters
  TDltFrame frame;
  EXPECT_FALSE(panel.Build(frame));
  EXPECT_EQ(panel.why, bfNoIdentifier);
  EXPECT_TRUE(panel.fields.edtLen.Text.empty());
  EXPECT_FALSE(panel.fields.edtLen.Enabled);
  EXPECT_FALSE(panel.fields.edtData.Enabled);
  EXPECT_TRUE(panel.fields.edtData.Text.empty());

  // A catalogue identifier: its length rules, a longer text is cut.
  panel.TypeDI("04000101");
  ASSERT_TRUE(panel.cur.Found);
  panel.fields.edtData.Text = "1234567890";
  panel.Build(frame);
  EXPECT_FALSE(panel.fields.edtLen.Enabled);
  EXPECT_TRUE(panel.fields.edtData.Enabled);
  EXPECT_EQ(panel.fields.edtData.MaxLength, 8);
  EXPECT_EQ(panel.fields.edtData.Text, "12345678");

  // An identifier outside the catalogue: the typed length rules; none switches the data off.
  panel.TypeDI("04FF0001");
  EXPECT_FALSE(panel.cur.Found);
  panel.fields.edtLen.Text = "";
  panel.Build(frame);
  EXPECT_TRUE(panel.fields.edtLen.Enabled);
  EXPECT_FALSE(panel.fields.edtData.Enabled);
  EXPECT_EQ(frame.DataLen, 12);  // DI, password, operator code
  panel.fields.edtLen.Text = "2";
  panel.fields.edtData.Text = "123456";
  panel.Build(frame);
  EXPECT_EQ(panel.fields.edtData.MaxLength, 4);
  EXPECT_EQ(panel.fields.edtData.Text, "1234");

  // Moving on to 15H leaves the length field as it was.
  panel.Select(0x15);
  panel.Build(frame);
  EXPECT_TRUE(panel.fields.edtLen.Enabled);
  EXPECT_FALSE(panel.fields.edtDS.Enabled);
  EXPECT_TRUE(panel.fields.edtDS.Text.empty());
}

TEST(ComposeApply, ReadParametersOfLoadRecords) {
  TPanel panel;
  panel.fields.edtID.Text = "1";
  panel.Select(0x11);
  panel.TypeDI("06010002");
  TDltFrame frame = Composed(panel);
  EXPECT_EQ(panel.fields.edtData.Text, "01");
  EXPECT_FALSE(panel.fields.edtData.Enabled);
  EXPECT_EQ(frame.DataField, "02000106" "01");
  EXPECT_EQ(Wire(frame), Expected("000000000001", 0x11, "0200010601"));

  panel.TypeDI("06010001");  // a given time: six bytes typed by the user
  panel.fields.edtData.Text = "2401021530";
  frame = Composed(panel);
  EXPECT_TRUE(panel.fields.edtData.Enabled);
  EXPECT_EQ(panel.fields.edtData.MaxLength, 12);
  EXPECT_EQ(frame.DataField, "01000106" "301502012400");

  panel.TypeDI("00010000");  // no parameters: the data field is off
  panel.fields.edtData.Text = "77";
  frame = Composed(panel);
  EXPECT_FALSE(panel.fields.edtData.Enabled);
  EXPECT_TRUE(panel.fields.edtData.Text.empty());
  EXPECT_EQ(frame.DataField, "00000100");
}

TEST(ComposeFrame, ReadDataToAMeter) {
  TPanel panel;
  panel.fields.edtID.Text = "1";
  panel.TypeDI("00010000");
  TDltFrame frame = Composed(panel);
  EXPECT_EQ(frame.Address, "000000000001");
  EXPECT_EQ(frame.DI, "00000100");
  EXPECT_EQ(frame.DataField, "00000100");
  EXPECT_EQ(frame.DataLen, 4);
  EXPECT_EQ(frame.TimeoutSec, 10);
  EXPECT_EQ(frame.RelayCount, 0);
  EXPECT_FALSE(frame.NoReply);
  EXPECT_FALSE(frame.ViaCollector);
  EXPECT_EQ(frame.CmdName, GetCtrlItem(panel.fields).Name);
  EXPECT_EQ(Wire(frame), "68 01 00 00 00 00 00 68 11 04 33 33 34 33 B3 16 ");
}

TEST(ComposeFrame, RelaysAndCollector) {
  TPanel panel;
  panel.fields.edtID.Text = "123456789012";
  panel.TypeDI("00010000");
  panel.Relays({"000000000011", "000000000022", "000000000033"});
  TDltFrame frame = Composed(panel);
  EXPECT_EQ(frame.Address, "000000000011");
  EXPECT_EQ(frame.RelayData, "220000000000" "330000000000" "129078563412");
  EXPECT_EQ(frame.RelayCount, 3);
  EXPECT_EQ(frame.TimeoutSec, 40);
  EXPECT_EQ(Wire(frame), Expected("000000000011", 0x71, "220000000000330000000000129078563412" "00000100"));

  // Through a collector: it replaces the meter at the end of the route; the meter goes last.
  panel.params.UseCollector = true;
  panel.params.Collector = "000000000099";
  frame = Composed(panel);
  EXPECT_TRUE(frame.ViaCollector);
  EXPECT_EQ(frame.Address, "000000000011");
  EXPECT_EQ(frame.RelayData, "220000000000" "330000000000" "990000000000");
  EXPECT_EQ(frame.DataField, "220000000000330000000000990000000000" "00000100" "129078563412");
  EXPECT_EQ(Wire(frame), Expected("000000000011", 0x71, frame.DataField));

  // Collector without relays.
  panel.route.SetEnabled(false);
  frame = Composed(panel);
  EXPECT_EQ(frame.Address, "000000000099");
  EXPECT_EQ(frame.DataField, "00000100" "129078563412");
  EXPECT_EQ(frame.TimeoutSec, 10);
  EXPECT_EQ(Wire(frame), Expected("000000000099", 0x11, "00000100129078563412"));

  // Reading and writing addresses ignore both the collector and the route.
  panel.route.SetEnabled(true);
  panel.Select(0x13);
  frame = Composed(panel);
  EXPECT_FALSE(frame.ViaCollector);
  EXPECT_EQ(frame.RelayCount, 0);
  EXPECT_EQ(Wire(frame), Expected("AAAAAAAAAAAA", 0x13, ""));
  panel.Select(0x15);
  panel.fields.edtData.Text = "1";
  frame = Composed(panel);
  EXPECT_FALSE(frame.ViaCollector);
  EXPECT_EQ(Wire(frame), Expected("AAAAAAAAAAAA", 0x15, "010000000000"));
}

TEST(ComposeFrame, UnusableRelayOrCollectorAddresses) {
  TPanel panel;
  panel.fields.edtID.Text = "1";
  panel.TypeDI("00010000");
  TDltFrame frame;

  // Short, not hex, longer than 12 (first or later entry), more than 7 relays: no frame.
  const std::vector<std::vector<std::string>> badRoutes = {
      {"000000000011", "12345"},         {"000000000011", "0000000000ZZ"},
      {"000000000011", "0000000000123"}, {"00000000001122", "000000000011"},
      std::vector<std::string>(8, "000000000011")};
  for (const auto& route : badRoutes) {
    panel.Relays(route);
    panel.why = bfNone;
    EXPECT_FALSE(panel.Build(frame)) << route.back();
    EXPECT_EQ(panel.why, bfBadRoute) << route.back();
  }

  // With relays an empty collector would drop a hop from the route: no frame.
  panel.Relays({"000000000011"});
  panel.params.UseCollector = true;
  panel.params.Collector = "";
  EXPECT_FALSE(panel.Build(frame));
  EXPECT_EQ(panel.why, bfBadCollector);
  // Without relays packing refuses the empty address.
  panel.route.SetEnabled(false);
  frame = Composed(panel);
  EXPECT_EQ(Wire(frame).rfind("error: ", 0), 0u);
}

TEST(ComposeFrame, WriteData) {
  TPanel panel;
  panel.fields.edtID.Text = "1";
  panel.Select(0x14);
  panel.TypeDI("04FF0001");
  panel.fields.edtLen.Text = "4";
  panel.fields.edtData.Text = "1234";
  TDltFrame frame = Composed(panel);
  EXPECT_EQ(frame.UserData, "34120000");
  EXPECT_EQ(frame.DataField, std::string("0100FF04") + Password + Operator + "34120000");
  EXPECT_EQ(frame.DataLen, 16);
  EXPECT_EQ(Wire(frame), Expected("000000000001", 0x14, frame.DataField));

  // A catalogue identifier: an odd text gets a leading 0.
  panel.TypeDI("04000101");
  panel.fields.edtData.Text = "1234567";
  frame = Composed(panel);
  EXPECT_EQ(frame.UserData, "67452301");
  EXPECT_EQ(Wire(frame), Expected("000000000001", 0x14, std::string("01010004") + Password + Operator + "67452301"));

  // The operator code goes in byte by byte as stored.
  panel.params.Operator = "\xB2\xE2" "A";
  frame = Composed(panel);
  EXPECT_EQ(frame.OperatorCode, "41E2B2");
}

TEST(ComposeFrame, WriteTariffTableReversesEachGroup) {
  TPanel panel;
  panel.fields.edtID.Text = "1";
  panel.Select(0x14);
  panel.TypeDI("04010001");
  ASSERT_EQ(panel.cur.DataLen, 42);
  panel.fields.edtData.Text = "000101120002";
  TDltFrame frame = Composed(panel);
  std::string table = "010100020012";
  for (int i = 0; i < 12; ++i) table += "000000";
  EXPECT_EQ(frame.UserData, table);
  EXPECT_EQ(frame.DataLen, 4 + 4 + 4 + 42);
  EXPECT_EQ(Wire(frame), Expected("000000000001", 0x14, std::string("01000104") + Password + Operator + table));

  // The second set's time-zone table too; other parameters are not regrouped.
  panel.TypeDI("04020000");
  panel.fields.edtData.Text = "123456";
  frame = Composed(panel);
  EXPECT_EQ(frame.UserData.substr(0, 12), "563412000000");
  panel.TypeDI("04000B01");
  panel.fields.edtData.Text = "0100";
  frame = Composed(panel);
  EXPECT_EQ(frame.UserData, "0001");
}

TEST(ComposeFrame, SequenceBaudFreezeAndBroadcast) {
  TPanel panel;
  panel.fields.edtID.Text = "1";
  panel.Select(0x12);
  panel.TypeDI("00010000");
  panel.fields.edtData.Text = "300";
  TDltFrame frame = Composed(panel);
  EXPECT_EQ(frame.UserData, "2C");
  EXPECT_EQ(Wire(frame), Expected("000000000001", 0x12, "000001002C"));
  panel.fields.edtData.Text = "";
  EXPECT_EQ(Composed(panel).UserData, "00");

  panel.Select(0x17);
  panel.fields.edtData.Text = "9600";
  frame = Composed(panel);
  EXPECT_EQ(frame.UserData, "20");
  EXPECT_EQ(Wire(frame), Expected("000000000001", 0x17, "20"));
  for (const char* bad : {"14400", "", "96OO", "9600000000000"}) {
    panel.fields.edtData.Text = bad;
    EXPECT_FALSE(panel.Build(frame)) << bad;
    EXPECT_EQ(panel.why, bfBadBaudRate);
  }

  panel.Select(0x16);
  panel.fields.edtData.Text = "12311200";
  frame = Composed(panel);
  EXPECT_FALSE(frame.NoReply);
  EXPECT_EQ(Wire(frame), Expected("000000000001", 0x16, "00123112"));
  panel.fields.edtID.Text = "999999999999";
  frame = Composed(panel);
  EXPECT_TRUE(frame.NoReply);

  panel.fields.edtID.Text = "5";
  panel.Select(0x08);
  panel.fields.edtData.Text = "240102030405";
  frame = Composed(panel);
  EXPECT_EQ(panel.fields.edtID.Text, "999999999999");
  EXPECT_TRUE(frame.NoReply);
  EXPECT_EQ(frame.DataLen, 6);
  EXPECT_EQ(frame.TimeoutSec, 10);
  EXPECT_EQ(Wire(frame), Expected("999999999999", 0x08, "050403020124"));
}

TEST(ComposeFrame, AddressesPasswordAndClearing) {
  TPanel panel;
  panel.fields.edtID.Text = "1";
  panel.Select(0x13, true);
  TDltFrame frame = Composed(panel);
  EXPECT_EQ(frame.DataField, "01");
  EXPECT_EQ(frame.DataLen, 1);
  EXPECT_EQ(Wire(frame), Expected("AAAAAAAAAAAA", 0x13, "01"));
  panel.Select(0x13, false);
  frame = Composed(panel);
  EXPECT_TRUE(frame.DataField.empty());
  EXPECT_EQ(frame.DataLen, 0);
  EXPECT_EQ(Wire(frame), "68 AA AA AA AA AA AA 68 13 00 DF 16 ");

  panel.Select(0x15, true);
  panel.fields.edtData.Text = "123456789012";
  frame = Composed(panel);
  EXPECT_EQ(Wire(frame), Expected("AAAAAAAAAAAA", 0x15, "0101" "129078563412"));

  panel.fields.edtID.Text = "1";
  panel.Select(0x18);
  panel.TypeDI("04000C01");
  panel.fields.edtData.Text = "02123456";
  frame = Composed(panel);
  EXPECT_EQ(Wire(frame), Expected("000000000001", 0x18, std::string("010C0004") + Password + "56341202"));

  panel.Select(0x19);
  EXPECT_EQ(Wire(Composed(panel)), Expected("000000000001", 0x19, std::string(Password) + Operator));
  panel.Select(0x1A);
  EXPECT_EQ(Wire(Composed(panel)), Expected("000000000001", 0x1A, std::string(Password) + Operator));
  panel.Select(0x1B);
  panel.TypeDI("03010000");
  EXPECT_EQ(Wire(Composed(panel)), Expected("000000000001", 0x1B, std::string(Password) + Operator + "00000103"));
}

TEST(ComposeIdentifier, TypedIdentifierFollowsTheCatalogue) {
  TPanel panel;
  panel.Select(0x14);
  panel.TypeDI("04000C01");
  EXPECT_TRUE(panel.cur.Found);
  EXPECT_EQ(panel.cur.DataLen, 4);
  EXPECT_FALSE(panel.fields.edtDS.Hint.empty());
  EXPECT_EQ(panel.fields.edtDS.Hint, panel.cur.Description);

  panel.Select(0x11);
  panel.TypeDI("04000C01");  // write-only: not for reading
  EXPECT_FALSE(panel.cur.Found);
  EXPECT_TRUE(panel.fields.edtDS.Hint.empty());
  EXPECT_EQ(panel.cur.Access, 0);

  panel.TypeDI("00010000");
  panel.TypeDI("0001000");  // 7 characters: only the DI changes
  EXPECT_EQ(panel.cur.DI, "0001000");
  EXPECT_TRUE(panel.cur.Found);
  EXPECT_TRUE(panel.fields.edtDS.Hint.empty());

  // A command without an identifier leaves everything as it was.
  panel.TypeDI("00010000");
  panel.Select(0x19);
  const std::string hint = panel.fields.edtDS.Hint;
  panel.TypeDI("04000101");
  EXPECT_EQ(panel.cur.DI, "00010000");
  EXPECT_EQ(panel.fields.edtDS.Hint, hint);
}

TEST(ComposePreview, PreambleInFrontOfTheFrame) {
  const uint8_t bytes[] = {0x68, 0x16};
  EXPECT_EQ(PreviewText(bytes, 2, true, "FE", 4), "FE FE FE FE 68 16 ");
  EXPECT_EQ(PreviewText(bytes, 2, false, "FE", 4), "68 16 ");
  EXPECT_EQ(PreviewText(bytes, 2, true, "FE", 0), "68 16 ");
  EXPECT_EQ(PreviewText(bytes, 2, true, "FE", -5), "68 16 ");
  EXPECT_EQ(PreviewText(nullptr, 7, true, "FE", 1), "FE ");
  const std::string huge = PreviewText(bytes, 2, true, "FE", 2000000000);
  EXPECT_EQ(huge.size(), 3u * MaxPreviewPreamble + 6);
  EXPECT_EQ(huge.substr(huge.size() - 9), "FE 68 16 ");
  // The byte the channel sends for a hand-edited LC; text that is no number stays as it is.
  EXPECT_EQ(PreviewText(bytes, 2, true, "fe", 2), "FE FE 68 16 ");
  EXPECT_EQ(PreviewText(bytes, 2, true, "E", 1), "0E 68 16 ");
  EXPECT_EQ(PreviewText(bytes, 2, true, "1FE", 1), "FE 68 16 ");
  EXPECT_EQ(PreviewText(bytes, 2, true, "ZZ", 1), "ZZ 68 16 ");
  std::string byte;
  EXPECT_FALSE(PreambleByteText("", byte));
  EXPECT_FALSE(PreambleByteText("123456789", byte));
}
