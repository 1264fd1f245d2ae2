#pragma once
// Runs the cases of suite files against one meter. Each file runs in a sandbox of its own and
// defines its cases with dlt.case{...}; each case then runs under the time limit, and ends as
// pass (every expectation met), fail (one not met), skipped (the profile does not give what it
// needs, or it called dlt.skip) or error (a script error, with file:line, or the link failed).
// Once the link is lost every remaining case ends as an error without running.
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "suite/Case.h"
#include "suite/Link.h"
#include "suite/Profile.h"

struct TRunOptions {
  std::string Pattern;      // glob on the case id ("frame.*"); empty: every case
  double CaseLimitSec = 30; // time limit of one case
  double LinkReturnSec = 10; // how long a lost link may take to come back before the rest end unrun
  std::function<void(const TCaseRecord&)> CaseStarting;  // progress: id, title, clause
  std::function<void(const TCaseRecord&)> CaseEnded;     // progress
  // Set by another thread to stop the run: the case in progress ends as stopped (its script is
  // ended at its next line), no further case runs. The link is to end its exchange itself.
  const std::atomic<bool>* Stop = nullptr;
};

// The *.lua files of a suite: the file itself, or those of a folder (sorted, not recursive);
// false with a Chinese message when there is none.
bool SuiteFiles(const std::string& dirOrFile, std::vector<std::string>& files, std::string& error);
// The folder of the bundled suite: beside the installed program, else in the source tree.
std::string BundledSuiteDir();

std::vector<TCaseRecord> RunSuite(const std::vector<std::string>& files, const TMeterProfile& profile,
                                  TSuiteLink& link, const TRunOptions& options);
