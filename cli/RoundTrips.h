#pragma once
// The round-trip figures `dlt645 send` and `poll` print: minimum, median, nearest-rank 95th
// percentile and maximum of the measured round trips.
#include <algorithm>
#include <cstddef>
#include <vector>

struct TRoundTrips {
  double Min = 0, Median = 0, P95 = 0, Max = 0;
};

// Median: the middle value, or the mean of the two middle values for an even count. P95: the
// value of rank ceil(0.95 n) in ascending order (nearest rank), counted in whole numbers so
// that no rounding of 0.95 n moves the rank. All zero for no values.
inline TRoundTrips RoundTripFigures(std::vector<double> trips) {
  TRoundTrips f;
  if (trips.empty()) return f;
  std::sort(trips.begin(), trips.end());
  const size_t n = trips.size();
  f.Min = trips.front();
  f.Max = trips.back();
  f.Median = n % 2 ? trips[n / 2] : (trips[n / 2 - 1] + trips[n / 2]) / 2;
  const size_t rank = (95 * n + 99) / 100;  // ceil(0.95 n), 1-based
  f.P95 = trips[rank - 1];
  return f;
}
