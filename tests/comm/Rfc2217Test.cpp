// The rfc2217:// link against a serial server of our own on 127.0.0.1: what goes on the wire
// while the line is set, data with FFH both ways, telnet commands among the data, and the
// servers that refuse, answer wrongly, stay silent or send what is not telnet.
#include <gtest/gtest.h>

#include "comm/PortLink.h"
#include "comm/Rfc2217Telnet.h"
#include "tests/comm/Rfc2217Peer.h"

namespace {

using TBytes = std::vector<uint8_t>;

bool Contains(const TBytes& hay, const TBytes& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

// Reads what the link hands over within `ms`.
TBytes ReadLink(TPortLink& link, size_t want, std::string& error, int ms = 2000) {
  TBytes got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (got.size() < want && std::chrono::steady_clock::now() < end) {
    if (link.WaitReadable(50, error) < 0) break;
    if (link.Read(64, got, error) < 0) break;
  }
  return got;
}

TEST(Rfc2217Test, TheLineIsSetOnTheServerAndDataCarriesFFBothWays) {
  TComPortPeer peer({});
  TPortLink link;
  const TOpenResult opened = link.Open(peer.Name(), "2400,E,8,1", 1);
  peer.Join();
  ASSERT_TRUE(opened.Opened()) << opened.Message;
  // The client asks for the serial port option, then sets 2400 baud (00 00 09 60), 8 data
  // bits, even parity (3) and one stop bit (1).
  EXPECT_TRUE(Contains(peer.Heard, {0xFF, 0xFB, 44}));
  EXPECT_EQ(peer.SetValue[1], (TBytes{0x00, 0x00, 0x09, 0x60}));
  EXPECT_EQ(peer.SetValue[2], TBytes{8});
  EXPECT_EQ(peer.SetValue[3], TBytes{3});
  EXPECT_EQ(peer.SetValue[4], TBytes{1});
  EXPECT_EQ(link.Describe().rfind(peer.Name(), 0), 0u) << link.Describe();

  std::string error;
  const TBytes frame = {0x68, 0xFF, 0x16};
  ASSERT_EQ(link.Write(frame.data(), 3, error), 0) << error;
  EXPECT_EQ(peer.Receive(4), (TBytes{0x68, 0xFF, 0xFF, 0x16}));

  // Data from the server with a NOP, an offer to echo and a modem state note among it.
  peer.Send({0x68, 0xFF, 0xF1, 0xFF, 0xFF, 0xFF, 0xFB, 0x01, 0x33, 0xFF, 0xFA, 44, 107, 0x30, 0xFF, 0xF0, 0x16});
  EXPECT_EQ(ReadLink(link, 4, error), (TBytes{0x68, 0xFF, 0x33, 0x16})) << error;
  EXPECT_EQ(peer.Receive(3), (TBytes{0xFF, 0xFE, 0x01}));  // echo declined
  EXPECT_FALSE(link.Lost());
}

TEST(Rfc2217Test, ServersThatDoNotTakeTheLineAreRefusedSayingWhy) {
  struct TCase {
    const char* Title;
    TPeerScript Script;
    const char* Query;
    TOpenRefusal Refusal;
    const char* Complaint;
  } cases[] = {
      {"refused", {0xFE, 0, {}}, "", TOpenRefusal::Unavailable, "服务器拒绝了RFC 2217串口设置"},
      {"refused as won't", {0xFC, 0, {}}, "", TOpenRefusal::Unavailable, "服务器拒绝了RFC 2217串口设置"},
      {"other baud", {0xFD, 4800, {}}, "", TOpenRefusal::Settings, "波特率2400（服务器回复4800）"},
      {"silent", {0, 0, {}}, "", TOpenRefusal::Unavailable, "秒内没有进行RFC 2217协商"},
      {"garbage", {0xFD, 0, {0xFF, 0x41}}, "", TOpenRefusal::Unavailable, "FFH后为41H"},
      {"endless option", {0xFD, 0, [] {
         TBytes b = {0xFF, 0xFA, 0x18};
         b.resize(400, 0x41);
         return b;
       }()}, "", TOpenRefusal::Unavailable, "子协商超过256字节"},
  };
  for (const TCase& c : cases) {
    TComPortPeer peer(c.Script);
    TPortLink link;
    const TOpenResult opened = link.Open(peer.Name(c.Query), "2400,E,8,1", 1);
    peer.Join();
    EXPECT_EQ(opened.Refusal, c.Refusal) << c.Title;
    EXPECT_NE(opened.Message.find(c.Complaint), std::string::npos) << c.Title << ": " << opened.Message;
    const size_t named = opened.Message.find(peer.Name());
    EXPECT_NE(named, std::string::npos) << opened.Message;
    EXPECT_EQ(opened.Message.find(peer.Name(), named + 1), std::string::npos) << "named once: " << opened.Message;
    EXPECT_EQ(opened.Message.find("！！"), std::string::npos) << opened.Message;
    EXPECT_FALSE(link.PortOpen()) << c.Title;
  }
}

TEST(Rfc2217Test, AskedForRawFallbackTheLinkGoesOnWithoutTheLineSettings) {
  struct TCase {
    int AnswerWill;
    TBytes OnTheWire;  // what 68 FF 16 becomes
  } cases[] = {
      {0xFE, {0x68, 0xFF, 0xFF, 0x16}},  // a telnet server that refused: still telnet
      {0, {0x68, 0xFF, 0x16}},           // no telnet at all: the bytes as they are
  };
  for (const TCase& c : cases) {
    TComPortPeer peer({c.AnswerWill, 0, {}});
    TPortLink link;
    const TOpenResult opened = link.Open(peer.Name("?fallback=raw"), "2400,E,8,1", 1);
    peer.Join();
    ASSERT_TRUE(opened.Opened()) << opened.Message;
    EXPECT_EQ(link.PortName(), peer.Name("?fallback=raw"));
    EXPECT_TRUE(peer.SetValue[1].empty());  // the line is left as the server has it
    std::string error;
    const TBytes frame = {0x68, 0xFF, 0x16};
    ASSERT_EQ(link.Write(frame.data(), 3, error), 0) << error;
    EXPECT_EQ(peer.Receive(c.OnTheWire.size()), c.OnTheWire);
  }
}

TEST(Rfc2217Test, NotTelnetAmongTheDataEndsTheLinkWithAMessage) {
  TComPortPeer peer({});
  TPortLink link;
  ASSERT_TRUE(link.Open(peer.Name(), "9600,N,8,1", 1).Opened());
  peer.Join();
  peer.Send({0x68, 0x16, 0xFF, 0x41, 0x99});
  std::string error;
  EXPECT_EQ(ReadLink(link, 3, error, 500), (TBytes{0x68, 0x16, 0x99}));  // the data that came
  EXPECT_EQ(link.WaitReadable(100, error), -1);
  EXPECT_EQ(error, "网络连接" + peer.Name() + "收到无效的telnet数据：FFH后为41H，不是telnet命令！");
  EXPECT_TRUE(link.Lost());
}

// A stream split anywhere (TCP delivers it in any pieces) reads as the same data and commands.
TEST(TelnetParserTest, ASplitStreamReadsAsAWholeOne) {
  const TBytes stream = {0x01, 0xFF, 0xFF, 0xFF, 0xFD, 0x00, 0x02, 0xFF, 0xFA, 44, 101, 0x00, 0xFF, 0xFF, 0x25,
                         0x80, 0xFF, 0xF0, 0x03, 0xFF, 0xF9};
  const TBytes data = {0x01, 0xFF, 0x02, 0x03};
  const std::vector<TTelnetCommand> commands = {{0xFD, 0x00, {}}, {0xFA, 44, {101, 0x00, 0xFF, 0x25, 0x80}}};
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    TTelnetParser parser;
    TBytes gotData;
    std::vector<TTelnetCommand> gotCommands;
    std::string error;
    EXPECT_TRUE(parser.Feed(stream.data(), cut, gotData, gotCommands, error));
    EXPECT_TRUE(parser.Feed(stream.data() + cut, stream.size() - cut, gotData, gotCommands, error));
    EXPECT_EQ(gotData, data) << cut;
    EXPECT_EQ(gotCommands, commands) << cut;
  }
}

}  // namespace
