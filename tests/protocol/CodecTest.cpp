// The frame codec as a meter on the other end of the line sees it: the bytes Pack puts on the
// wire, the frames CheckFrame lets through and what UnPack reads out of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <atomic>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "protocol/LogSink.h"
#include "protocol/Protocol.h"

namespace {
using Bytes = std::vector<uint8_t>;

const std::string kPackError = "生成发送报文内容发生错误：";
const std::string kValid = "合法帧";
const std::string kInvalid = "非法帧";
const std::string kUnPackError = "解析接收报文发生错误：";

TDltFrame Frame(int ctrl, int relays = 0) {
  TDltFrame f;
  f.CtrlCode = ctrl;
  f.RelayCount = relays;
  return f;
}

struct TPacked {
  int Code = -1;
  Bytes Frame;
  std::string Error;
  bool BufferHandedOut = false;
};

TPacked PackOf(const std::string& address, const TDltFrame& frame, const std::string& data) {
  TPacked r;
  std::unique_ptr<uint8_t[]> out;
  int len = -1;
  r.Code = TProtocol::Pack(address, frame, data, out, len, r.Error);
  r.BufferHandedOut = out != nullptr;
  if (out) r.Frame.assign(out.get(), out.get() + len);
  return r;
}

// A meter's reply: 68 A0..A5 68 C L data(+33H) CS 16.
Bytes Reply(uint8_t ctrl, const Bytes& data, const Bytes& addr = {1, 0, 0, 0, 0, 0}) {
  Bytes f{0x68};
  f.insert(f.end(), addr.begin(), addr.end());
  f.push_back(0x68);
  f.push_back(ctrl);
  f.push_back(static_cast<uint8_t>(data.size()));
  for (uint8_t d : data) f.push_back(static_cast<uint8_t>(d + 0x33));
  unsigned sum = 0;
  for (uint8_t b : f) sum += b;
  f.push_back(static_cast<uint8_t>(sum));
  f.push_back(0x16);
  return f;
}

std::string Spaced(const Bytes& f, int count) {
  std::string t;
  for (int i = 0; i < count; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X ", f[i]);
    t += b;
  }
  return t;
}

int Check(const Bytes& f, std::string* verdict = nullptr) {
  std::string v = "untouched";
  int rc = TProtocol::CheckFrame(f.data(), static_cast<int>(f.size()), v);
  if (verdict) *verdict = v;
  return rc;
}

class TRecordingSink : public TLogSink {
 public:
  struct TEntry {
    int Types;
    std::string Source, Text;
  };
  void WriteLog(int types, const std::string& source, const std::string& text) override {
    std::lock_guard<std::mutex> lock(Mutex);
    Entries.push_back({types, source, text});
  }
  int LogTypes() const override { return 31; }
  std::mutex Mutex;
  std::vector<TEntry> Entries;
};
}  // namespace

TEST(PackTest, ReadFrameMatchesTheWireExample) {
  TPacked p = PackOf("000000000001", Frame(0x11), "33333434");
  ASSERT_EQ(p.Code, 0) << p.Error;
  EXPECT_EQ(p.Error, "");
  EXPECT_EQ(p.Frame, (Bytes{0x68, 0x01, 0, 0, 0, 0, 0, 0x68, 0x11, 0x04, 0x66, 0x66, 0x67, 0x67, 0x80,
                            0x16}));
}

