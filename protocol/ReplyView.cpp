#include "protocol/ReplyView.h"

#include <cstdio>

#include "protocol/DLT.h"
#include "protocol/PublicFunc.h"
#include "protocol/Reading.h"
#include "protocol/StringUtil.h"
#include "protocol/SendCycle.h"

namespace {

const char* const kRoundTripFormat = "%2.3f秒";

// The error word: the first data byte, as the meter's error text.
std::string ErrorWordText(const std::string& data) {
  uint8_t word = 0;
  if (data.size() < 2 || !TStringUtil::TryHexPair(data.substr(0, 2), word)) return std::string();
  return TDLT::ErrorText(word);
}

// `data` without its first `head` and last `tail` characters; empty when it is shorter.
std::string Middle(const std::string& data, std::size_t head, std::size_t tail) {
  if (data.size() < head + tail) return std::string();
  return data.substr(head, data.size() - head - tail);
}

// The decode table of a normal reply: the value pane, and the sequence number of a follow-up.
void DecodeNormal(const TFrameBody& body, TReplyView& view) {
  const std::string& d = body.Data;
  switch (body.FuncCode) {
    case 0x11:  // read data: the value after the identifier
      if (body.Len >= 5) view.Data = ReverseHex(Middle(d, 8, 0));
      break;
    case 0x12:  // read follow-up data: the value between the identifier and the sequence number
      if (body.Len >= 6 && d.size() >= 10) {
        view.Data = ReverseHex(Middle(d, 8, 2));
        uint8_t seq = 0;
        if (TStringUtil::TryHexPair(d.substr(d.size() - 2), seq)) view.SEQ = std::to_string(seq);
      }
      break;
    case 0x13:  // read and write communication address
    case 0x15:
      view.Data = body.Address;
      break;
    case 0x17:  // change communication rate
      if (body.Len >= 1 && d.size() >= 2) view.Data = TDLT::BaudCodeToText(d.substr(0, 2));
      break;
    case 0x18:  // change password: the new password
      if (body.Len >= 4 && d.size() >= 8) view.Data = ReverseHex(d.substr(0, 8));
      break;
    default:
      break;
  }
}

// The decode table of an abnormal reply: the error word of the commands that carry one.
void DecodeAbnormal(const TFrameBody& body, TReplyView& view) {
  switch (body.FuncCode) {
    case 0x11: case 0x12: case 0x14: case 0x16: case 0x17: case 0x18: case 0x19: case 0x1A: case 0x1B:
      if (body.Len == 1) view.ErrHint = ErrorWordText(body.Data);
      break;
    default:
      break;
  }
}

// The identifier at the head of a reply's data (DI0 first on the wire), DI3 first.
std::string ReplyIdentifier(const TFrameBody& body) {
  return body.Data.size() >= 8 ? ReverseHex(body.Data.substr(0, 8)) : std::string();
}

std::string Joined(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return a + b;
  return a + " " + b;
}

// The reading column of a normal reply: a read's name and reading, else the decoded value.
std::string NormalParse(const TFrameBody& body, const TReplyView& view) {
  switch (body.FuncCode) {
    case 0x11: {
      const std::string name = IdentifierName(ReplyIdentifier(body));
      const TReading reading = ReplyReading(body);
      return Joined(name, reading.Ok ? reading.Text : view.Data);
    }
    case 0x12:
      return Joined(IdentifierName(ReplyIdentifier(body)), view.Data);
    case 0x13: case 0x15:  // the communication address, named as the catalogue names it
      return Joined(IdentifierName("04000401"), view.Data);
    default:
      return view.Data;
  }
}

}  // namespace

std::string RoundTripText(uint32_t ms) {
  char buf[48];
  std::snprintf(buf, sizeof buf, kRoundTripFormat, ms * 0.001);
  return buf;
}

TReplyView ViewReply(const TReplyInput& reply, TDateTime now) {
  TReplyView view;
  TFrameBody body = reply.Body;
  view.Row.Flag = SendTexts::FlagReceived;
  view.Row.Func = FuncText(body.Ctrl);
  view.Row.Content = body.FrameText;
  view.Row.Time = now;
  view.UseTime = RoundTripText(reply.ReplyTick - reply.SentTick);
  if (body.Ctrl == 0xC0) {
    view.Row.Succ = ReplyTexts::AppTimeout;
    return view;
  }
  view.Row.Succ = body.Normal ? ReplyTexts::Success : ReplyTexts::Failure;
  // Through a collector the meter's address closes the data: it is not part of the value.
  if (reply.ViaCollector && body.Len > 6) {
    body.Data = body.Data.size() >= 12 ? body.Data.substr(0, body.Data.size() - 12) : std::string();
    body.Len -= 6;
  }
  if (!body.LastFrame) view.IsLastFrame = ReplyTexts::MoreFrames;
  view.Tip = ReplyReadingTip(body);  // identifier, name and reading of a read reply
  if (body.Normal) {
    DecodeNormal(body, view);
    view.Parse = NormalParse(body, view);
  } else {
    DecodeAbnormal(body, view);
    view.Parse = view.ErrHint;
  }
  return view;
}

TReplyView ViewStray(const TReplyInput& frame, const std::string& reason, TDateTime now) {
  TReplyView view = ViewReply(frame, now);
  view.Row.Succ = reason;
  return view;
}

std::string ValuePaneTip(const TReplyView& view) {
  if (view.Tip.empty() || view.Data.empty()) return view.Tip + view.Data;
  return view.Tip + "\r\n" + view.Data;
}
