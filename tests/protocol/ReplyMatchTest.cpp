// The answer rule against hand-made requests and replies: which frame answers which request.
#include <gtest/gtest.h>

#include "protocol/ReplyMatch.h"

namespace {
const std::string kAnswer;  // no reason: the frame is the answer
const std::string kCtrl = "非本次请求的应答：控制码不符";
const std::string kAddress = "非本次请求的应答：地址不符";
const std::string kDI = "非本次请求的应答：数据标识不符";

// A composed command: function code, address (display order), identifier (wire order).
TDltFrame Command(int func, const std::string& address, const std::string& diWire = "") {
  TDltFrame f;
  f.CtrlCode = func;
  f.Address = address;
  f.DI = diWire;
  f.DataField = diWire;
  f.TimeoutSec = 10;
  return f;
}

// A decoded reply as UnPack gives it: address display order, data without 33H, wire order.
TFrameBody Reply(const std::string& address, int ctrl, const std::string& data) {
  TFrameBody b;
  b.Address = address;
  b.Ctrl = ctrl;
  b.Dir = ctrl >> 7;
  b.Normal = (ctrl & 0x40) == 0;
  b.LastFrame = (ctrl & 0x20) == 0;
  b.FuncCode = ctrl & 0x1F;
  b.Len = static_cast<int>(data.size() / 2);
  b.Data = data;
  return b;
}

struct TCase {
  const char* What;
  TDltFrame Request;
  std::vector<uint8_t> Typed;  // the typed bytes of a RawFrame request
  TFrameBody Body;
  std::string Reason;
};

TDltFrame Relayed() {
  // Addressed to relay 000000000011; then relay 000000000022, then meter 000000000001.
  TDltFrame f = Command(0x11, "000000000011", "00000102");
  f.RelayCount = 2;
  f.RelayData = "220000000000" "010000000000";
  f.DataField = f.RelayData + f.DI;
  return f;
}

TDltFrame ViaCollector() {
  TDltFrame f = Command(0x11, "000000009999", "00000102");
  f.ViaCollector = true;
  f.DataField = f.DI + "010000000000";
  return f;
}

TDltFrame Typed() {
  TDltFrame f;
  f.RawFrame = true;
  f.TimeoutSec = 10;
  return f;
}

// FE FE, then a read of 00010000 from meter 000000000001 (data +33H), CS, 16H.
const std::vector<uint8_t> kTypedRead = {0xFE, 0xFE, 0x68, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x68,
                                         0x11, 0x04, 0x33, 0x33, 0x34, 0x33, 0xB3, 0x16};
// A typed read of 00000102 (wire order) through collector 000000009999 for meter 000000000001,
// typed without its checksum and end byte.
const std::vector<uint8_t> kTypedCollector = {0x68, 0x99, 0x99, 0x00, 0x00, 0x00, 0x00, 0x68, 0x11, 0x0A,
                                              0x33, 0x33, 0x34, 0x35, 0x34, 0x33, 0x33, 0x33, 0x33, 0x33};
}  // namespace

