#pragma once
// One serial port with the workbench's channel and sending thread on it, for the commands that
// exchange frames with a meter (`send`, `poll`): send a frame, wait for the end of its exchange,
// and say how it ended. Ctrl-C (SIGINT) asks the channel to stop the exchange in progress.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "comm/Channel.h"
#include "protocol/Types.h"

// How an exchange ended, as the commands report it.
enum TExchangeKind {
  ekReply,         // a valid reply from the addressed meter (normal or abnormal)
  ekOtherAddress,  // a valid reply from another address than the one addressed
  ekNoReplyWanted, // the command expects no reply (broadcasts)
  ekTimeout,       // no complete reply in time
  ekInvalid,       // a reply frame that failed the frame check
  ekInterrupted,   // Ctrl-C
  ekFailed,        // the port failed while sending
};

struct TExchangeResult {
  TExchangeKind Kind = ekFailed;
  std::string Message;     // the channel's message; for ekInvalid the logged frame text
  bool HasReply = false;
  TFrameBody Body;
  double RoundTripMs = 0;  // from the write to the reply's last byte, microsecond resolution
};

// Splits the line settings off the arguments: `--settings 9600,E,8,1` names the line (into
// `line`), any other `--settings` value is a Setup.ini for the command options and stays.
std::vector<std::string> TakeLineSettings(const std::vector<std::string>& args, std::string& line);

// Sets a flag on SIGINT (installed once); the flag stays set.
const std::atomic<bool>& InterruptFlag();

// The address a reply is expected from: the final destination of a relayed frame, the meter
// behind a collector, the addressed meter otherwise; empty when any address may answer
// (wildcard AAAAAAAAAAAA, broadcast 999999999999, a typed frame too short to carry one).
// `raw` holds the bytes of a typed frame (empty for a composed one).
std::string ExpectedReplyAddress(const TDltFrame& frame, const std::vector<uint8_t>& raw);
// True when `replyAddress` fits `expected`, an AA byte of `expected` fitting any byte.
bool AddressFits(const std::string& expected, const std::string& replyAddress);

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
  void Close();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};
