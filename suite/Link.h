#pragma once
// The exchange path the engine reaches the meter through: one request, its one answer (or why
// none came), exactly as the channel ends an exchange. `dlt645 test` hands in the command line's
// channel link; tests may hand in their own.
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/DLT.h"
#include "protocol/Types.h"

enum TLinkKind {
  lkReply,          // the answer (normal or abnormal)
  lkNoReplyWanted,  // a broadcast
  lkTimeout,        // no answer in time
  lkInvalid,        // a reply that failed the frame check
  lkInterrupted,    // stopped
  lkSendError,      // writing failed: the port failed or went away
  lkFailed,         // refused before sending (port not open, frame cannot be packed)
};

struct TLinkResult {
  TLinkKind Kind = lkFailed;
  std::string Message;  // the channel's message
  bool HasReply = false;
  TFrameBody Body;
  double RoundTripMs = 0;
  double FirstByteMs = -1;  // request's last byte to the first byte back; -1: nothing came
  double MaxGapMs = 0;      // the longest pause between bytes until the answer
  std::vector<TFrameBody> Strays;  // frames that came during the wait but were not the answer
};

class TSuiteLink {
 public:
  virtual ~TSuiteLink() = default;
  // The composed `frame`, or the typed bytes `raw` when not empty (sent as they are).
  virtual TLinkResult Exchange(const TDltFrame& frame, const std::vector<uint8_t>& raw) = 0;
  // After an exchange lost with the link: waits up to `seconds` for a link that reopens by itself
  // to come back. True when it is back, so the cases after the loss still run; false (a link that
  // does not reopen, or one still away) ends the remaining cases unrun.
  virtual bool AwaitReturn(double seconds) {
    (void)seconds;
    return false;
  }
};