TEST(ReplyMatchTest, TheAnswerFitsControlCodeAddressAndIdentifier) {
  const TDltFrame read = Command(0x11, "000000000001", "00000102");
  const TDltFrame follow = Command(0x12, "000000000001", "00000102");
  const TCase cases[] = {
      {"normal reply", read, {}, Reply("000000000001", 0x91, "000001021234"), kAnswer},
      {"normal reply, more frames follow", read, {}, Reply("000000000001", 0xB1, "00000102AB"), kAnswer},
      {"abnormal reply", read, {}, Reply("000000000001", 0xD1, "02"), kAnswer},
      {"reply to another function", read, {}, Reply("000000000001", 0x94, ""), kCtrl},
      {"the request's own echo", read, {}, Reply("000000000001", 0x11, "00000102"), kCtrl},
      {"another meter", read, {}, Reply("000000000002", 0x91, "000001021234"), kAddress},
      {"another identifier (a late reply)", read, {}, Reply("000000000001", 0x91, "000100005634"), kDI},
      {"normal reply too short for an identifier", read, {}, Reply("000000000001", 0x91, "0000"), kDI},
      {"follow-up 92H", follow, {}, Reply("000000000001", 0x92, "000001021202"), kAnswer},
      {"follow-up B2H", follow, {}, Reply("000000000001", 0xB2, "000001021203"), kAnswer},
      {"follow-up of another identifier", follow, {}, Reply("000000000001", 0x92, "0001000001"), kDI},
      {"abnormal follow-up D2H", follow, {}, Reply("000000000001", 0xD2, "02"), kAnswer},
      {"read address, wildcard", Command(0x13, "AAAAAAAAAAAA"), {}, Reply("000000004321", 0x93, "214300000000"), kAnswer},
      {"shortened address", Command(0x11, "AAAAAAAA1234", "00000102"), {}, Reply("000000001234", 0x91, "00000102"), kAnswer},
      {"shortened address, other meter", Command(0x11, "AAAAAAAA1234", "00000102"), {}, Reply("000000005678", 0x91, "00000102"), kAddress},
      {"broadcast", Command(0x16, "999999999999"), {}, Reply("000000000007", 0x96, ""), kAnswer},
      {"relayed: the final meter answers", Relayed(), {}, Reply("000000000001", 0x91, "000001021234"), kAnswer},
      {"relayed: the first relay is not the meter", Relayed(), {}, Reply("000000000011", 0x91, "000001021234"), kAddress},
      {"collector: the meter behind it answers", ViaCollector(), {}, Reply("000000000001", 0x91, "000001021234010000000000"), kAnswer},
      {"collector: C0H from the collector", ViaCollector(), {}, Reply("000000009999", 0xC0, ""), kAnswer},
      {"C0H from the addressed meter", read, {}, Reply("000000000001", 0xC0, ""), kAnswer},
      {"C0H from elsewhere", read, {}, Reply("000000000003", 0xC0, ""), kAddress},
      {"typed read", Typed(), kTypedRead, Reply("000000000001", 0x91, "000001001234"), kAnswer},
      {"typed read, another identifier", Typed(), kTypedRead, Reply("000000000001", 0x91, "000001021234"), kDI},
      {"typed read, another meter", Typed(), kTypedRead, Reply("000000000009", 0x91, "000001001234"), kAddress},
      {"typed read, another function", Typed(), kTypedRead, Reply("000000000001", 0x93, "010000000000"), kCtrl},
      {"typed through a collector", Typed(), kTypedCollector, Reply("000000000001", 0x91, "000001021234010000000000"), kAnswer},
      {"typed too short to judge", Typed(), {0x68, 0x16}, Reply("000000000009", 0x93, ""), kAnswer},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    std::vector<uint8_t> bytes = c.Typed;
    std::string reason = "unset";
    const bool answer = IsAnswer(c.Request, bytes.data(), static_cast<int>(bytes.size()), c.Body, reason);
    EXPECT_EQ(answer, c.Reason.empty());
    EXPECT_EQ(reason, c.Reason);
  }
}

// The address a reply is expected from, as `dlt645 send` names it: empty when any may answer.
TEST(ReplyMatchTest, ExpectedReplyAddress) {
  EXPECT_EQ(ExpectedReplyAddress(Command(0x11, "000000000001", "00000102"), {}), "000000000001");
  EXPECT_EQ(ExpectedReplyAddress(Relayed(), {}), "000000000001");
  EXPECT_EQ(ExpectedReplyAddress(ViaCollector(), {}), "000000000001");
  EXPECT_EQ(ExpectedReplyAddress(Command(0x13, "AAAAAAAAAAAA"), {}), "");
  EXPECT_EQ(ExpectedReplyAddress(Command(0x08, "999999999999"), {}), "");
  EXPECT_EQ(ExpectedReplyAddress(Typed(), kTypedRead), "000000000001");
  EXPECT_EQ(ExpectedReplyAddress(Typed(), {0x68, 0x16}), "");
}

// What the frame check found wrong, for "收到无效数据报文：".
TEST(ReplyMatchTest, FrameFaultNamesWhatIsWrong) {
  std::vector<uint8_t> good = {0x68, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x68, 0x91, 0x00, 0x62, 0x16};
  auto fault = [](std::vector<uint8_t> f) { return FrameFault(f.data(), static_cast<int>(f.size())); };
  EXPECT_EQ(fault(good), "");
  auto sum = good, end = good, start = good, length = good;
  sum[10] = 0x63;
  end[11] = 0x61;
  start[7] = 0x00;
  length[9] = 0x01;
  EXPECT_EQ(fault(sum), "校验和错误");
  EXPECT_EQ(fault(end), "结束符错误");
  EXPECT_EQ(fault(start), "起始符错误");
  EXPECT_EQ(fault(length), "长度域与帧长不符");
  EXPECT_EQ(fault({0x68, 0x16}), "帧长度不足");
}
