// The channel and its sending thread against a pseudo-terminal the test drives by hand: the
// command path's refusals, errors on the sending thread, Busy and the exchange lock, shutdown.
#include <gtest/gtest.h>

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
    Channel = std::make_unique<TChannel>([] { return TPreamble{}; });
    Channel->Init();
    Channel->SetControl(&Port);
    Channel->SetReplyHandler([this](const TKvFrame&, const TKvFrame&, const TFrameBody& body,
                                    const std::string&, int) {
      std::lock_guard<std::mutex> guard(Lock);
      Bodies.push_back(body);
      if (ThrowInHandler) throw std::runtime_error("display failed");
    });
    Channel->SetExchangeHandler([this](const TKvFrame&, int code, const std::string& message) {
      std::lock_guard<std::mutex> guard(Lock);
      Ends.emplace_back(code, message);
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
  int Send(const TDltFrame& f) {
    std::string message;
    return Channel->Send(f.Address, f, f.DataField, message);
  }

  TTestPty Pty;
  TSerialPort Port;
  TRecordingSink Sink;
  std::mutex Lock;
  std::vector<TFrameBody> Bodies;
  std::vector<std::pair<int, std::string>> Ends;
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
  EXPECT_EQ(End(0).first, 1);

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
