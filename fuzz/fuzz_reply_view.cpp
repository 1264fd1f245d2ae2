// What the main window shows for any reply frame the channel can hand over (a valid frame of any
// control code, address and data, through a collector or not): a received row that carries the
// frame's own text and control code, a verdict that follows the abnormal bit, the follow-up flag
// that follows D5, a value pane that holds exactly the data after the identifier, an error text
// only for an abnormal reply (also in the reading column), and a round trip shown as seconds
// with three decimals; a frame that is not the answer shows as the same row with its reason.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "protocol/Protocol.h"
#include "protocol/PublicFunc.h"
#include "protocol/ReplyView.h"
#include "protocol/SendCycle.h"

namespace {

std::vector<uint8_t> FrameOf(FuzzedDataProvider& in) {
  std::vector<uint8_t> frame = {0x68};
  for (int i = 0; i < 6; ++i) frame.push_back(in.ConsumeIntegral<uint8_t>());
  frame.push_back(0x68);
  frame.push_back(in.ConsumeIntegral<uint8_t>());
  const std::vector<uint8_t> data = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 255));
  frame.push_back(static_cast<uint8_t>(data.size()));
  for (uint8_t b : data) frame.push_back(static_cast<uint8_t>(b + 0x33));
  uint8_t sum = 0;
  for (uint8_t b : frame) sum = static_cast<uint8_t>(sum + b);
  frame.push_back(sum);
  frame.push_back(0x16);
  return frame;
}

void CheckRoundTrip(const std::string& text, uint32_t ms) {
  char expected[48];
  std::snprintf(expected, sizeof expected, "%u.%03u秒", ms / 1000, ms % 1000);
  FUZZ_CHECK(text == expected);
}

void CheckNormal(const TFrameBody& body, const std::string& data, const TReplyView& view) {
  FUZZ_CHECK(view.ErrHint.empty());
  const int len = static_cast<int>(data.size() / 2);
  if (body.FuncCode == 0x11 && len >= 5) FUZZ_CHECK(ReverseHex(view.Data) == data.substr(8));
  if (body.FuncCode == 0x12 && len >= 6) {
    FUZZ_CHECK(ReverseHex(view.Data) == data.substr(8, data.size() - 10));
    FUZZ_CHECK(!view.SEQ.empty());
  } else {
    FUZZ_CHECK(view.SEQ.empty());
  }
  if (body.FuncCode == 0x13 || body.FuncCode == 0x15) FUZZ_CHECK(view.Data == body.Address);
  if (body.FuncCode == 0x11 && body.Dir == 1 && data.size() >= 8) {
    const std::string di = data.substr(6, 2) + data.substr(4, 2) + data.substr(2, 2) + data.substr(0, 2);
    FUZZ_CHECK(view.Tip.rfind(di, 0) == 0);
  } else {
    FUZZ_CHECK(view.Tip.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 1024) return 0;
  FuzzedDataProvider in(bytes, size);
  TReplyInput reply;
  reply.ViaCollector = in.ConsumeBool();
  reply.SentTick = in.ConsumeIntegral<uint32_t>();
  reply.ReplyTick = reply.SentTick + in.ConsumeIntegralInRange<uint32_t>(0, 120000);
  const std::vector<uint8_t> frame = FrameOf(in);
  std::string error;
  FUZZ_CHECK(TProtocol::UnPack(frame.data(), static_cast<int>(frame.size()), reply.Body, error) == 0);
  const TFrameBody& body = reply.Body;

  const TReplyView view = ViewReply(reply, 46000.5);
  FUZZ_CHECK(view.Row.Flag == SendTexts::FlagReceived);
  FUZZ_CHECK(view.Row.Func == FuncText(frame[8]));
  FUZZ_CHECK(view.Row.Content == body.FrameText);
  FUZZ_CHECK(view.Row.Time == 46000.5);
  CheckRoundTrip(view.UseTime, reply.ReplyTick - reply.SentTick);
  if (frame[8] == 0xC0) {
    FUZZ_CHECK(view.Row.Succ == ReplyTexts::AppTimeout);
    FUZZ_CHECK(view.Data.empty() && view.ErrHint.empty() && view.IsLastFrame.empty() && view.SEQ.empty());
    return 0;
  }
  const bool normal = (frame[8] & 0x40) == 0;
  FUZZ_CHECK(view.Row.Succ == (normal ? ReplyTexts::Success : ReplyTexts::Failure));
  FUZZ_CHECK(view.IsLastFrame == ((frame[8] & 0x20) ? ReplyTexts::MoreFrames : ""));

  // Through a collector the last six data bytes are the meter's address, not part of the value.
  std::string data = body.Data;
  if (reply.ViaCollector && body.Len > 6) data.resize(data.size() - 12);
  if (normal) {
    CheckNormal(body, data, view);
  } else {
    FUZZ_CHECK(view.Data.empty() && view.SEQ.empty() && view.Tip.empty());
    if (data.size() != 2) FUZZ_CHECK(view.ErrHint.empty());
    FUZZ_CHECK(view.Parse == view.ErrHint);  // the reading column names the error
  }
  // The value pane's tip holds the reading and the whole value.
  const std::string tip = ValuePaneTip(view);
  FUZZ_CHECK(tip.find(view.Tip) != std::string::npos && tip.find(view.Data) != std::string::npos);

  // A frame that is not the answer shows as the same row with the reason as its outcome.
  const TReplyView stray = ViewStray(reply, "reason", 46000.5);
  FUZZ_CHECK(stray.Row.Succ == "reason" && stray.Row.Content == view.Row.Content && stray.Parse == view.Parse);
  return 0;
}