TEST(PackTest, AddressBytesGoOutLowestFirst) {
  TPacked p = PackOf("123456789ABC", Frame(0x11), "");
  ASSERT_EQ(p.Code, 0) << p.Error;
  ASSERT_EQ(p.Frame.size(), 12u);
  EXPECT_EQ(Bytes(p.Frame.begin() + 1, p.Frame.begin() + 7), (Bytes{0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(p.Frame[9], 0);
  // Lower-case digits and characters beyond the twelfth are accepted; only 12 are read.
  TPacked lower = PackOf("123456789abcXYZ", Frame(0x11), "");
  ASSERT_EQ(lower.Code, 0) << lower.Error;
  EXPECT_EQ(lower.Frame, p.Frame);
}

TEST(PackTest, DataTextQuirks) {
  struct TCase {
    const char* Data;
    Bytes Sent;  // the data bytes on the wire
  } cases[] = {
      {"", {}},
      {"3", {}},                  // odd last digit ignored
      {"33343", {0x66, 0x67}},    // ditto
      {"GZ", {0x33}},             // not hexadecimal: 00 + 33H
      {"0GFF", {0x33, 0x32}},     // FF + 33H wraps to 32H
      {"cd", {0x00}},             // CDH + 33H = 100H
      {" 1", {0x33}},             // a blank is no digit
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Data);
    TPacked p = PackOf("000000000001", Frame(0x14), c.Data);
    ASSERT_EQ(p.Code, 0) << p.Error;
    ASSERT_EQ(p.Frame.size(), c.Sent.size() + 12);
    EXPECT_EQ(p.Frame[9], c.Sent.size());
    EXPECT_EQ(Bytes(p.Frame.begin() + 10, p.Frame.end() - 2), c.Sent);
    EXPECT_EQ(Check(p.Frame), 0) << "a packed frame must pass our own check";
  }
}

TEST(PackTest, RelayCountGoesIntoTheTopBits) {
  struct TCase {
    int Ctrl, Relays;
    uint8_t Byte;
  } cases[] = {{0x11, 0, 0x11}, {0x11, 2, 0x51}, {0x11, 3, 0x71}, {0x11, 7, 0xF1},
               {0x11, 8, 0x11}, {0x14, 1, 0x34}, {0x08, 0, 0x08}, {0x1F, 7, 0xFF}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Relays);
    TPacked p = PackOf("000000000001", Frame(c.Ctrl, c.Relays), "");
    ASSERT_EQ(p.Code, 0);
    EXPECT_EQ(p.Frame[8], c.Byte);
  }
}

TEST(PackTest, BadAddressesFailWithTheConversionMessage) {
  struct TCase {
    const char* Address;
    const char* Message;  // after the fixed prefix
  } cases[] = {
      {"", "'$' is not a valid integer value"},
      {"0000000001", "'$' is not a valid integer value"},        // 10 characters
      {"00000000000G", "'$0G' is not a valid integer value"},
      {"GG0000000001", "'$GG' is not a valid integer value"},
      {"0000 0000001", "'$ 0' is not a valid integer value"},
      {"00000-000001", "'$0-' is not a valid integer value"},
      {"00000$000001", "'$0$' is not a valid integer value"},
      // A0 is converted first, so the last pair's fault is the one reported.
      {"GG000000000Z", "'$0Z' is not a valid integer value"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Address);
    TPacked p = PackOf(c.Address, Frame(0x11), "33");
    EXPECT_EQ(p.Code, 1);
    EXPECT_EQ(p.Error, kPackError + c.Message);
    EXPECT_FALSE(p.BufferHandedOut);
  }
}

TEST(PackTest, ShortAddressWithOneDigitLastPairIsAccepted) {
  // Eleven characters: the last pair is the single digit "1", a valid number.
  TPacked p = PackOf("00000000001", Frame(0x11), "");
  ASSERT_EQ(p.Code, 0) << p.Error;
  EXPECT_EQ(p.Frame[1], 0x01);
  EXPECT_EQ(p.Frame[2], 0x00);
}

TEST(PackTest, DataLongerThanTheLengthByteIsRefused) {
  TPacked limit = PackOf("000000000001", Frame(0x14), std::string(510, '1'));
  ASSERT_EQ(limit.Code, 0) << limit.Error;
  EXPECT_EQ(limit.Frame.size(), 255u + 12);
  EXPECT_EQ(limit.Frame[9], 0xFF);
  EXPECT_EQ(Check(limit.Frame), 0);

  TPacked over = PackOf("000000000001", Frame(0x14), std::string(512, '1'));
  EXPECT_EQ(over.Code, 1);
  EXPECT_EQ(over.Error.rfind(kPackError, 0), 0u) << over.Error;
  EXPECT_NE(over.Error.find("256"), std::string::npos) << over.Error;
  EXPECT_FALSE(over.BufferHandedOut);
  // 511 digits are still 255 bytes.
  EXPECT_EQ(PackOf("000000000001", Frame(0x14), std::string(511, '1')).Code, 0);
}

TEST(PackTest, FailureClearsWhatTheCallerPassedIn) {
  std::unique_ptr<uint8_t[]> out(new uint8_t[4]);
  int len = 4;
  std::string error = "stale";
  EXPECT_EQ(TProtocol::Pack("", Frame(0x11), "", out, len, error), 1);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(len, 0);
  error = "stale";
  EXPECT_EQ(TProtocol::Pack("000000000001", Frame(0x11), "", out, len, error), 0);
  EXPECT_EQ(error, "");
  EXPECT_EQ(len, 12);
}

TEST(CheckSumTest, SumsTheRangeModulo256) {
  const uint8_t bytes[] = {0xFF, 0x02, 0x03, 0x80, 0x80};
  EXPECT_EQ(TProtocol::CheckSum(bytes, 0, 2), 0x01);
  EXPECT_EQ(TProtocol::CheckSum(bytes, 1, 2), 0x05);
  EXPECT_EQ(TProtocol::CheckSum(bytes, 3, 2), 0x00);
  EXPECT_EQ(TProtocol::CheckSum(bytes, 0, 0), 0);
  EXPECT_EQ(TProtocol::CheckSum(bytes, 0, -3), 0);
  EXPECT_EQ(TProtocol::CheckSum(nullptr, 0, 5), 0);
}

TEST(CheckFrameTest, AcceptsWellFormedFrames) {
  std::string verdict;
  EXPECT_EQ(Check(Reply(0x91, {}), &verdict), 0);  // 12 bytes, L = 0
  EXPECT_EQ(verdict, kValid);
  EXPECT_EQ(Check(Reply(0x91, Bytes(255, 0x42)), &verdict), 0);
  EXPECT_EQ(verdict, kValid);
}

TEST(CheckFrameTest, RejectsEveryKindOfDamage) {
  const Bytes good = Reply(0x91, {0x00, 0x01, 0x00, 0x00});
  struct TCase {
    const char* What;
    Bytes Frame;
  };
  std::vector<TCase> cases;
  auto damaged = [&](const char* what, int index, uint8_t value) {
    Bytes f = good;
    f[index] = value;
    cases.push_back({what, f});
  };
  damaged("first byte not 68H", 0, 0x69);
  damaged("second 68H missing", 7, 0x00);
  damaged("L one more than the data", 9, 5);
  damaged("L one less than the data", 9, 3);
  damaged("wrong checksum", static_cast<int>(good.size()) - 2, good[good.size() - 2] ^ 1);
  damaged("last byte not 16H", static_cast<int>(good.size()) - 1, 0x17);
  damaged("data byte changed", 10, 0x00);
  cases.push_back({"one byte missing", Bytes(good.begin(), good.end() - 1)});
  cases.push_back({"one byte extra", [&] { Bytes f = good; f.push_back(0x16); return f; }()});
  cases.push_back({"eleven bytes", Bytes(good.begin(), good.begin() + 11)});
  cases.push_back({"empty", {}});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    std::string verdict;
    EXPECT_EQ(Check(c.Frame, &verdict), 1);
    EXPECT_EQ(verdict, kInvalid);
  }
  std::string verdict;
  EXPECT_EQ(TProtocol::CheckFrame(nullptr, 16, verdict), 1);
  EXPECT_EQ(verdict, kInvalid);
  EXPECT_EQ(TProtocol::CheckFrame(good.data(), -1, verdict), 1);
}

