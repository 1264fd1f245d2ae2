// The virtual meter as a peer on its pseudo-terminal sees it: frames in, frames and text out.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "protocol/Catalog.h"
#include "sim/VirtualMeter.h"
#include "tests/sim/MeterPeer.h"

namespace {

const std::string Own = "000000000001";
const std::string PasswordWire = "15494026";  // 26404915 in wire order
const std::string OperatorWire = "4C495551";  // QUIL, last character first

class VirtualMeterTest : public ::testing::Test {
 protected:
  void StartMeter(TMeterOptions options = {}) {
    Meter = std::make_unique<TVirtualMeter>(options);
    std::string error;
    ASSERT_TRUE(Meter->Start(error)) << error;
    Peer = std::make_unique<TMeterPeer>(Meter->PortPath());
    ASSERT_TRUE(Peer->IsOpen());
  }
  void SetUp() override { StartMeter(); }

  // Sends one request and decodes the reply; fails the test when none comes.
  TFrameBody Ask(int ctrl, const std::string& dataHex, const std::string& address = Own, int relays = 0) {
    TFrameBody body;
    std::vector<uint8_t> request = PackRequest(address, ctrl, dataHex, relays);
    EXPECT_FALSE(request.empty());
    EXPECT_TRUE(Peer->Write(request));
    EXPECT_TRUE(Peer->ReadBody(body)) << "no valid reply to control " << ctrl << " data " << dataHex;
    return body;
  }
  bool SilentTo(int ctrl, const std::string& dataHex, const std::string& address = Own, int relays = 0) {
    Peer->Write(PackRequest(address, ctrl, dataHex, relays));
    return Peer->Silent(400);
  }
  TFrameBody Read(const std::string& di, const std::string& params = "") { return Ask(0x11, Wire(di) + params); }

