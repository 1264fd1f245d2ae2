#pragma once
// The command line's channel link as the test engine sees it (`dlt645 test`, `dlt645 run`).
#include "cli/Exchange.h"
#include "suite/Link.h"

class TCliSuiteLink : public TSuiteLink {
 public:
  explicit TCliSuiteLink(TCliLink& link) : Link(link) {}
  TLinkResult Exchange(const TDltFrame& frame, const std::vector<uint8_t>& raw) override {
    const TExchangeResult e = Link.Exchange(frame, raw);
    TLinkResult r;
    r.Kind = KindOf(e.Kind);
    r.Message = e.Message;
    r.HasReply = e.HasReply;
    r.Body = e.Body;
    r.RoundTripMs = e.RoundTripMs;
    r.FirstByteMs = e.FirstByteMs;
    r.MaxGapMs = e.MaxGapMs;
    for (const TStrayReply& s : e.Strays) r.Strays.push_back(s.Body);
    Lost += e.LinkLost;
    return r;
  }
  bool AwaitReturn(double seconds) override { return Link.AwaitLink(seconds); }
  int Lost = 0;  // exchanges lost with the link

 private:
  static TLinkKind KindOf(TExchangeKind kind) {
    switch (kind) {
      case ekReply: return lkReply;
      case ekNoReplyWanted: return lkNoReplyWanted;
      case ekTimeout: return lkTimeout;
      case ekInvalid: return lkInvalid;
      case ekInterrupted: return lkInterrupted;
      case ekSendError: return lkSendError;
      default: return lkFailed;
    }
  }
  TCliLink& Link;
};
