#pragma once
// The `dlt` table scripts use: cases, exchanges with the meter, expectations, waits and the
// profile. One TScriptContext per suite file; the case in progress is recorded into Current.
// Every reply's result carries first_byte_ms and max_gap_ms (the line's timing, recorded as
// information); dlt.limits holds the profile's timing limits with their defaults, among them
// no_reply_ms, the wait a case passes as wait_ms when it expects no reply; dlt.now() gives the
// computer's local time.
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "suite/Case.h"
#include "suite/Link.h"
#include "suite/Profile.h"

struct lua_State;

struct TScriptContext {
  TSuiteLink* Link = nullptr;
  const TMeterProfile* Profile = nullptr;
  TCaseRecord* Current = nullptr;
  std::chrono::steady_clock::time_point CaseStart;
  bool Skipped = false;      // dlt.skip was called; Current->Why says why
  bool LinkFailed = false;   // the exchange could not be carried out; Current->Why says why
  bool LinkLost = false;     // the port failed: no further case can run
  const std::atomic<bool>* Stop = nullptr;  // the run's stop: ends a dlt.wait at once
};

// Installs the global `dlt` table in `L`, bound to `context`; the profile table (on top of the
// stack) becomes dlt.profile and is popped. Cases defined by the script go into dlt._cases.
void InstallScriptApi(lua_State* L, TScriptContext& context);
// The cases the script defined (a sequence of case tables), pushed on the stack.
void PushCases(lua_State* L);
// Where exchanges of the case in progress keep their results (dlt.expect_* find them by index).
void SetResults(lua_State* L, std::vector<TLinkResult>* results);
