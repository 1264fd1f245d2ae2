#pragma once
// Small figures shared by the benchmarks: a percentile of samples and a field of this process's
// /proc status (resident size and the like).
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

// The sample at fraction p (0..1) of the sorted samples, nearest rank; 0 for no samples.
inline double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// The number after `key` ("voluntary_ctxt_switches:") in a /proc status file; -1 if absent.
inline long StatusField(const std::string& file, const std::string& key) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  return -1;
}

// A field of this process's status in KiB ("VmRSS:").
inline long StatusKiB(const std::string& key) { return StatusField("/proc/self/status", key); }
