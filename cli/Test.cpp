// `dlt645 test`: runs a conformance suite against one meter through the workbench's channel.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>

#include "cli/Command.h"
#include "cli/Exchange.h"
#include "cli/SuiteLink.h"
#include "suite/CaseCount.h"
#include "suite/Report.h"
#include "suite/Runner.h"

namespace {
const char* const kDefaultLine = "9600,E,8,1";
enum TTestExit : int { teOk = 0, teBadOption = 1, teFailed = 2 };

std::string Help() {
  return "Usage: dlt645 test --port PATH [--settings 9600,E,8,1] [--profile FILE] [--suite DIR|FILE]\n"
         "                   [--case PATTERN] [--junit FILE] [--html FILE] [--verbose]\n"
         "\n"
         "Runs the cases of a DL/T 645-2007 conformance suite against the meter on PATH through the\n"
         "workbench's channel (the same framing, checks and answer rule as the main window) and\n"
         "prints one line per case and a summary; on a terminal a progress line below them names\n"
         "the case that runs ([12/30] frame.checksum).\n"
         "\n"
         "  --port PATH       the serial port (or the path `dlt645 simulate` prints)\n"
         "  --settings TEXT   line settings (default " + std::string(kDefaultLine) + ")\n"
         "  --profile FILE    the meter profile, a Lua table (default: the virtual meter's,\n"
         "                    profiles/virtual-meter.lua of the bundled suite)\n"
         "  --suite DIR|FILE  a case script or a folder of them (default: the bundled suite)\n"
         "  --case PATTERN    run only the cases whose id fits the pattern (frame.*, read.*)\n"
         "  --junit FILE      write a JUnit XML report\n"
         "  --html FILE       write the report as one self-contained HTML page (summary, cases,\n"
         "                    each case's frames with their decoded fields and expectations)\n"
         "  --verbose         print the channel's log entries on stderr\n"
         "\n"
         "Exit status: 0 no case failed or ended in error; 1 bad options, an unreadable profile or\n"
         "suite, a report path that cannot be written, no case to run; 2 a case failed or ended\n"
         "in error, or the port cannot be opened.\n";
}

int Bad(const std::string& message) {
  std::cerr << "dlt645 test: " << message << "\n";
  return teBadOption;
}

// Creates (empties) the report file now, so that a path that cannot be written is said before
// the first case runs.
bool Writable(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out);
}

bool WriteReport(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

struct TTestRequest {
  std::string Port, Line = kDefaultLine, Junit, Html, ProfilePath, SuitePath;
  TMeterProfile Profile;
  std::vector<std::string> Files;
  TRunOptions Options;
  bool Verbose = false;
};

int ParseTestRequest(const std::vector<std::string>& raw, TTestRequest& request) {
  TCliArgs opts;
  std::string error;
  if (!opts.Parse(TakeLineSettings(raw, request.Line), {"--port", "--profile", "--suite", "--case", "--junit", "--html"},
                  {"--verbose"}, error))
    return Bad(error);
  if (!opts.Positional().empty()) return Bad("unexpected argument '" + opts.Positional()[0] + "'");
  request.Port = opts.Get("--port");
  if (request.Port.empty()) return Bad("--port is required");
  request.ProfilePath = opts.Get("--profile", BundledSuiteDir() + "/profiles/virtual-meter.lua");
  if (!LoadProfile(request.ProfilePath, request.Profile, error)) return Bad(error);
  request.SuitePath = opts.Get("--suite", BundledSuiteDir());
  if (!SuiteFiles(request.SuitePath, request.Files, error)) return Bad(error);
  request.Options.Pattern = opts.Get("--case");
  request.Junit = opts.Get("--junit");
  request.Html = opts.Get("--html");
  for (const std::string& report : {request.Junit, request.Html})
    if (!report.empty() && !Writable(report)) return Bad("无法写入报告文件：" + report);
  request.Verbose = opts.Has("--verbose");
  return teOk;
}

std::string LocalTimeText(std::time_t t) {
  std::tm parts{};
  localtime_r(&t, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

// Case lines as they end; on a terminal also the progress line below them, redrawn in place.
void InstallProgress(TTestRequest& request) {
  if (!isatty(STDOUT_FILENO)) {
    request.Options.CaseEnded = [](const TCaseRecord& rec) { std::cout << CaseLine(rec) << std::flush; };
    return;
  }
  const int total = CountCases(request.Files, request.Profile, request.Options.Pattern);
  auto started = std::make_shared<int>(0);
  request.Options.CaseStarting = [total, started](const TCaseRecord& rec) {
    std::cout << "\r\033[K" << ProgressLine(++*started, std::max(total, *started), rec.Id) << std::flush;
  };
  request.Options.CaseEnded = [](const TCaseRecord& rec) { std::cout << "\r\033[K" << CaseLine(rec) << std::flush; };
}

void WriteReports(const TTestRequest& request, const std::vector<TCaseRecord>& cases, const TRunInfo& info) {
  if (!request.Junit.empty() && !WriteReport(request.Junit, JUnitXml(cases, info.Name)))
    std::cerr << "dlt645 test: 无法写入报告文件：" << request.Junit << "\n";
  if (!request.Html.empty() && !WriteReport(request.Html, HtmlReport(cases, info)))
    std::cerr << "dlt645 test: 无法写入报告文件：" << request.Html << "\n";
}

int RunTest(const std::vector<std::string>& args) {
  TTestRequest request;
  if (int bad = ParseTestRequest(args, request); bad != teOk) return bad;
  TCliLink link(TPreamble{}, request.Verbose);
  std::string error;
  if (!link.Open(request.Port, request.Line, error)) {
    std::cerr << "dlt645 test: " << error << "\n";
    return teFailed;
  }
  TCliSuiteLink suiteLink(link);
  InstallProgress(request);
  request.Options.Stop = &InterruptFlag();  // Ctrl-C: the case in progress ends as stopped, reports are written
  TRunInfo info{"DL/T 645-2007", request.Port, request.Profile.Address, request.ProfilePath, request.SuitePath,
                LocalTimeText(std::time(nullptr)), 0};
  const auto start = std::chrono::steady_clock::now();
  const std::vector<TCaseRecord> cases = RunSuite(request.Files, request.Profile, suiteLink, request.Options);
  info.DurationMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  link.Close();
  // A run of no case proves nothing: it is not reported as passed.
  if (cases.empty()) return Bad("没有可运行的用例（脚本中没有定义用例，或没有符合 --case 的用例）");
  const TRunCounts counts = CountVerdicts(cases);
  std::cout << SummaryLine(counts) << "\n";
  if (suiteLink.Lost > 0) std::cout << "Lost=" << suiteLink.Lost << "\n";
  WriteReports(request, cases, info);
  return counts.Failed + counts.Errors > 0 ? teFailed : teOk;
}

const TCliRegistrar registrar({"test", "run a DL/T 645-2007 conformance suite against a meter", Help(), RunTest});
}  // namespace
