#pragma once
// One serial port with the workbench's channel and sending thread on it, for the commands that
// exchange frames with a meter (`send`, `poll`): send a frame, wait for the end of its exchange,
// and say how it ended. Ctrl-C (SIGINT) asks the channel to stop the exchange in progress.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "comm/Channel.h"
#include "protocol/ReplyMatch.h"
#include "protocol/Types.h"

// How an exchange ended, as the commands report it (from the channel's verdict).
enum TExchangeKind {
  ekReply,         // the answer to the request (normal or abnormal)
  ekNoReplyWanted, // the command expects no reply (broadcasts)
  ekTimeout,       // no answer in time
  ekInvalid,       // a reply frame that failed the frame check
  ekInterrupted,   // Ctrl-C
  ekSendError,     // writing to the port failed (the port failed or went away)
  ekFailed,        // refused before sending: the port is not open or the frame cannot be packed
};

// A frame that came during the wait but was not the answer (e.g. a late reply to an earlier
// request, or a reply from another meter).
struct TStrayReply {
  TFrameBody Body;
  std::string Reason;       // the answer rule's reason, Chinese
  bool OtherAddress = false;  // it came from an address the request was not meant for
};

struct TExchangeResult {
  TExchangeKind Kind = ekFailed;
  std::string Message;     // the channel's message
  std::string InvalidFrame;  // for ekInvalid: the frame as received, spaced hex
  bool HasReply = false;
  TFrameBody Body;
  double RoundTripMs = 0;  // from the write to the reply's last byte, microsecond resolution
  // The line's timing as read: from the request's last byte written to the first byte that came
  // back (-1: nothing came), and the longest pause between two arrivals until the answer.
  double FirstByteMs = -1;
  double MaxGapMs = 0;
  std::vector<TStrayReply> Strays;
  bool LinkLost = false;   // a failed send because the link was lost, or was still being reopened
};

// Splits the line settings off the arguments: `--settings 9600,E,8,1` names the line (into
// `line`), any other `--settings` value is a Setup.ini for the command options and stays.
std::vector<std::string> TakeLineSettings(const std::vector<std::string>& args, std::string& line);

// Sets a flag on SIGINT (installed once); the flag stays set.
const std::atomic<bool>& InterruptFlag();

class TCliLink {
 public:
  // `verbose`: the channel's log entries go to stderr.
  TCliLink(const TPreamble& preamble, bool verbose);
  ~TCliLink();
  TCliLink(const TCliLink&) = delete;
  TCliLink& operator=(const TCliLink&) = delete;

  // Opens the port with the line settings ("9600,E,8,1") and starts the channel.
  bool Open(const std::string& port, const std::string& line, std::string& error);
  // One exchange: the composed `frame`, or the typed bytes `raw` when not empty.
  TExchangeResult Exchange(const TDltFrame& frame, const std::vector<uint8_t>& raw);
  // Waits up to `seconds` while the link is lost and being reopened; true when it is up.
  bool AwaitLink(double seconds);
  void Close();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};