TEST(UnPackTest, DecodesAReadReply) {
  const Bytes f = Reply(0x91, {0x00, 0x01, 0x00, 0x00, 0x34, 0x12, 0x00, 0x00},
                        {0x21, 0x43, 0x65, 0x87, 0x09, 0x00});
  ASSERT_EQ(Check(f), 0);
  TFrameBody body;
  std::string error = "stale";
  ASSERT_EQ(TProtocol::UnPack(f.data(), static_cast<int>(f.size()), body, error), 0);
  EXPECT_EQ(error, "");
  EXPECT_EQ(body.Address, "000987654321");
  EXPECT_EQ(body.Ctrl, 0x91);
  EXPECT_EQ(body.Len, 8);
  EXPECT_EQ(body.Data, "0001000034120000");
  EXPECT_EQ(body.FrameText.size(), f.size() * 3);
  EXPECT_EQ(body.FrameText.substr(0, 24), "68 21 43 65 87 09 00 68 ");
  EXPECT_EQ(body.FrameText.substr(body.FrameText.size() - 3), "16 ");
}

TEST(UnPackTest, DataBytesLoseTheirOffset) {
  struct TCase {
    Bytes Wire;  // as received, offset included
    const char* Data;
  } cases[] = {{{0x33, 0x34}, "0001"}, {{0x00}, "CD"}, {{0x32}, "FF"}, {{}, ""}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Data);
    Bytes plain;
    for (uint8_t b : c.Wire) plain.push_back(static_cast<uint8_t>(b - 0x33));
    const Bytes f = Reply(0x91, plain);
    TFrameBody body;
    std::string error;
    ASSERT_EQ(TProtocol::UnPack(f.data(), static_cast<int>(f.size()), body, error), 0);
    EXPECT_EQ(body.Data, c.Data);
    EXPECT_EQ(body.Len, static_cast<int>(c.Wire.size()));
  }
  const Bytes twelve = Reply(0x91, {});
  TFrameBody body;
  std::string error;
  ASSERT_EQ(TProtocol::UnPack(twelve.data(), 12, body, error), 0);
  EXPECT_EQ(body.FrameText.size(), 36u);
  EXPECT_EQ(body.FrameText.back(), ' ');
}

