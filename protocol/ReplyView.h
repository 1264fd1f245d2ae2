#pragma once
// What the main window shows for one reply frame: the received row of the message grid and the five
// reply panes of the status bar (decoded value, round-trip time, error text, follow-up flag and
// sequence number). A pure function of the reply, so every row of the decode table is tested
// without a display.
#include <cstdint>
#include <string>

#include "protocol/Types.h"

namespace ReplyTexts {
inline constexpr char Success[] = "成功";
inline constexpr char Failure[] = "失败";
inline constexpr char AppTimeout[] = "应用层超时";
inline constexpr char MoreFrames[] = "有后续帧";
}  // namespace ReplyTexts

// One reply as the sending thread hands it to the window.
struct TReplyInput {
  TFrameBody Body;
  bool ViaCollector = false;  // the command went through a collector, its address appended
  uint32_t SentTick = 0;      // ms tick when the command went out
  uint32_t ReplyTick = 0;     // ms tick when the reply was assembled
};

struct TReplyView {
  TComMsg Row;
  // The reply panes; empty means the pane is emptied.
  std::string Data, UseTime, ErrHint, IsLastFrame, SEQ;
  // The tool tip of the reply row (empty: none).
  std::string Tip;
  // The reading column of the row: the identifier's name and the reading with its unit, the
  // error word's text of an abnormal reply, or the decoded value of the other replies.
  std::string Parse;
};

// "0.187秒": a round trip in milliseconds as seconds with three decimals.
std::string RoundTripText(uint32_t ms);

// The row and panes for `reply`, the row's time being `now`.
TReplyView ViewReply(const TReplyInput& reply, TDateTime now);

// The row of a frame that came during a wait but is not the answer: a received row whose outcome
// is `reason` (why it is not the answer), with its reading; the reply panes are not touched.
TReplyView ViewStray(const TReplyInput& frame, const std::string& reason, TDateTime now);

// The tool tip of the value pane: the reading, then the whole value (a long value does not fit
// the pane); either alone when the other is empty.
std::string ValuePaneTip(const TReplyView& view);
