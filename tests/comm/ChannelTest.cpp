// The channel and its sending thread against a pseudo-terminal the test drives by hand: the
// command path's refusals, errors on the sending thread, Busy and the exchange lock, shutdown,
// every way an exchange ends and the one report it gives, frames that are not the answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "comm/Channel.h"
#include "comm/CommTestUtil.h"
#include "comm/SerialPort.h"
#include "protocol/Protocol.h"

namespace {
using Clock = std::chrono::steady_clock;

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Pty.Ok());
    std::string error;
    // Text transfer mode: frame replies are received all the same.
    ASSERT_EQ(Port.Open(Pty.SlavePath, "2400,E,8,1", 0, error), 0) << error;
    Channel = std::make_unique<TChannel>([this] {
      std::lock_guard<std::mutex> guard(Lock);
      return Preamble;
    });
    Channel->Init();
    Channel->SetControl(&Port);
    Channel->SetReplyHandler([this](const TKvFrame&, const TKvFrame&, const TFrameBody& body,
                                    const std::string&, int) {
      std::lock_guard<std::mutex> guard(Lock);
      Bodies.push_back(body);
      if (ThrowInHandler) throw std::runtime_error("display failed");
    });
    Channel->SetExchangeHandler([this](const TKvFrame& sent, int code, const std::string& message) {
      std::lock_guard<std::mutex> guard(Lock);
      Ends.emplace_back(code, message);
      Serials.push_back(sent.Serial);
    });
    Channel->SetStrayHandler([this](const TKvFrame& sent, const TKvFrame& frame, const TFrameBody& body,
                                    const std::string& reason) {
      std::lock_guard<std::mutex> guard(Lock);
      Strays.push_back({sent.Serial, frame.Serial, body.Data, reason});
    });
    Channel->Start();
  }
  size_t EndCount() {
    std::lock_guard<std::mutex> guard(Lock);
    return Ends.size();
  }
  std::pair<int, std::string> End(size_t i) {
    std::lock_guard<std::mutex> guard(Lock);
    return Ends.at(i);
  }
  int Send(const TDltFrame& f, uint64_t* serial = nullptr) {
    std::string message;
    return Channel->Send(f.Address, f, f.DataField, message, serial);
  }
  std::vector<uint64_t> EndSerials() {
    std::lock_guard<std::mutex> guard(Lock);
    return Serials;
  }

  TTestPty Pty;
  TSerialPort Port;
  TRecordingSink Sink;
  std::mutex Lock;
  std::vector<TFrameBody> Bodies;
  std::vector<std::pair<int, std::string>> Ends;
  std::vector<uint64_t> Serials;
  struct TStray {
    uint64_t SentSerial, FrameSerial;
    std::string Data, Reason;
  };
  std::vector<TStray> Strays;
  TPreamble Preamble;
  bool ThrowInHandler = false;
  std::unique_ptr<TChannel> Channel;  // last: stopped before the rest goes
};
}  // namespace

TEST_F(ChannelTest, RefusesCommandsWhenThePortIsClosedOrTheFrameCannotBePacked) {
  std::string message;
  TDltFrame bad = ReadCommand("00000100", 1);
  bad.Address = "12345";
  EXPECT_EQ(Channel->Send(bad.Address, bad, bad.DataField, message), 1);
  EXPECT_EQ(message.rfind("生成发送报文内容发生错误：", 0), 0u) << message;

  std::string error;
  Port.Close(error);
  TDltFrame f = ReadCommand("00000100", 1);
  EXPECT_EQ(Channel->Send(f.Address, f, f.DataField, message), 1);
  EXPECT_EQ(message, "串口未打开！");
  auto bytes = std::make_unique<uint8_t[]>(12);
  EXPECT_EQ(Channel->SendRaw(bytes, 12, f, message), 1);
  EXPECT_EQ(message, "串口未打开！");
  EXPECT_NE(bytes, nullptr) << "refused bytes stay with the caller";
  EXPECT_FALSE(Channel->Busy());
  EXPECT_EQ(EndCount(), 0u);
}

