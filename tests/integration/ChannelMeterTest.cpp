// The real channel and sending thread through a pseudo-terminal against the virtual meter.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "comm/Channel.h"
#include "comm/CommTestUtil.h"
#include "comm/SerialPort.h"
#include "protocol/Protocol.h"
#include "sim/VirtualMeter.h"

namespace {
using Clock = std::chrono::steady_clock;

const char* const kVoltageA = "00010102";  // 02010100, wire order
const char* const kVoltageB = "00020102";  // 02010200

int64_t MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : bytes) {
    s += d[b >> 4];
    s += d[b & 15];
  }
  return s;
}

struct TEnd {
  int Code;
  std::string Message;
  Clock::time_point At;
};

class ChannelMeterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    Meter = std::make_unique<TVirtualMeter>(TMeterOptions{});
    ASSERT_TRUE(Meter->Start(error)) << error;
    ASSERT_EQ(Port.Open(Meter->PortPath(), "9600,E,8,1", 1, error), 0) << error;
    Channel = std::make_unique<TChannel>([this] {
      std::lock_guard<std::mutex> guard(Lock);
      return Preamble;
    });
    Channel->Init();
    Channel->SetControl(&Port);
    Channel->SetReplyHandler([this](const TKvFrame& sent, const TKvFrame& reply, const TFrameBody& body,
                                    const std::string&, int code) {
      std::lock_guard<std::mutex> guard(Lock);
      EXPECT_EQ(code, 0);
      Bodies.push_back(body);
      RoundTrips.push_back(reply.Tick - sent.Tick);
    });
    Channel->SetExchangeHandler([this](const TKvFrame&, int code, const std::string& message) {
      std::lock_guard<std::mutex> guard(Lock);
      Ends.push_back({code, message, Clock::now()});
    });
    Channel->SetStrayHandler([this](const TKvFrame&, const TKvFrame&, const TFrameBody& body, const std::string&) {
      std::lock_guard<std::mutex> guard(Lock);
      StrayBodies.push_back(body);
    });
    Channel->Start();
  }

  void SetPreamble(bool use, const std::string& lc, int count) {
    std::lock_guard<std::mutex> guard(Lock);
    Preamble = TPreamble{use, lc, count};
  }
  int Send(const TDltFrame& f) {
    std::string message;
    int code = Channel->Send(f.Address, f, f.DataField, message);
    EXPECT_EQ(message, code == 0 ? "" : message);
    return code;
  }
  bool WaitEnds(size_t n, int timeoutMs = 3000) {
    return WaitUntil([&] {
      std::lock_guard<std::mutex> guard(Lock);
      return Ends.size() >= n;
    }, timeoutMs);
  }
  TEnd End(size_t i) {
    std::lock_guard<std::mutex> guard(Lock);
    return Ends.at(i);
  }
  std::vector<TFrameBody> Replies() {
    std::lock_guard<std::mutex> guard(Lock);
    return Bodies;
  }
  bool MeterGot(size_t bytes, int timeoutMs = 2000) {
    return WaitUntil([&] { return Meter->ReceivedBytes().size() >= bytes; }, timeoutMs);
  }

  TRecordingSink Sink;
  std::unique_ptr<TVirtualMeter> Meter;
  TSerialPort Port;
  std::mutex Lock;
  TPreamble Preamble;
  std::vector<TFrameBody> Bodies;
  std::vector<TFrameBody> StrayBodies;
  std::vector<uint32_t> RoundTrips;
  std::vector<TEnd> Ends;
  std::unique_ptr<TChannel> Channel;  // last: its thread stops before the rest goes
};
}  // namespace