  std::unique_ptr<TVirtualMeter> Meter;
  std::unique_ptr<TMeterPeer> Peer;
};

bool Valid(const std::vector<uint8_t>& frame) {
  std::string verdict;
  return !frame.empty() && TProtocol::CheckFrame(frame.data(), static_cast<int>(frame.size()), verdict) == 0;
}

// Length column of a catalogue row: " 4" -> 4, "42" -> 42, " x" -> -1.
int RowLength(const std::string& row) {
  std::string tail = row.substr(row.size() - 2);
  return tail[1] == 'x' ? -1 : std::atoi(tail.c_str());
}

TEST_F(VirtualMeterTest, EveryReadableCatalogueIdentifierAnswersWithItsLength) {
  int checked = 0;
  for (const TCatalogList& list : CatalogLists()) {
    for (const std::string& row : list.Rows) {
      if (IsSeparatorRow(row)) continue;
      std::string di = row.substr(0, 8);
      bool loadRecord = di.rfind("06", 0) == 0;
      TFrameBody body = Read(di, loadRecord ? "01" : "");
      SCOPED_TRACE(row);
      if (!RowAllowsRead(row)) {  // passwords are not disclosed
        EXPECT_EQ(body.Ctrl, 0xD1);
        EXPECT_EQ(body.Data, "04");
        continue;
      }
      ASSERT_TRUE(body.Normal);
      EXPECT_EQ(body.Dir, 1);
      EXPECT_EQ(body.FuncCode, 0x11);
      EXPECT_EQ(body.Address, Own);
      EXPECT_EQ(body.Data.substr(0, 8), Wire(di));
      int length = RowLength(row);
      if (length > 0 && !loadRecord) {
        EXPECT_TRUE(body.LastFrame);
        EXPECT_EQ(body.Len, 4 + length);
      } else {
        EXPECT_GT(body.Len, 4);
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 150);
}

TEST_F(VirtualMeterTest, ReadsGivePlausibleValues) {
  EXPECT_EQ(Read("00010000").Data, Wire("00010000") + Wire("00123456"));  // 1234.56 kWh
  EXPECT_EQ(Read("02010100").Data, Wire("02010100") + Wire("2200"));      // 220.0 V
  EXPECT_EQ(Read("04000401").Data, Wire("04000401") + Wire(Own));
  EXPECT_EQ(Read("04000103").Data, Wire("04000103") + "15");

  // The block is the items of the group, in order.
  std::string block = Read("0001FF00").Data.substr(8);
  std::string items;
  for (const char* di : {"00010000", "00010100", "00010200", "00010300", "00010400"})
    items += Read(di).Data.substr(8);
  EXPECT_EQ(block, items);
  EXPECT_EQ(block.size(), 40u);

  // The tariffs add up to the total.
  auto value = [&](const std::string& di) { return std::stol(Wire(Read(di).Data.substr(8))); };
  long total = value("00010000");
  EXPECT_EQ(total, 123456);
  EXPECT_EQ(value("00010100") + value("00010200") + value("00010300") + value("00010400"), total);

  // The clock is the real one.
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char date[16];
  std::strftime(date, sizeof date, "%y%m%d", &local);
  EXPECT_EQ(Wire(Read("04000101").Data.substr(8)).substr(0, 6), date);
}

TEST_F(VirtualMeterTest, UnknownIdentifierGivesNoRequestedData) {
  TFrameBody body = Read("04FF0001");
  EXPECT_EQ(body.Ctrl, 0xD1);
  EXPECT_FALSE(body.Normal);
  EXPECT_EQ(body.Data, "02");
}

TEST_F(VirtualMeterTest, AddressesTheMeterAnswers) {
  EXPECT_TRUE(SilentTo(0x11, Wire("00010000"), "000000000002"));
  EXPECT_TRUE(SilentTo(0x11, Wire("00010000"), "AAAAAAAAAAAA"));  // wildcard only reads the address

  TFrameBody address = Ask(0x13, "", "AAAAAAAAAAAA");
  EXPECT_EQ(address.Ctrl, 0x93);
  EXPECT_EQ(address.Address, Own);
  EXPECT_EQ(address.Data, Wire(Own));
  TFrameBody mac = Ask(0x13, "01", "AAAAAAAAAAAA");
  EXPECT_EQ(mac.Ctrl, 0x93);
  EXPECT_EQ(mac.Len, 6);

  // Broadcast time: no reply, but the clock follows it.
  EXPECT_TRUE(SilentTo(0x08, Wire("300102030405"), "999999999999"));  // 2030-01-02 03:04:05
  EXPECT_EQ(Wire(Read("04000101").Data.substr(8)).substr(0, 6), "300102");
  EXPECT_TRUE(SilentTo(0x16, Wire("99999999"), "999999999999"));
  EXPECT_EQ(Ask(0x16, Wire("01011200")).Ctrl, 0x96);

  // A frame with a wrong checksum is ignored.
  std::vector<uint8_t> bad = PackRequest(Own, 0x11, Wire("00010000"));
  bad[bad.size() - 2] ^= 0x01;
  Peer->Write(bad);
  EXPECT_TRUE(Peer->Silent(400));
  EXPECT_EQ(Meter->RepliesSent(), 4);
}

TEST_F(VirtualMeterTest, WritesCheckThePasswordAndAreReadBack) {
  auto write = [&](const std::string& di, const std::string& password, const std::string& data) {
    return Ask(0x14, Wire(di) + password + OperatorWire + data);
  };
  TFrameBody wrong = write("04000E03", "00000000", Wire("2500"));
  EXPECT_EQ(wrong.Ctrl, 0xD4);
  EXPECT_EQ(wrong.Data, "04");

  TFrameBody ok = write("04000E03", PasswordWire, Wire("2500"));
  EXPECT_EQ(ok.Ctrl, 0x94);
  EXPECT_EQ(ok.Len, 0);
  EXPECT_EQ(Read("04000E03").Data, Wire("04000E03") + Wire("2500"));

  EXPECT_EQ(write("02010100", PasswordWire, Wire("2300")).Data, "01");  // read only
  EXPECT_EQ(write("04FF0001", PasswordWire, Wire("2300")).Data, "02");  // unknown
  EXPECT_EQ(write("04000201", PasswordWire, "15").Data, "10");          // year zones
  EXPECT_EQ(write("04000203", PasswordWire, "15").Data, "20");          // day segments
  EXPECT_EQ(write("04000204", PasswordWire, "05").Data, "40");          // tariffs
  EXPECT_EQ(write("04000204", PasswordWire, "03").Ctrl, 0x94);

  // A day table: groups hhmmNN in wire order; a fifth tariff is refused.
  std::string table;
  for (int i = 0; i < 14; ++i) table += "020008";  // 08:00 tariff 02
  EXPECT_EQ(write("04010001", PasswordWire, table).Ctrl, 0x94);
  EXPECT_EQ(Read("04010001").Data.substr(8), table);
  table.replace(0, 2, "05");
  EXPECT_EQ(write("04010001", PasswordWire, table).Data, "40");
}

TEST_F(VirtualMeterTest, PasswordBaudAddressAndClearCommands) {
  EXPECT_EQ(Ask(0x17, "20").Ctrl, 0x97);
  EXPECT_EQ(Ask(0x17, "20").Data, "20");
  TFrameBody badBaud = Ask(0x17, "03");
  EXPECT_EQ(badBaud.Ctrl, 0xD7);
  EXPECT_EQ(badBaud.Data, "08");

  EXPECT_EQ(Ask(0x18, Wire("04000C03") + "00000000" + Wire("03123456")).Data, "04");
  TFrameBody changed = Ask(0x18, Wire("04000C03") + PasswordWire + Wire("03123456"));
  EXPECT_EQ(changed.Ctrl, 0x98);
  EXPECT_EQ(changed.Data, Wire("03123456"));
  EXPECT_EQ(Meter->Password(), "03123456");
  EXPECT_EQ(Ask(0x19, PasswordWire + OperatorWire).Data, "04");  // the old one no longer works
  EXPECT_EQ(Ask(0x19, Wire("03123456") + OperatorWire).Ctrl, 0x99);

  EXPECT_EQ(Ask(0x1A, Wire("03123456") + OperatorWire).Ctrl, 0x9A);
  EXPECT_EQ(Read("00010000").Data, Wire("00010000") + "00000000");  // the meter was cleared
  EXPECT_EQ(Ask(0x1B, Wire("03123456") + OperatorWire + "FFFFFFFF").Ctrl, 0x9B);
  EXPECT_EQ(Ask(0x1B, PasswordWire + OperatorWire + "FFFFFFFF").Ctrl, 0xDB);

  TFrameBody renamed = Ask(0x15, Wire("000000004711"), "AAAAAAAAAAAA");
  EXPECT_EQ(renamed.Ctrl, 0x95);
  EXPECT_EQ(renamed.Address, "000000004711");
  EXPECT_TRUE(SilentTo(0x11, Wire("00010000"), Own));
  EXPECT_EQ(Ask(0x11, Wire("04000401"), "000000004711").Data, Wire("04000401") + Wire("000000004711"));
}

TEST_F(VirtualMeterTest, LoadRecordsComeInFollowUpFrames) {
  TFrameBody first = Read("06000000", "01");
  EXPECT_EQ(first.Ctrl, 0xB1);
  EXPECT_FALSE(first.LastFrame);
  std::string record = first.Data.substr(8);
  TFrameBody next = Ask(0x12, Wire("06000000") + "01");
  EXPECT_EQ(next.Ctrl, 0x92);
  EXPECT_TRUE(next.LastFrame);
  EXPECT_EQ(next.Data.substr(0, 8), Wire("06000000"));
  EXPECT_EQ(next.Data.substr(next.Data.size() - 2), "01");  // the sequence number closes the data
  record += next.Data.substr(8, next.Data.size() - 10);
  ASSERT_GE(record.size(), 10u);
  EXPECT_EQ(record.substr(0, 4), "A0A0");
  EXPECT_EQ(record.substr(record.size() - 4), "E5E5");
  // The length byte counts the bytes from the time up to the last separator.
  EXPECT_EQ(std::stoi(record.substr(4, 2), nullptr, 16), static_cast<int>(record.size() / 2) - 6);

  // Four blocks: several follow-up frames, the last one without D5.
  TFrameBody head = Read("06000002", "04");
  EXPECT_EQ(head.Ctrl, 0xB1);
  int seq = 1;
  for (;; ++seq) {
    TFrameBody part = Ask(0x12, Wire("06000002") + (seq < 10 ? "0" : "") + std::to_string(seq));
    ASSERT_TRUE(part.Normal);
    if (part.LastFrame) break;
    EXPECT_EQ(part.Ctrl, 0xB2);
    ASSERT_LT(seq, 20);
  }
  EXPECT_GT(seq, 2);
  EXPECT_EQ(Ask(0x12, Wire("06000002") + "63").Ctrl, 0xD2);  // past the end
}

TEST_F(VirtualMeterTest, RelayAndCollectorAddressing) {
  // Relayed through 112233445566 and 223344556677 to this meter: control 71H, three addresses.
  std::string route = Wire("223344556677") + Wire(Own);
  TFrameBody relayed = Ask(0x11, route + Wire("00010000"), "112233445566", 2);
  EXPECT_EQ(relayed.Ctrl, 0x91);
  EXPECT_EQ(relayed.Address, Own);
  EXPECT_EQ(relayed.Data, Wire("00010000") + Wire("00123456"));
  EXPECT_TRUE(SilentTo(0x11, Wire("223344556677") + Wire("000000000002") + Wire("00010000"), "112233445566", 2));

  // Through the collector: the meter's address closes the request and the reply.
  TFrameBody collected = Ask(0x11, Wire("00010000") + Wire(Own), "000000009999");
  EXPECT_EQ(collected.Ctrl, 0x91);
  EXPECT_EQ(collected.Len, 14);
  EXPECT_EQ(collected.Data, Wire("00010000") + Wire("00123456") + Wire(Own));
  EXPECT_EQ(Ask(0x11, Wire("04FF0001") + Wire(Own), "000000009999").Data, "02" + Wire(Own));
  EXPECT_TRUE(SilentTo(0x11, Wire("00010000") + Wire("000000000002"), "000000009999"));

  // Relay to the collector, then to the meter.
  TFrameBody both = Ask(0x11, Wire("000000009999") + Wire("00010000") + Wire(Own), "112233445566", 1);
  EXPECT_EQ(both.Data, Wire("00010000") + Wire("00123456") + Wire(Own));
}

TEST_F(VirtualMeterTest, RepliesCarryThePreambleAndTheMeterRecordsWhatItReceived) {
  std::vector<uint8_t> request = {0xFE, 0xFE};
  std::vector<uint8_t> frame = PackRequest(Own, 0x11, Wire("00010000"));
  request.insert(request.end(), frame.begin(), frame.end());
  Peer->Write(request);
  std::vector<uint8_t> reply, raw;
  ASSERT_TRUE(Peer->ReadFrame(reply, &raw));
  EXPECT_EQ(raw.size(), reply.size() + 4);
  EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.begin() + 4), std::vector<uint8_t>(4, 0xFE));
  EXPECT_EQ(Meter->ReceivedBytes(), request);
  EXPECT_GE(Meter->LastReplyWritten().time_since_epoch().count(), 1);
  Meter->ClearReceived();
  EXPECT_TRUE(Meter->ReceivedBytes().empty());

  // A request that arrives in two pieces is put together.
  Peer->Write(std::vector<uint8_t>(frame.begin(), frame.begin() + 9));
  EXPECT_TRUE(Peer->Silent(50));
  Peer->Write(std::vector<uint8_t>(frame.begin() + 9, frame.end()));
  TFrameBody body;
  EXPECT_TRUE(Peer->ReadBody(body));
  EXPECT_EQ(body.Ctrl, 0x91);

  Meter->WriteRaw({0x01, 0x02, 0x03});
  EXPECT_EQ(Peer->ReadCount(3), (std::vector<uint8_t>{0x01, 0x02, 0x03}));
}

TEST(VirtualMeterOptions, NoPreambleAndOwnAddress) {
  TMeterOptions options;
  options.PreambleCount = 0;
  options.Address = "123456789012";
  TVirtualMeter meter(options);
  std::string error;
  ASSERT_TRUE(meter.Start(error)) << error;
  TMeterPeer peer(meter.PortPath());
  peer.Write(PackRequest("123456789012", 0x11, Wire("04000401")));
  std::vector<uint8_t> reply, raw;
  ASSERT_TRUE(peer.ReadFrame(reply, &raw));
  EXPECT_EQ(raw, reply);
  EXPECT_EQ(reply[1], 0x12);  // A0 is the last two digits
  EXPECT_EQ(reply[6], 0x12);

  TMeterOptions bad;
  bad.Address = "99999999999X";
  TVirtualMeter broken(bad);
  EXPECT_FALSE(broken.Start(error));
  EXPECT_FALSE(error.empty());
}

class MeterFaultTest : public VirtualMeterTest {
 protected:
  // The bytes that arrive for one read of 00010000, and the frame among them.
  std::vector<uint8_t> RawReply(std::vector<uint8_t>& frame) {
    Peer->Write(PackRequest(Own, 0x11, Wire("00010000")));
    std::vector<uint8_t> raw;
    Peer->ReadFrame(frame, &raw);
    return raw;
  }
};

TEST_F(MeterFaultTest, DelayNoiseGarbageAndSilence) {
  Meter->SetFaults({.DelayMs = 300});
  auto sent = std::chrono::steady_clock::now();
  std::vector<uint8_t> frame;
  RawReply(frame);
  EXPECT_TRUE(Valid(frame));
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(300));

