#pragma once
// A script of one's own against one meter (`dlt645 run`): its top level runs with the same `dlt`
// API the suite's cases use (reads, sends, raw frames, expectations, waits, the profile), and the
// whole run is recorded as one case: every frame, every expectation, and a verdict (pass when
// every expectation was met, fail when one was not, error for a script error at file:line or a
// link that failed, stopped when `stop` was set).
#include <atomic>
#include <string>

#include "suite/Case.h"
#include "suite/Link.h"
#include "suite/Profile.h"

struct TScriptRunOptions {
  double LimitSec = 0;                    // 0: no time limit
  const std::atomic<bool>* Stop = nullptr;  // ends the script at its next line
};

TCaseRecord RunScriptFile(const std::string& file, const TMeterProfile& profile, TSuiteLink& link,
                          const TScriptRunOptions& options);
// The lines `dlt645 run` ends with: one per expectation ("满足  ..." / "未满足  ..."), then the
// verdict with the count of expectations, or why the script ended.
std::string ScriptRunText(const TCaseRecord& rec);