// While an exchange waits, the channel is busy and holds the exchange lock, so the command
// window cannot use the port; afterwards both are free again.
TEST_F(ChannelTest, BusyAndTheExchangeLockCoverTheWholeExchange) {
  TDltFrame f = ReadCommand("00000100", 5);
  ASSERT_EQ(Send(f), 0);
  EXPECT_TRUE(Channel->Busy());
  ASSERT_EQ(Pty.Read(16), Packed(f));
  EXPECT_TRUE(Channel->Busy());
  EXPECT_FALSE(Channel->ExchangeLock().try_lock());
  Pty.Write(MeterFrame(0x91, {0x00, 0x00, 0x01, 0x00, 0x12, 0x34}));
  ASSERT_TRUE(WaitUntil([&] { return EndCount() == 1; }));
  EXPECT_EQ(End(0).first, 0);
  ASSERT_TRUE(WaitUntil([&] { return !Channel->Busy(); }));
  ASSERT_TRUE(Channel->ExchangeLock().try_lock());
  Channel->ExchangeLock().unlock();
  std::lock_guard<std::mutex> guard(Lock);
  ASSERT_EQ(Bodies.size(), 1u);
  EXPECT_EQ(Bodies[0].Data, "000001001234");
}

// An error while handling a reply is caught on the sending thread and logged; the thread goes
// on and the next command gets its reply.
TEST_F(ChannelTest, AnErrorInTheReplyDisplayIsLoggedAndTheThreadGoesOn) {
  ThrowInHandler = true;
  TDltFrame f = ReadCommand("00000100", 5);
  ASSERT_EQ(Send(f), 0);
  ASSERT_EQ(Pty.Read(16).size(), 16u);
  Pty.Write(MeterFrame(0x91, {0x00, 0x00, 0x01, 0x00}));
  ASSERT_TRUE(WaitUntil([&] { return EndCount() == 1; }));
  auto logged = Sink.Find(ltException, "TFrameSendThread.Execute", "发送报文发生错误：");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].Text, "发送报文发生错误：display failed");
  EXPECT_EQ(End(0).first, crSendError);

  {
    std::lock_guard<std::mutex> guard(Lock);
    ThrowInHandler = false;
  }
  ASSERT_EQ(Send(f), 0);
  ASSERT_EQ(Pty.Read(16).size(), 16u);
  Pty.Write(MeterFrame(0x91, {0x00, 0x00, 0x01, 0x00}));
  ASSERT_TRUE(WaitUntil([&] { return EndCount() == 2; }));
  EXPECT_EQ(End(1).first, 0);
  std::lock_guard<std::mutex> guard(Lock);
  EXPECT_EQ(Bodies.size(), 2u);
}

TEST_F(ChannelTest, AFrameWhosePortIsTakenAwayEndsWithoutAReply) {
  Channel->SetControl(nullptr);
  TDltFrame f = ReadCommand("00000100", 1);
  EXPECT_EQ(Send(f), 1);  // refused at once
  Channel->SetControl(&Port);
  ASSERT_EQ(Send(f), 0);
  Channel->SetControl(nullptr);  // taken away before the thread reaches the frame, or not
  ASSERT_TRUE(WaitUntil([&] { return EndCount() == 1; }));
  EXPECT_NE(End(0).first, 0);
}

// Shutdown ends a wait in progress at once and joins the thread; a second call is harmless.
TEST_F(ChannelTest, ShutdownEndsAWaitInProgressPromptly) {
  TDltFrame f = ReadCommand("00000100", 30);
  ASSERT_EQ(Send(f), 0);
  ASSERT_EQ(Pty.Read(16).size(), 16u);
  auto t0 = Clock::now();
  Channel->Shutdown();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  EXPECT_LT(ms, 1000);  // not the 30 s timeout
  EXPECT_EQ(EndCount(), 1u);
  EXPECT_EQ(End(0).first, 3);
  EXPECT_EQ(Channel->SendThreadId(), 0);
  Channel->Shutdown();
}

