// Cost of one frame entry in the daily log: type 2 from the sending thread, "发送报文：" followed
// by a 16-byte frame as hex text, written to a log in a temporary folder.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "services/Log.h"

namespace {

std::string MakeTempFolder() {
  std::string tmpl = "/tmp/dlt_logbench_XXXXXX";
  char* p = mkdtemp(tmpl.data());
  return p ? p : "/tmp";
}

void RemoveFolder(const std::string& folder) {
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

const std::string FramePrefix = "\xE5\x8F\x91\xE9\x80\x81\xE6\x8A\xA5\xE6\x96\x87\xEF\xBC\x9A";  // 发送报文：

void BM_WriteLogFrameEntry(benchmark::State& state) {
  std::string folder = MakeTempFolder();
  {
    TLog log(folder);
    const std::string text = FramePrefix + "68AAAAAAAAAAAA68110433333333A116";  // 16 bytes
    for (auto _ : state) log.WriteLog(ltDebug, "TFrameSendThread.Execute", text);
    state.SetItemsProcessed(state.iterations());
  }
  RemoveFolder(folder);
}
BENCHMARK(BM_WriteLogFrameEntry);

// The filtered case: the entry's type is not selected, so nothing is formatted or written.
void BM_WriteLogFiltered(benchmark::State& state) {
  std::string folder = MakeTempFolder();
  {
    std::string ini = folder + "/logtype.ini";
    if (FILE* f = std::fopen(ini.c_str(), "wb")) {
      std::fputs("[LOG]\r\nLogContent=8\r\n", f);
      std::fclose(f);
    }
    TLog log(folder);
    const std::string text = FramePrefix + "68AAAAAAAAAAAA68110433333333A116";
    for (auto _ : state) log.WriteLog(ltDebug, "TFrameSendThread.Execute", text);
  }
  RemoveFolder(folder);
}
BENCHMARK(BM_WriteLogFiltered);

}  // namespace

BENCHMARK_MAIN();