TEST(UnPackTest, ControlByteBits) {
  struct TCase {
    uint8_t Ctrl;
    int Dir;
    bool Normal, LastFrame;
    int Func;
  } cases[] = {{0x91, 1, true, true, 0x11},   {0xD1, 1, false, true, 0x11},
               {0xB1, 1, true, false, 0x11},  {0xF4, 1, false, false, 0x14},
               {0x11, 0, true, true, 0x11},   {0x71, 0, false, false, 0x11},
               {0x00, 0, true, true, 0x00},   {0xFF, 1, false, false, 0x1F}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Ctrl));
    const Bytes f = Reply(c.Ctrl, {0x02});
    TFrameBody body;
    std::string error;
    ASSERT_EQ(TProtocol::UnPack(f.data(), static_cast<int>(f.size()), body, error), 0);
    EXPECT_EQ(body.Ctrl, c.Ctrl);
    EXPECT_EQ(body.Dir, c.Dir);
    EXPECT_EQ(body.Normal, c.Normal);
    EXPECT_EQ(body.LastFrame, c.LastFrame);
    EXPECT_EQ(body.FuncCode, c.Func);
  }
}

TEST(UnPackTest, ShortBufferIsAFaultNotARead) {
  TRecordingSink sink;
  SetLogSink(&sink);
  // The L byte says 8 data bytes; every cut stays inside what was handed over (ASan checks the
  // reads: each cut is copied into a buffer of exactly its length).
  const Bytes full = Reply(0x91, Bytes(8, 0x11));
  struct TCase {
    int Len;
    bool HasAddress, HasCtrl, HasLen;
  } cases[] = {{0, false, false, false},  {6, false, false, false}, {7, true, false, false},
               {9, true, true, false},   {10, true, true, true},    {17, true, true, true}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Len);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[c.Len > 0 ? c.Len : 1]);
    std::copy(full.begin(), full.begin() + c.Len, exact.get());
    TFrameBody body;
    std::string error;
    EXPECT_EQ(TProtocol::UnPack(exact.get(), c.Len, body, error), 1);
    EXPECT_EQ(error.rfind(kUnPackError, 0), 0u) << error;
    EXPECT_GT(error.size(), kUnPackError.size()) << "the fault's own message follows";
    EXPECT_EQ(body.FrameText, Spaced(full, c.Len));
    EXPECT_EQ(body.Address.empty(), !c.HasAddress);
    EXPECT_EQ(body.Ctrl, c.HasCtrl ? 0x91 : 0);
    EXPECT_EQ(body.Len, c.HasLen ? 8 : 0);
    EXPECT_EQ(body.Data, "");
  }
  TFrameBody body;
  std::string error;
  EXPECT_EQ(TProtocol::UnPack(nullptr, 20, body, error), 1);
  EXPECT_EQ(body.FrameText, "");
  SetLogSink(nullptr);

  // Every fault went to the log as an exception entry of the unpacker, with the same text.
  ASSERT_EQ(sink.Entries.size(), std::size(cases) + 1);
  for (const auto& e : sink.Entries) {
    EXPECT_EQ(e.Types, 8);
    EXPECT_EQ(e.Source, "TProtocol.UnPack");
    EXPECT_EQ(e.Text.rfind(kUnPackError, 0), 0u);
  }
}

TEST(UnPackTest, NoLogEntryOnSuccessAndNoSinkIsHarmless) {
  TRecordingSink sink;
  SetLogSink(&sink);
  const Bytes f = Reply(0x91, {1, 2});
  TFrameBody body;
  std::string error;
  EXPECT_EQ(TProtocol::UnPack(f.data(), static_cast<int>(f.size()), body, error), 0);
  SetLogSink(nullptr);
  EXPECT_TRUE(sink.Entries.empty());
  EXPECT_EQ(TProtocol::UnPack(f.data(), 5, body, error), 1);  // nothing installed: no crash
}

TEST(UnPackTest, ConcurrentCallersWhileTheSinkIsSwapped) {
  // The sending thread unpacks while the window thread installs or removes the log; both sinks
  // outlive the threads. Every fault reaches one of them or none, never a torn pointer.
  TRecordingSink first, second;
  const Bytes good = Reply(0x91, {1, 2, 3});
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < 2000; ++i) {
        TFrameBody body;
        std::string error;
        const int cut = i % 2 ? static_cast<int>(good.size()) : 5;
        const int rc = TProtocol::UnPack(good.data(), cut, body, error);
        if (rc != (cut == 5 ? 1 : 0)) ADD_FAILURE() << "unexpected result " << rc;
      }
    });
  }
  go = true;
  for (int i = 0; i < 500; ++i) {
    SetLogSink(i % 3 == 0 ? &first : i % 3 == 1 ? &second : nullptr);
    std::this_thread::yield();
  }
  for (std::thread& t : threads) t.join();
  SetLogSink(nullptr);
  EXPECT_LE(first.Entries.size() + second.Entries.size(), 3000u);
  for (const auto* sink : {&first, &second}) {
    for (const auto& e : sink->Entries) EXPECT_EQ(e.Text.rfind(kUnPackError, 0), 0u);
  }
}
