#pragma once
// The record of one case of a conformance run: what it checks, every frame it exchanged with the
// meter (with times), every expectation with what was observed, and the verdict. Reports (the
// console summary, JUnit XML, the HTML page) are views of this record.
#include <string>
#include <vector>

// vdStopped: the run was stopped by the user while the case ran; what it recorded is kept, but it
// proves nothing either way.
enum TVerdict { vdPass, vdFail, vdSkipped, vdError, vdStopped };

// One frame on the line, as the case saw it.
struct TFrameRecord {
  bool Sent = false;      // written to the meter (else received)
  std::string Hex;        // spaced hex
  double AtMs = 0;        // since the case began
  double RoundTripMs = 0; // received: from the request's write to the reply's last byte
  std::string Note;       // the channel's message, the decoded reading, ...
};

struct TExpectation {
  std::string What;      // what was expected, Chinese
  std::string Observed;  // what the meter did
  bool Met = false;
};

struct TCaseRecord {
  std::string Id, Title, Clause, File;
  std::vector<TFrameRecord> Frames;
  std::vector<TExpectation> Expectations;
  std::vector<std::string> Info;  // notes that decide nothing (times, extra identifiers)
  TVerdict Verdict = vdPass;
  std::string Why;  // skipped: why; error: what could not be carried out (file:line for scripts)
  double DurationMs = 0;
};

// The Chinese word for a verdict ("通过", "失败", "跳过", "错误", "已停止").
const char* VerdictText(TVerdict verdict);
