#pragma once
// How many cases a run will have, before it starts: for a progress line ("[12/30]") and a
// progress bar. Each file is loaded in a sandbox of its own, as the run loads it, and its cases
// are counted against the pattern; no case runs and nothing is sent.
#include <string>
#include <vector>

#include "suite/Profile.h"

// Files that cannot be loaded count as one (the run reports each as one error).
int CountCases(const std::vector<std::string>& files, const TMeterProfile& profile, const std::string& pattern);
