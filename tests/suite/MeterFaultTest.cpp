// Each fault of the virtual meter fails the conformance case meant for it and no other: the
// whole bundled suite runs against the meter with the fault, and the set of cases that did not
// pass is compared with the cases that check what the fault breaks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "sim/VirtualMeter.h"
#include "tests/cli/RunProcess.h"

namespace {
namespace fs = std::filesystem;

// The ids of the cases a run reports as failed or in error ("失败  id  title").
std::set<std::string> NotPassed(const std::string& out) {
  std::set<std::string> ids;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    for (const std::string& word : {std::string("失败  "), std::string("错误  ")})
      if (line.rfind(word, 0) == 0) ids.insert(line.substr(word.size(), line.find("  ", word.size()) - word.size()));
  }
  return ids;
}

// The bundled profile of the virtual meter with `from` replaced by `to`, written to `path`.
void WriteProfile(const fs::path& path, const std::vector<std::pair<std::string, std::string>>& changes) {
  std::ifstream in(std::string(DLT_SOURCE_DIR) + "/suite/bundled/profiles/virtual-meter.lua");
  std::stringstream read;
  read << in.rdbuf();
  std::string text = read.str();
  for (const auto& [from, to] : changes) {
    ASSERT_NE(text.find(from), std::string::npos) << from;
    text.replace(text.find(from), from.size(), to);
  }
  std::ofstream(path.string()) << text;
}

TEST(MeterFaults, EachFaultFailsTheCaseMeantForItAndNoOther) {
  const std::set<std::string> energy = {"read.energy.00010000", "read.energy.00020000", "read.energy.00010100",
                                        "read.energy.00010400", "read.block", "read.block_total"};
  struct TRow {
    const char* Fault;
    std::function<void(TMeterFaults&)> Set;
    std::set<std::string> Fails;
    const char* Profile = "wait.lua";
  } rows[] = {
      {"none", [](TMeterFaults&) {}, {}},
      {"answers frames for other addresses", [](TMeterFaults& f) { f.AnswerAnyAddress = true; }, {"frame.other_address"}},
      {"energy readings one byte short", [](TMeterFaults& f) { f.ShortEnergy = true; }, energy},
      {"answers frames with a wrong checksum", [](TMeterFaults& f) { f.AnswerBadChecksum = true; }, {"frame.checksum"}},
      {"ignores the shortened address", [](TMeterFaults& f) { f.IgnoreShortened = true; }, {"frame.shortened"}},
      // 22 + 150 ms: later than the 100 ms this run's profile allows (a busy machine only adds).
      {"answers too late", [](TMeterFaults& f) { f.DelayMs = 150; }, {"frame.response_time"}, "strict.lua"},
  };
  const fs::path dir = fs::temp_directory_path() / ("dlt-meter-faults-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  // A frame the meter wrongly answers must show within the no-reply wait even on a busy machine.
  WriteProfile(dir / "wait.lua", {{"no_reply_ms = 100", "no_reply_ms = 400"}});
  WriteProfile(dir / "strict.lua", {{"no_reply_ms = 100", "no_reply_ms = 400"}, {"response_max_ms = 500", "response_max_ms = 100"}});

  TMeterOptions options;
  options.ResponseMs = 22;
  TVirtualMeter meter(options);
  std::string error;
  ASSERT_TRUE(meter.Start(error)) << error;
  for (const TRow& row : rows) {
    TMeterFaults faults;
    row.Set(faults);
    meter.SetFaults(faults);
    const TProcessResult r =
        RunProcess({DLT645_BIN, "test", "--port", meter.PortPath(), "--profile", (dir / row.Profile).string()}, 120000);
    EXPECT_EQ(r.ExitCode, row.Fails.empty() ? 0 : 2) << row.Fault << "\n" << r.Out;
    EXPECT_EQ(NotPassed(r.Out), row.Fails) << row.Fault << "\n" << r.Out;
  }
  fs::remove_all(dir);
}

// A meter that goes away mid-run: the case in progress and every later one end as errors, none
// of them as passed, and the JUnit report is still written with those errors.
TEST(MeterFaults, AMeterThatDisappearsMidRunLeavesTheRestAsErrorsAndTheReportWritten) {
  TMeterOptions options;
  options.ResponseMs = 22;
  TVirtualMeter meter(options);
  std::string error;
  ASSERT_TRUE(meter.Start(error)) << error;
  const fs::path junit = fs::temp_directory_path() / ("dlt-vanish-" + std::to_string(::getpid()) + ".xml");
  TProcessResult r;
  std::thread run([&] { r = RunProcess({DLT645_BIN, "test", "--port", meter.PortPath(), "--junit", junit.string()}, 120000); });
  for (int i = 0; i < 2000 && meter.RepliesSent() < 8; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  meter.ClosePeer();
  run.join();
  EXPECT_EQ(r.ExitCode, 2) << r.Out;
  const size_t firstError = r.Out.find("\n错误  ");
  ASSERT_NE(firstError, std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("\n通过  ", firstError), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("通信链路已断开，用例未执行"), std::string::npos) << r.Out;
  std::ifstream in(junit);
  const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(xml.find("通信链路已断开，用例未执行"), std::string::npos) << xml;
  fs::remove(junit);
}
}  // namespace