// Each way an exchange ends without a shown reply gives one report with the channel's own text;
// a timeout and a stop are logged as type 4 with the sent frame.
TEST_F(ChannelTest, EachEndingIsReportedOnceWithItsText) {
  const TDltFrame silent = ReadCommand("00000100", 0);  // no reply wanted within 0 s
  uint64_t serial = 0;
  ASSERT_EQ(Send(silent, &serial), 0);
  ASSERT_TRUE(WaitUntil([&] { return EndCount() == 1; }));
  EXPECT_EQ(End(0), std::make_pair(2, std::string("等待数据回应超时！")));
  EXPECT_EQ(EndSerials().at(0), serial);
  const std::string sentHex = "68 01 00 00 00 00 00 68 11 04 33 33 34 33 B3 16 ";
  auto logged = Sink.Find(ltError, "TChannel.Transact", "");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].Text, "等待数据回应超时！" + sentHex);
  ASSERT_EQ(Pty.Read(16).size(), 16u);

  // An invalid reply: the frame check's finding follows the channel's text.
  ASSERT_EQ(Send(ReadCommand("00000100", 5)), 0);
  ASSERT_EQ(Pty.Read(16).size(), 16u);
  std::vector<uint8_t> bad = MeterFrame(0x91, {0x00, 0x01, 0x00, 0x00});
  bad[bad.size() - 2] ^= 0x01;
  Pty.Write(bad);
  ASSERT_TRUE(WaitUntil([&] { return EndCount() == 2; }));
  EXPECT_EQ(End(1), std::make_pair(5, std::string("收到无效数据报文：校验和错误")));

  // A preamble text that is not hexadecimal: nothing is written, a send error in Chinese.
  {
    std::lock_guard<std::mutex> guard(Lock);
    Preamble = TPreamble{true, "XY", 2};
  }
  ASSERT_EQ(Send(ReadCommand("00000100", 5)), 0);
  ASSERT_TRUE(WaitUntil([&] { return EndCount() == 3; }));
  EXPECT_EQ(End(2), std::make_pair(4, std::string("发送报文发生错误：前导字节“XY”不是有效的十六进制数")));
  EXPECT_TRUE(Pty.Read(1, 50).empty());
  std::vector<uint64_t> serials = EndSerials();
  EXPECT_EQ(serials, (std::vector<uint64_t>{serial, serial + 1, serial + 2}));
}

// A stop ends the wait in progress and every frame still queued: each reported once (code 3),
// the queued ones already when SetStopRequest returns; only the wait is logged.
TEST_F(ChannelTest, AStopReportsTheWaitAndEveryQueuedFrame) {
  uint64_t first = 0, last = 0;
  ASSERT_EQ(Send(ReadCommand("00000100", 10), &first), 0);
  ASSERT_EQ(Pty.Read(16).size(), 16u);
  ASSERT_EQ(Send(ReadCommand("00000200", 10)), 0);
  ASSERT_EQ(Send(ReadCommand("00000300", 10), &last), 0);
  Channel->SetStopRequest(true);
  EXPECT_GE(EndCount(), 2u) << "the queued frames are reported by the stop itself";
  ASSERT_TRUE(WaitUntil([&] { return EndCount() == 3; }));
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(End(i), std::make_pair(3, std::string("通信被中断！")));
  std::vector<uint64_t> serials = EndSerials();
  std::sort(serials.begin(), serials.end());
  EXPECT_EQ(serials, (std::vector<uint64_t>{first, first + 1, last}));
  auto logged = Sink.Find(ltError, "TChannel.Transact", "通信被中断！");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].Text, "通信被中断！68 01 00 00 00 00 00 68 11 04 33 33 34 33 B3 16 ");
}

