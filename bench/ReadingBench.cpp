// The reading of a reply's data (every reply in the main window, every check of the conformance
// suite): the longest record of the table read field by field, and finding an identifier's row
// among the table's patterns.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "protocol/Reading.h"

namespace {
// 03300801 (上1次)节假日编程记录, 1026 bytes: time, operator code, 254 holidays.
std::vector<uint8_t> HolidayRecord() {
  std::vector<uint8_t> data = {0x00, 0x15, 0x10, 0x09, 0x12, 0x26, 0x78, 0x56, 0x34, 0x12};
  for (int i = 0; i < 254; ++i) data.insert(data.end(), {0x01, 0x01, 0x01, 0x27});  // 2027-01-01 #1
  return data;
}

void BM_FormatLongestRecord(benchmark::State& state) {
  const std::vector<uint8_t> data = HolidayRecord();
  for (auto _ : state) {
    TReading r = FormatReading("03300801", data);
    benchmark::DoNotOptimize(r.Text.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatLongestRecord);

void BM_FormatEnergy(benchmark::State& state) {
  const std::vector<uint8_t> data = {0x67, 0x45, 0x23, 0x01};
  for (auto _ : state) {
    TReading r = FormatReading("00013F0C", data);
    benchmark::DoNotOptimize(r.Text.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatEnergy);

void BM_FindRow(benchmark::State& state) {
  const char* ids[] = {"00013F0C", "020A0315", "0330050A", "04000101", "06000001", "0001400D"};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindReadingFormat(ids[i++ % 6]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindRow);
}  // namespace

BENCHMARK_MAIN();