// A composed read goes out behind four FEH, the meter's reply (itself behind FEH) is decoded and
// handed to the display, and both frames are logged without their preambles.
TEST_F(ChannelMeterTest, AReadIsAnsweredDecodedAndLogged) {
  SetPreamble(true, "FE", 4);
  TDltFrame f = ReadCommand(kVoltageA, 5);
  ASSERT_EQ(Send(f), 0);
  ASSERT_TRUE(WaitEnds(1));
  EXPECT_EQ(End(0).Code, 0);
  auto bodies = Replies();
  ASSERT_EQ(bodies.size(), 1u);
  EXPECT_EQ(bodies[0].Address, "000000000001");
  EXPECT_EQ(bodies[0].FuncCode, 0x11);
  EXPECT_EQ(bodies[0].Dir, 1);
  EXPECT_TRUE(bodies[0].Normal);
  EXPECT_EQ(bodies[0].Data.rfind(kVoltageA, 0), 0u) << bodies[0].Data;
  EXPECT_LT(RoundTrips.at(0), 1000u);

  std::vector<uint8_t> wire = Concat({0xFE, 0xFE, 0xFE, 0xFE}, Packed(f));
  EXPECT_EQ(Meter->ReceivedBytes(), wire);
  auto sent = Sink.Find(ltDebug, "TFrameSendThread.Execute", "发送报文：");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Text, "发送报文：" + Hex(Packed(f)));
  auto received = Sink.Find(ltDebug, "TFrameRecvThread.Execute", "接收报文：");
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].Text.rfind("接收报文：680100000000006891", 0), 0u) << received[0].Text;
}

// The preamble is read when the frame is sent: a typed frame goes out bare, and a change of the
// settings applies to the next frame. Frames that expect no reply go out back to back.
TEST_F(ChannelMeterTest, PreambleOnlyBeforeComposedFramesAndNoReplyFramesBackToBack) {
  SetPreamble(true, "FE", 4);
  TDltFrame typed = ReadCommand(kVoltageA, 10);
  typed.RawFrame = true;
  typed.NoReply = true;
  std::vector<uint8_t> typedBytes = Packed(typed);
  auto raw = std::make_unique<uint8_t[]>(typedBytes.size());
  std::copy(typedBytes.begin(), typedBytes.end(), raw.get());
  std::string message;
  ASSERT_EQ(Channel->SendRaw(raw, static_cast<int>(typedBytes.size()), typed, message), 0) << message;
  EXPECT_EQ(raw, nullptr);
  TDltFrame composed = ReadCommand(kVoltageB, 10);
  composed.NoReply = true;
  ASSERT_EQ(Send(composed), 0);
  ASSERT_TRUE(WaitEnds(2));
  EXPECT_EQ(End(0).Code, 0);
  EXPECT_EQ(End(1).Code, 0);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(End(1).At - End(0).At).count(), 500);

  std::vector<uint8_t> expected = Concat(typedBytes, Concat({0xFE, 0xFE, 0xFE, 0xFE}, Packed(composed)));
  ASSERT_TRUE(MeterGot(expected.size()));
  EXPECT_EQ(Meter->ReceivedBytes(), expected);

  Meter->ClearReceived();
  SetPreamble(false, "FE", 4);
  ASSERT_EQ(Send(composed), 0);
  ASSERT_TRUE(WaitEnds(3));
  ASSERT_TRUE(MeterGot(16));
  EXPECT_EQ(Meter->ReceivedBytes(), Packed(composed));
}

// A hand-edited settings file with an empty LC and a count: nothing reaches the line, the error
// is logged, and the thread serves the next command.
TEST_F(ChannelMeterTest, AnEmptyPreambleByteWritesNothingAndIsLogged) {
  SetPreamble(true, "", 3);
  ASSERT_EQ(Send(ReadCommand(kVoltageA, 5)), 0);
  ASSERT_TRUE(WaitEnds(1));
  EXPECT_EQ(End(0).Code, crSendError);
  EXPECT_EQ(End(0).Message, "发送报文发生错误：前导字节“”不是有效的十六进制数");
  auto logged = Sink.Find(ltException, "TFrameSendThread.Execute", "发送报文发生错误：");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].Text, End(0).Message);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(Meter->ReceivedBytes().empty());

  SetPreamble(true, "FE", 3);
  ASSERT_EQ(Send(ReadCommand(kVoltageA, 5)), 0);
  ASSERT_TRUE(WaitEnds(2));
  EXPECT_EQ(End(1).Code, 0);
  EXPECT_EQ(Replies().size(), 1u);
}

