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
  return "用法：dlt645 test --port PATH [--settings 9600,E,8,1] [--profile FILE] [--suite DIR|FILE]\n"
         "                  [--case PATTERN] [--junit FILE] [--html FILE] [--verbose]\n"
         "\n"
         "通过工作台的通道（与主窗口相同的组帧、检查和应答判定规则）对PATH上的电表运行一套\n"
         "DL/T 645-2007一致性测试用例，每个用例输出一行，最后输出汇总；在终端上，下面的进度行\n"
         "给出正在运行的用例（[12/30] frame.checksum）。\n"
         "\n"
         "  --port PATH       串口（或`dlt645 simulate`输出的路径）\n"
         "  --settings TEXT   线路设置（默认" + std::string(kDefaultLine) + "）\n"
         "  --profile FILE    电表档案，一个Lua表（默认：虚拟电表的档案，即自带用例集的\n"
         "                    profiles/virtual-meter.lua）\n"
         "  --suite DIR|FILE  一个用例脚本或存放用例脚本的文件夹（默认：自带的用例集）\n"
         "  --case PATTERN    只运行标识符符合该模式的用例（frame.*、read.*）\n"
         "  --junit FILE      写出JUnit XML报告\n"
         "  --html FILE       把报告写成一个独立的HTML页面（汇总、各用例、每个用例的帧及其\n"
         "                    解析出的字段和期望）\n"
         "  --verbose         在stderr上输出通道的日志条目\n"
         "\n"
         "退出状态：0 没有用例失败或出错；1 选项有误、档案或用例集无法读取、报告路径无法写入、\n"
         "没有可运行的用例；2 有用例失败或出错，或串口无法打开。\n";
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
  if (!opts.Positional().empty()) return Bad("多余的参数“" + opts.Positional()[0] + "”");
  request.Port = opts.Get("--port");
  if (request.Port.empty()) return Bad("缺少--port");
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

const TCliRegistrar registrar({"test", "对电表运行DL/T 645-2007一致性测试用例集", Help(), RunTest});
}  // namespace