// The port closed while a frame waits for its reply and another is queued: the wait ends as a
// send error, the queued frame with "串口未打开！".
TEST_F(ChannelTest, APortClosedMeanwhileEndsBothExchanges) {
  ASSERT_EQ(Send(ReadCommand("00000100", 10)), 0);
  ASSERT_EQ(Pty.Read(16).size(), 16u);
  ASSERT_EQ(Send(ReadCommand("00000200", 10)), 0);
  std::string error;
  Port.Close(error);
  ASSERT_TRUE(WaitUntil([&] { return EndCount() == 2; }));
  EXPECT_EQ(End(0).first, crSendError);
  EXPECT_EQ(End(0).second.rfind("发送报文发生错误：", 0), 0u) << End(0).second;
  EXPECT_EQ(End(1), std::make_pair(1, std::string("串口未打开！")));
}

// A frame that is not the answer (another identifier, another meter, the request's own echo)
// goes to the stray handler and is logged; the wait goes on and the answer behind it, in the
// same bytes, is shown. While the wait lasts WaitState names the exchange.
TEST_F(ChannelTest, FramesThatAreNotTheAnswerDoNotEndTheWait) {
  uint64_t serial = 0;
  const TDltFrame f = ReadCommand("00000100", 5);
  ASSERT_EQ(Send(f, &serial), 0);
  ASSERT_EQ(Pty.Read(16), Packed(f));
  uint64_t waiting = 0;
  double elapsed = -1, timeout = 0;
  ASSERT_TRUE(WaitUntil([&] { return Channel->WaitState(waiting, elapsed, timeout); }));
  EXPECT_EQ(waiting, serial);
  EXPECT_GE(elapsed, 0.0);
  EXPECT_EQ(timeout, 5.0);

  std::vector<uint8_t> other = MeterFrame(0x91, {0x00, 0x02, 0x00, 0x00, 0x11});  // 00000200
  Pty.Write(other);
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> guard(Lock);
    return Strays.size() == 1;
  }));
  EXPECT_EQ(EndCount(), 0u) << "the wait goes on";
  std::vector<uint8_t> foreign = MeterFrame(0x91, {0x00, 0x00, 0x01, 0x00, 0x22});
  foreign[1] = 0x02;  // meter 000000000002
  foreign[foreign.size() - 2] = static_cast<uint8_t>(foreign[foreign.size() - 2] + 1);
  std::vector<uint8_t> both = Packed(f);  // an echo of the request itself
  both.insert(both.end(), foreign.begin(), foreign.end());
  std::vector<uint8_t> answer = MeterFrame(0x91, {0x00, 0x00, 0x01, 0x00, 0x33});
  both.insert(both.end(), answer.begin(), answer.end());
  Pty.Write(both);
  ASSERT_TRUE(WaitUntil([&] { return EndCount() == 1; }));
  EXPECT_EQ(End(0), std::make_pair(0, std::string()));
  EXPECT_FALSE(Channel->WaitState(waiting, elapsed, timeout));
  std::lock_guard<std::mutex> guard(Lock);
  ASSERT_EQ(Bodies.size(), 1u);
  EXPECT_EQ(Bodies[0].Data, "0000010033");
  ASSERT_EQ(Strays.size(), 3u);
  EXPECT_EQ(Strays[0].Reason, "非本次请求的应答：数据标识不符");
  EXPECT_EQ(Strays[1].Reason, "非本次请求的应答：控制码不符");
  EXPECT_EQ(Strays[2].Reason, "非本次请求的应答：地址不符");
  for (const TStray& s : Strays) EXPECT_EQ(s.FrameSerial, serial);
  auto logged = Sink.Find(ltError, "TChannel.DoDealFrame", "非本次请求的应答：数据标识不符，报文：");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].Text, "非本次请求的应答：数据标识不符，报文：68 01 00 00 00 00 00 68 91 05 33 35 33 33 44 79 16 ");
}
