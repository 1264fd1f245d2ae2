// `dlt645 run`: a script of one's own against one meter, with the test engine's `dlt` API.
#include <iostream>

#include "cli/Command.h"
#include "cli/Exchange.h"
#include "cli/SuiteLink.h"
#include "suite/Runner.h"
#include "suite/Sandbox.h"
#include "suite/ScriptRun.h"

namespace {
const char* const kDefaultLine = "9600,E,8,1";
enum TRunExit : int { reOk = 0, reBadOption = 1, reFailed = 2 };

std::string Help() {
  return "用法：dlt645 run SCRIPT.lua --port PATH [--settings 9600,E,8,1] [--profile FILE]\n"
         "                 [--limit SECONDS] [--verbose]\n"
         "\n"
         "通过工作台的通道对PATH上的电表运行一个自己的Lua脚本。脚本的顶层可以使用测试用例的\n"
         "API：dlt.read、dlt.send、dlt.raw、dlt.pack、各个dlt.expect_*检查、dlt.wait、dlt.info\n"
         "和dlt.profile；print()写到标准输出。结束时列出每条期望及观察到的结果，然后是结论。\n"
         "Ctrl-C结束脚本。\n"
         "\n"
         "  --port PATH       串口（或`dlt645 simulate`输出的路径）\n"
         "  --settings TEXT   线路设置（默认" + std::string(kDefaultLine) + "）\n"
         "  --profile FILE    电表档案，一个Lua表（默认：虚拟电表的档案）\n"
         "  --limit SECONDS   脚本运行超过这个时间时将其结束（默认：不限）\n"
         "  --verbose         在stderr上输出通道的日志条目\n"
         "\n"
         "退出状态：0 每条期望都满足；1 选项有误、脚本或档案无法读取；2 有期望未满足、脚本出错\n"
         "（文件:行）、有交互无法完成、串口无法打开，或被Ctrl-C结束。\n";
}

int Bad(const std::string& message) {
  std::cerr << "dlt645 run: " << message << "\n";
  return reBadOption;
}

struct TRunRequest {
  std::string Script, Port, Line = kDefaultLine;
  TMeterProfile Profile;
  TScriptRunOptions Options;
  bool Verbose = false;
};

bool ParseLimit(const std::string& text, double& seconds) {
  size_t used = 0;
  try {
    seconds = std::stod(text, &used);
  } catch (const std::exception&) {
    return false;
  }
  return used == text.size() && seconds >= 1 && seconds <= 86400;
}

int ParseRunRequest(const std::vector<std::string>& raw, TRunRequest& request) {
  TCliArgs opts;
  std::string error;
  if (!opts.Parse(TakeLineSettings(raw, request.Line), {"--port", "--profile", "--limit"}, {"--verbose"}, error))
    return Bad(error);
  if (opts.Positional().size() != 1) return Bad(opts.Positional().empty() ? "缺少脚本" : "只能给出一个脚本");
  request.Script = opts.Positional()[0];
  request.Port = opts.Get("--port");
  if (request.Port.empty()) return Bad("缺少--port");
  if (opts.Has("--limit") && !ParseLimit(opts.Get("--limit"), request.Options.LimitSec))
    return Bad("--limit应为1到86400之间的秒数");
  std::string text;
  if (!TSandbox::ReadFile(request.Script, text, error)) return Bad(error);
  if (!LoadProfile(opts.Get("--profile", BundledSuiteDir() + "/profiles/virtual-meter.lua"), request.Profile, error))
    return Bad(error);
  request.Verbose = opts.Has("--verbose");
  return reOk;
}

int RunScript(const std::vector<std::string>& args) {
  TRunRequest request;
  if (int bad = ParseRunRequest(args, request); bad != reOk) return bad;
  TCliLink link(TPreamble{}, request.Verbose);
  std::string error;
  if (!link.Open(request.Port, request.Line, error)) {
    std::cerr << "dlt645 run: " << error << "\n";
    return reFailed;
  }
  TCliSuiteLink suiteLink(link);
  request.Options.Stop = &InterruptFlag();
  const TCaseRecord rec = RunScriptFile(request.Script, request.Profile, suiteLink, request.Options);
  link.Close();
  std::cout << std::flush;
  std::cout << ScriptRunText(rec);
  return rec.Verdict == vdPass || rec.Verdict == vdSkipped ? reOk : reFailed;
}

const TCliRegistrar registrar({"run", "对电表运行自己的Lua脚本", Help(), RunScript});
}  // namespace