TEST_F(ChannelMeterTest, RepliesInPiecesAreAssembled) {
  TMeterFaults faults;
  faults.SplitPieces = 5;
  faults.SplitPauseMs = 45;  // more than one poll apart
  Meter->SetFaults(faults);
  ASSERT_EQ(Send(ReadCommand(kVoltageA, 5)), 0);
  ASSERT_TRUE(WaitEnds(1));
  EXPECT_EQ(End(0).Code, 0);
  ASSERT_EQ(Replies().size(), 1u);

  // A piece that ends right after the first 68H and the six address bytes.
  faults = TMeterFaults{};
  faults.NoReply = true;
  Meter->SetFaults(faults);
  Meter->ClearReceived();
  ASSERT_EQ(Send(ReadCommand(kVoltageA, 5)), 0);
  ASSERT_TRUE(MeterGot(16));
  std::vector<uint8_t> reply = MeterFrame(0x91, {0x00, 0x01, 0x01, 0x02, 0x00, 0x22});
  Meter->WriteRaw(Concat({0xFE, 0xFE}, std::vector<uint8_t>(reply.begin(), reply.begin() + 7)));
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  Meter->WriteRaw(std::vector<uint8_t>(reply.begin() + 7, reply.end()));
  ASSERT_TRUE(WaitEnds(2));
  EXPECT_EQ(End(1).Code, 0);
  auto bodies = Replies();
  ASSERT_EQ(bodies.size(), 2u);
  EXPECT_EQ(bodies[1].Data, "000101020022");
}

// Noise with a stray 68H and a candidate without its 16H precede the reply in one write: the
// reply is found in that same poll, not after a later one that never comes.
TEST_F(ChannelMeterTest, AReplyBehindNoiseIsFoundInTheSamePoll) {
  TMeterFaults faults;
  faults.NoReply = true;
  Meter->SetFaults(faults);
  ASSERT_EQ(Send(ReadCommand(kVoltageA, 2)), 0);
  ASSERT_TRUE(MeterGot(16));
  std::vector<uint8_t> badEnd = MeterFrame(0x91, {0x01, 0x02});
  badEnd.back() = 0x61;
  std::vector<uint8_t> noise = {0x00, 0x68, 0x12, 0x68, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE};
  std::vector<uint8_t> reply = MeterFrame(0x91, {0x00, 0x01, 0x01, 0x02, 0x00, 0x22});
  auto t0 = Clock::now();
  Meter->WriteRaw(Concat(Concat(noise, badEnd), reply));
  ASSERT_TRUE(WaitEnds(1));
  EXPECT_EQ(End(0).Code, 0);
  EXPECT_LT(MsSince(t0), 1500);  // well before the 2 s timeout: no further poll was needed
  ASSERT_EQ(Replies().size(), 1u);

  // The meter's own noise fault (noise, a pause, then the reply).
  faults = TMeterFaults{};
  faults.Noise = true;
  Meter->SetFaults(faults);
  ASSERT_EQ(Send(ReadCommand(kVoltageB, 2)), 0);
  ASSERT_TRUE(WaitEnds(2));
  EXPECT_EQ(End(1).Code, 0);
  EXPECT_EQ(Replies().size(), 2u);
}

