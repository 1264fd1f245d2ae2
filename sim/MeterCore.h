#pragma once
// The virtual meter's protocol logic: one request frame in, at most one reply frame out. No I/O and
// no threads; TVirtualMeter feeds it the frames it assembles from the line.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/MeterData.h"

// Replies longer than this many value bytes are sent in parts: the first with the 11H reply,
// the rest with 12H follow-up reads.
constexpr int MeterFollowChunk = 64;

struct TMeterReply {
  bool Send = false;           // false: the meter stays silent
  std::vector<uint8_t> Frame;  // the reply frame, without preamble
  std::string Note;            // one line describing what happened (for tracing)
};

class TMeterCore {
 public:
  TMeterCore(const std::string& address, const std::string& password, const std::string& collector);

  // `frame` is one complete frame (68 .. 16) whose checksum was found good.
  TMeterReply Handle(const std::vector<uint8_t>& frame);

  // Builds a frame as the meter sends it: data given without the 33H offset.
  static std::vector<uint8_t> BuildFrame(const std::string& address, uint8_t ctrl, const std::vector<uint8_t>& data);

  TMeterState State;
  std::string Collector;

  // Faults a conformance run must catch; TVirtualMeter sets them from its own.
  bool AnswerAnyAddress = false;  // answers frames for other addresses, with its own address
  bool IgnoreShortened = false;   // does not take a shortened address (high bytes AAH) as its own
  bool ShortEnergy = false;       // energy readings (00xxxxxx) come one byte short

  // What the relay (1CH) and freeze (16H) commands left behind, shown by later reads.
  bool RelayOpen = false;               // 04000503 bits 4 and 6
  std::vector<uint8_t> InstantFreeze;   // 05010001: mm hh DD MM YY of the last instant freeze

 private:
  struct TRequest {
    std::string ReplyAddress;        // the address the reply comes from
    uint8_t Func = 0;
    std::vector<uint8_t> Data;       // without relay addresses and collector suffix
    std::vector<uint8_t> Suffix;     // the collector suffix to append to the reply data
    bool Broadcast = false;          // act, never reply
  };
  bool Route(const std::vector<uint8_t>& frame, TRequest& request, std::string& why);
  TMeterReply Answer(const TRequest& request);
  TMeterReply Normal(const TRequest& request, std::vector<uint8_t> data, bool more = false);
  TMeterReply Abnormal(const TRequest& request, uint8_t error);
  bool PasswordOk(const uint8_t* wire) const;

  TMeterReply Read(const TRequest& request);
  TMeterReply ReadFollow(const TRequest& request);
  TMeterReply Write(const TRequest& request);
  TMeterReply Freeze(const TRequest& request);
  TMeterReply Clear(const TRequest& request);
  TMeterReply Relay(const TRequest& request);
  TMeterReply Output(const TRequest& request);
  // The meter's own view of the identifiers its commands change (relay state, freeze time).
  bool CommandState(uint32_t di, std::vector<uint8_t>& value) const;

  // The parts of the last split read.
  uint32_t FollowDI = 0;
  std::vector<std::vector<uint8_t>> FollowParts;
};
