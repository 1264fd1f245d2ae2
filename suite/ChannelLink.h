#pragma once
// The test engine's link over the workbench's own channel, for runs started from the window.
// Each exchange is queued on the channel like the main window's frames, so the two (and the
// command window, which takes the channel's exchange lock) never use the port at once; the link
// then waits until the channel ends that exchange, which it knows by the exchange's number.
//
// While the link exists it stands in front of the handlers installed on the channel: it keeps
// its own exchanges (their replies, strays and ends) and hands every other exchange on to the
// handlers that were there, unchanged. Destroying it puts them back. The handlers are shared with
// the sending thread through a state object, so a handler call in flight outlives the link.
#include <memory>

#include "suite/Link.h"

class TChannel;

class TChannelSuiteLink : public TSuiteLink {
 public:
  explicit TChannelSuiteLink(TChannel& channel);
  ~TChannelSuiteLink() override;
  TChannelSuiteLink(const TChannelSuiteLink&) = delete;
  TChannelSuiteLink& operator=(const TChannelSuiteLink&) = delete;

  // Queues the frame and waits for the end of its exchange (any thread but the sending one).
  TLinkResult Exchange(const TDltFrame& frame, const std::vector<uint8_t>& raw) override;
  // From any thread: the exchange in progress ends as interrupted (when it is on the line, the
  // channel is told to stop it), and every later one is refused as interrupted at once.
  void Stop();

  struct TState;

 private:
  TChannel& Channel;
  std::shared_ptr<TState> State;
};