// A wrong end byte leaves no frame (the wait times out); a wrong checksum is a frame that is
// logged as invalid, not shown, and ends the exchange with the reason.
TEST_F(ChannelMeterTest, BadEndByteTimesOutAndBadChecksumIsLoggedAsInvalid) {
  TMeterFaults faults;
  faults.BadEndByte = true;
  Meter->SetFaults(faults);
  auto t0 = Clock::now();
  ASSERT_EQ(Send(ReadCommand(kVoltageA, 1)), 0);
  ASSERT_TRUE(WaitEnds(1, 4000));
  EXPECT_EQ(End(0).Code, 2);
  EXPECT_EQ(End(0).Message, "等待数据回应超时！");
  int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(End(0).At - t0).count();
  EXPECT_GE(ms, 1000);
  EXPECT_LT(ms, 2000);

  faults = TMeterFaults{};
  faults.BadChecksum = true;
  Meter->SetFaults(faults);
  ASSERT_EQ(Send(ReadCommand(kVoltageA, 3)), 0);
  ASSERT_TRUE(WaitEnds(2));
  EXPECT_EQ(End(1).Code, crInvalidReply);
  EXPECT_EQ(End(1).Message, "收到无效数据报文：校验和错误");
  EXPECT_TRUE(Replies().empty());
  auto invalid = Sink.Find(ltError, "TChannel.DoDealFrame", "收到无效数据报文：");
  ASSERT_EQ(invalid.size(), 1u);
  EXPECT_EQ(invalid[0].Text.rfind("收到无效数据报文：68 01 00 00 00 00 00 68 91 ", 0), 0u) << invalid[0].Text;
  EXPECT_EQ(invalid[0].Text.back(), ' ');
}