  Meter->SetFaults({.Noise = true});
  std::vector<uint8_t> raw = RawReply(frame);
  EXPECT_TRUE(Valid(frame));
  ASSERT_GT(raw.size(), frame.size() + 4);
  std::vector<uint8_t> noise(raw.begin(), raw.end() - static_cast<long>(frame.size() + 4));
  EXPECT_NE(std::find(noise.begin(), noise.end(), 0x68), noise.end());

  Meter->SetFaults({.GarbageBurstBytes = 50});
  raw = RawReply(frame);
  EXPECT_TRUE(Valid(frame));
  EXPECT_EQ(raw.size(), frame.size() + 4 + 50);
  EXPECT_EQ(std::find(raw.begin(), raw.begin() + 50, 0x68), raw.begin() + 50);

  int before = Meter->RepliesSent();
  Meter->SetFaults({.NoReply = true});
  EXPECT_TRUE(SilentTo(0x11, Wire("00010000")));
  EXPECT_EQ(Meter->RepliesSent(), before);

  Meter->SetFaults({.NoReply = true, .GarbageBurstBytes = 20});
  Peer->Write(PackRequest(Own, 0x11, Wire("00010000")));
  EXPECT_TRUE(Peer->Silent(300));
}

TEST_F(MeterFaultTest, BrokenRepliesAndSplitReplies) {
  std::vector<uint8_t> frame;
  Meter->SetFaults({.BadChecksum = true});
  RawReply(frame);
  ASSERT_FALSE(frame.empty());
  EXPECT_FALSE(Valid(frame));
  EXPECT_EQ(frame.back(), 0x16);

  Meter->SetFaults({.BadEndByte = true});
  RawReply(frame);
  ASSERT_FALSE(frame.empty());
  EXPECT_NE(frame.back(), 0x16);

  Meter->SetFaults({.SplitPieces = 3, .SplitPauseMs = 100});
  auto sent = std::chrono::steady_clock::now();
  Peer->Write(PackRequest(Own, 0x11, Wire("00010000")));
  std::vector<uint8_t> firstPiece = Peer->ReadCount(1);
  std::vector<uint8_t> rest = Peer->ReadQuiet(300);
  EXPECT_FALSE(firstPiece.empty());
  EXPECT_FALSE(rest.empty());  // the first piece came alone
  EXPECT_EQ(firstPiece.size() + rest.size(), 4u + 20u);
  // The last piece left the meter two pauses after the request.
  EXPECT_GE(Meter->LastReplyWritten() - sent, std::chrono::milliseconds(200));
}

