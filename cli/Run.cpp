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
  return "Usage: dlt645 run SCRIPT.lua --port PATH [--settings 9600,E,8,1] [--profile FILE]\n"
         "                  [--limit SECONDS] [--verbose]\n"
         "\n"
         "Runs a Lua script of one's own against the meter on PATH through the workbench's\n"
         "channel. The script's top level runs with the API of the test cases: dlt.read,\n"
         "dlt.send, dlt.raw, dlt.pack, the dlt.expect_* checks, dlt.wait, dlt.info and\n"
         "dlt.profile; print() writes to standard output. At the end every expectation is\n"
         "listed with what was observed, then the verdict. Ctrl-C ends the script.\n"
         "\n"
         "  --port PATH       the serial port (or the path `dlt645 simulate` prints)\n"
         "  --settings TEXT   line settings (default " + std::string(kDefaultLine) + ")\n"
         "  --profile FILE    the meter profile, a Lua table (default: the virtual meter's)\n"
         "  --limit SECONDS   end the script when it runs longer (default: no limit)\n"
         "  --verbose         print the channel's log entries on stderr\n"
         "\n"
         "Exit status: 0 every expectation was met; 1 bad options, an unreadable script or\n"
         "profile; 2 an expectation was not met, the script raised an error (file:line), an\n"
         "exchange could not be carried out, the port cannot be opened, or Ctrl-C ended it.\n";
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
  if (opts.Positional().size() != 1) return Bad(opts.Positional().empty() ? "a script is required" : "one script only");
  request.Script = opts.Positional()[0];
  request.Port = opts.Get("--port");
  if (request.Port.empty()) return Bad("--port is required");
  if (opts.Has("--limit") && !ParseLimit(opts.Get("--limit"), request.Options.LimitSec))
    return Bad("--limit wants seconds (1 to 86400)");
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

const TCliRegistrar registrar({"run", "run a Lua script of one's own against a meter", Help(), RunScript});
}  // namespace