// Stop while a reply is awaited: the wait ends with code 3 at once, the queued commands are
// dropped unsent (and reported, code 3 too), and the next command clears the stop.
TEST_F(ChannelMeterTest, StopEndsTheWaitDropsTheQueueAndTheNextCommandClearsIt) {
  TMeterFaults faults;
  faults.NoReply = true;
  Meter->SetFaults(faults);
  TDltFrame f = ReadCommand(kVoltageA, 10);
  ASSERT_EQ(Send(f), 0);
  ASSERT_EQ(Send(ReadCommand(kVoltageB, 10)), 0);
  ASSERT_EQ(Send(ReadCommand(kVoltageB, 10)), 0);
  ASSERT_TRUE(MeterGot(16));
  auto t0 = Clock::now();
  Channel->SetStopRequest(true);
  ASSERT_TRUE(WaitEnds(3));
  EXPECT_LT(MsSince(t0), 1000);  // not the 10 s timeout
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(End(i).Code, 3);
    EXPECT_EQ(End(i).Message, "通信被中断！");
  }
  EXPECT_TRUE(Channel->GetStopRequest());
  ASSERT_TRUE(WaitUntil([&] { return !Channel->Busy(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(Meter->ReceivedBytes(), Packed(f));

  Meter->SetFaults(TMeterFaults{});
  ASSERT_EQ(Send(ReadCommand(kVoltageB, 5)), 0);
  EXPECT_FALSE(Channel->GetStopRequest());
  ASSERT_TRUE(WaitEnds(4));
  EXPECT_EQ(End(3).Code, 0);
  ASSERT_EQ(Replies().size(), 1u);
  EXPECT_EQ(Replies()[0].Data.rfind(kVoltageB, 0), 0u);
}

// A reply that comes after its exchange timed out is thrown away by the next exchange.
TEST_F(ChannelMeterTest, ALateReplyIsDiscardedByTheNextExchange) {
  TMeterFaults faults;
  faults.DelayMs = 1300;
  Meter->SetFaults(faults);
  ASSERT_EQ(Send(ReadCommand(kVoltageA, 1)), 0);
  ASSERT_TRUE(WaitEnds(1, 4000));
  EXPECT_EQ(End(0).Code, 2);
  ASSERT_TRUE(WaitUntil([&] { return Meter->RepliesSent() == 1; }));
  Meter->SetFaults(TMeterFaults{});
  ASSERT_EQ(Send(ReadCommand(kVoltageB, 5)), 0);
  ASSERT_TRUE(WaitEnds(2));
  auto bodies = Replies();
  ASSERT_EQ(bodies.size(), 1u);
  EXPECT_EQ(bodies[0].Data.rfind(kVoltageB, 0), 0u) << bodies[0].Data;
}

// A meter one behind: before each answer comes its reply to the previous request. With two
// identifiers alternating, every answer shown is its own identifier's, every late reply is set
// aside as not the answer, and the wait goes on to the real answer.
TEST_F(ChannelMeterTest, ALateReplyIsNotTakenForTheAnswerThatFollowsIt) {
  TMeterFaults faults;
  faults.LateReply = true;
  Meter->SetFaults(faults);
  const char* order[] = {kVoltageA, kVoltageB, kVoltageA, kVoltageB};
  for (const char* di : order) ASSERT_EQ(Send(ReadCommand(di, 3)), 0);
  ASSERT_TRUE(WaitEnds(4, 15000));
  std::lock_guard<std::mutex> guard(Lock);
  ASSERT_EQ(Bodies.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Ends[i].Code, 0) << Ends[i].Message;
    EXPECT_EQ(Bodies[i].Data.substr(0, 8), order[i]) << "answer " << i;
  }
  ASSERT_EQ(StrayBodies.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(StrayBodies[i].Data.substr(0, 8), order[i]) << "late reply " << i;
}

// The device vanishes while a reply is awaited: the error is logged, the thread lives on, and
// once the port is opened again on a device the next command is answered.
TEST_F(ChannelMeterTest, APortThatVanishesMidExchangeIsLoggedAndTheThreadGoesOn) {
  TMeterFaults faults;
  faults.NoReply = true;
  Meter->SetFaults(faults);
  ASSERT_EQ(Send(ReadCommand(kVoltageA, 10)), 0);
  ASSERT_TRUE(MeterGot(16));
  auto t0 = Clock::now();
  Meter->ClosePeer();
  ASSERT_TRUE(WaitEnds(1));
  EXPECT_LT(MsSince(t0), 1000);
  EXPECT_EQ(End(0).Code, crSendError);
  auto logged = Sink.Find(ltException, "TFrameSendThread.Execute", "发送报文发生错误：");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].Text, End(0).Message);
  EXPECT_NE(logged[0].Text.find(Meter->PortPath()), std::string::npos) << logged[0].Text;

  std::string error;
  Port.Close(error);
  TVirtualMeter second{TMeterOptions{}};
  ASSERT_TRUE(second.Start(error)) << error;
  ASSERT_EQ(Port.Open(second.PortPath(), "9600,N,8,1", 1, error), 0) << error;
  ASSERT_EQ(Send(ReadCommand(kVoltageB, 5)), 0);
  ASSERT_TRUE(WaitEnds(2));
  EXPECT_EQ(End(1).Code, 0);
  EXPECT_EQ(Replies().size(), 1u);
  Port.Close(error);
}

// A mebibyte of garbage before the reply: nothing overflows, nothing hangs, the reply is found.
TEST_F(ChannelMeterTest, AMebibyteOfGarbageBeforeTheReply) {
  TMeterFaults faults;
  faults.GarbageBurstBytes = 1 << 20;
  Meter->SetFaults(faults);
  ASSERT_EQ(Send(ReadCommand(kVoltageA, 20)), 0);
  ASSERT_TRUE(WaitEnds(1, 20000));
  EXPECT_EQ(End(0).Code, 0);
  EXPECT_EQ(Replies().size(), 1u);
}

// While this process holds the meter's port, another process cannot open it.
TEST_F(ChannelMeterTest, ASecondProcessCannotOpenThePort) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TSerialPort other;
    std::string error;
    _exit(other.Open(Meter->PortPath(), "9600,N,8,1", 1, error) == 1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the second process opened the port";
}