// A meter one behind puts its previous reply on the line before the answer to the current
// request; a meter answering from another address carries that address in a valid frame.
TEST_F(MeterFaultTest, ALateMeterAndAReplyFromAnotherAddress) {
  Meter->SetFaults({.LateReply = true});
  std::vector<uint8_t> energy, late, voltage;
  std::vector<uint8_t> raw = RawReply(energy);
  EXPECT_EQ(raw.size(), energy.size() + 4) << "nothing comes before the first reply";
  Peer->Write(PackRequest(Own, 0x11, Wire("02010100")));
  ASSERT_TRUE(Peer->ReadFrame(late));
  ASSERT_TRUE(Peer->ReadFrame(voltage));
  EXPECT_EQ(late, energy);
  ASSERT_GE(voltage.size(), 14u);
  EXPECT_EQ(std::vector<uint8_t>(voltage.begin() + 10, voltage.begin() + 14),
            (std::vector<uint8_t>{0x33, 0x34, 0x34, 0x35}));  // 02010100 + 33H, wire order

  Meter->SetFaults({.ReplyFrom = "000000000002"});
  std::vector<uint8_t> frame;
  RawReply(frame);
  EXPECT_TRUE(Valid(frame));
  ASSERT_GE(frame.size(), 7u);
  EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 1, frame.begin() + 7),
            (std::vector<uint8_t>{0x02, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(VirtualMeterTest, TextLinesForTheCommandWindow) {
  Peer->Write(std::string("AT\r"));
  EXPECT_EQ(Peer->ReadQuiet(200), (std::vector<uint8_t>{'O', 'K', '\r', '\n'}));
  Peer->Write(std::string("AT+NOTHING\r"));
  std::vector<uint8_t> error = Peer->ReadQuiet(200);
  EXPECT_EQ(std::string(error.begin(), error.end()), "ERROR\r\n");
  Peer->Write(std::string("hello\r"));  // starts with 68H yet is text
  error = Peer->ReadQuiet(200, 2000);
  EXPECT_EQ(std::string(error.begin(), error.end()), "ERROR\r\n");

  Peer->Write(std::string("ATI\r"));
  std::vector<uint8_t> info = Peer->ReadQuiet(200);
  std::string text(info.begin(), info.end());
  EXPECT_NE(text.find("\r\nAddress: " + Own + "\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 4), "OK\r\n");

  // GBK text comes back byte for byte.
  std::string gbk = "AT+ECHO=\xB5\xE7\xC4\xDC\r";
  Peer->Write(gbk);
  std::vector<uint8_t> echo = Peer->ReadQuiet(200);
  EXPECT_EQ(std::string(echo.begin(), echo.end()), "\xB5\xE7\xC4\xDC\r\n");

  // A text line and a frame in one write: both are answered, in order.
  std::vector<uint8_t> mixed = {'A', 'T', '\r', 0xFE, 0xFE};
  std::vector<uint8_t> frame = PackRequest(Own, 0x11, Wire("02010100"));
  mixed.insert(mixed.end(), frame.begin(), frame.end());
  Peer->Write(mixed);
  std::vector<uint8_t> reply, raw;
  ASSERT_TRUE(Peer->ReadFrame(reply, &raw));
  EXPECT_EQ(std::string(raw.begin(), raw.begin() + 4), "OK\r\n");
  EXPECT_TRUE(Valid(reply));
}

TEST(VirtualMeterText, SlowCommandSaysPleaseWaitFirst) {
  TMeterOptions options;
  options.SlowCommandMs = 400;
  TVirtualMeter meter(options);
  std::string error;
  ASSERT_TRUE(meter.Start(error)) << error;
  TMeterPeer peer(meter.PortPath());
  peer.Write(std::string("AT+SLOW\r"));
  std::vector<uint8_t> first = peer.ReadQuiet(150, 1000);
  EXPECT_EQ(std::string(first.begin(), first.end()), "Please wait.....\r\n");
  std::vector<uint8_t> result = peer.ReadQuiet(150, 2000);
  EXPECT_EQ(std::string(result.begin(), result.end()), "SLOW DONE\r\nOK\r\n");
}

TEST(VirtualMeterLine, LinkFollowsTheMeterAndClosePeerEndsTheLine) {
  char folder[] = "/tmp/h5-meter-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  TMeterOptions options;
  options.LinkPath = std::string(folder) + "/meter-000000000001";
  {
    TVirtualMeter meter(options);
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    EXPECT_EQ(std::filesystem::read_symlink(options.LinkPath).string(), meter.PortPath());

    TMeterPeer peer(options.LinkPath);
    ASSERT_TRUE(peer.IsOpen());
    peer.Write(PackRequest(Own, 0x11, Wire("00010000")));
    TFrameBody body;
    EXPECT_TRUE(peer.ReadBody(body));

    meter.ClosePeer();
    uint8_t byte;
    errno = 0;
    ssize_t n = ::read(peer.Fd, &byte, 1);
    EXPECT_LE(n, 0);
    EXPECT_NE(errno, EAGAIN);
    meter.Stop();
    EXPECT_FALSE(std::filesystem::is_symlink(options.LinkPath));
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
