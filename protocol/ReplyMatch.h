#pragma once
// The answer rule: which received frame answers which request. A meter that answers late can put
// its reply to one request on the line after the next request was written; taking that frame as
// the answer would show one identifier's value as another's. A frame is the answer only when
//   - its control code is the request's function code with D7 set (D6 too for an abnormal reply;
//     D5, more frames follow, may be set), or it is C0H (application-layer timeout, below);
//   - it comes from the meter the request is meant for: the final destination of a relayed
//     command, the meter behind a collector, the addressed meter otherwise; an AA byte of the
//     address (wildcard AAAAAAAAAAAA, shortened addresses) fits any byte, and a broadcast
//     (999999999999) fits any address;
//   - for a normal reply that carries an identifier (91H, B1H, 92H, B2H), its first four data
//     bytes are the request's identifier.
// A C0H reply ends the wait when it comes from the meter meant or from the first hop (the relay
// or collector addressed): the far end did not answer, and waiting on would only time out.
// A typed frame is judged by its own bytes (C, address, relay addresses, identifier) as far as it
// carries them; a typed frame too short to be a frame accepts any reply. Pure: no I/O, no state.
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/DLT.h"
#include "protocol/Types.h"

// What the answer to one request looks like.
struct TAnswerRule {
  bool AnyReply = false;      // nothing to judge by: every checked frame is the answer
  int FuncCode = 0;           // D4..D0 of the request
  std::string Address;        // display order; AA pairs fit any byte; empty: any address
  std::string AltAddress;     // a typed frame's meter behind a collector (last 6 data bytes)
  std::string FirstHop;       // display order: the address the request went to
  std::string DI;             // wire order, 8 hex digits; empty: not checked
};

// Why a frame is not the answer.
enum TAnswerFault { afNone, afCtrl, afAddress, afDI };

// The rule for `request`, whose bytes on the wire (without preamble) are `bytes`/`count`.
TAnswerRule AnswerRule(const TDltFrame& request, const uint8_t* bytes, int count);
// afNone when `reply` (decoded from a frame that passed the frame check) is the answer.
TAnswerFault JudgeReply(const TAnswerRule& rule, const TFrameBody& reply);
// The words the user sees for a fault ("非本次请求的应答：..."); empty for afNone.
std::string AnswerFaultText(TAnswerFault fault);
// True when `reply` (decoded from a frame that passed the frame check) is the answer; otherwise
// `reason` says why not, in the words the user sees.
bool IsAnswer(const TAnswerRule& rule, const TFrameBody& reply, std::string& reason);
bool IsAnswer(const TDltFrame& request, const uint8_t* bytes, int count, const TFrameBody& reply,
              std::string& reason);

// The address a reply is expected from (display order), empty when any address may answer.
// `raw` holds the bytes of a typed frame (empty for a composed one).
std::string ExpectedReplyAddress(const TDltFrame& frame, const std::vector<uint8_t>& raw);
// True when `replyAddress` fits `expected`, an AA pair of `expected` fitting any pair.
bool AddressFits(const std::string& expected, const std::string& replyAddress);

// What is wrong with a frame the frame check refused, in the words the user sees; empty when
// the check passes.
std::string FrameFault(const uint8_t* buf, int len);
