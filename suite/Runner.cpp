// Runs suite files against one meter.
#include "suite/Runner.h"

#include <fnmatch.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "suite/Sandbox.h"
#include "suite/ScriptApi.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "suite/LuaRaw.h"

namespace fs = std::filesystem;

namespace {
std::string Stem(const std::string& path) { return fs::path(path).stem().string(); }

std::string TextField(lua_State* L, const char* name) {
  RawField(L, -1, name);
  std::string value = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "";
  lua_pop(L, 1);
  return value;
}

// True when field `name` of the table on top is of `type`; its value in `text` or `number`.
bool RequiredField(lua_State* L, const char* name, int type, std::string& text, lua_Integer& number) {
  const bool ok = RawField(L, -1, name) == type;
  if (ok && type == LUA_TSTRING) text = lua_tostring(L, -1);
  if (ok && type == LUA_TNUMBER) number = lua_tointeger(L, -1);
  lua_pop(L, 1);
  return ok;
}

// Why the profile keeps the case on top of the stack from running; empty when it may run.
std::string UnmetRequirement(lua_State* L, const TMeterProfile& profile) {
  std::string why, text;
  lua_Integer ctrl = 0;
  if (RawField(L, -1, "requires") == LUA_TTABLE) {
    if (RequiredField(L, "ctrl", LUA_TNUMBER, text, ctrl) && !profile.Supports(static_cast<int>(ctrl))) {
      char line[64];
      std::snprintf(line, sizeof line, "档案未列出控制码 %02XH", static_cast<int>(ctrl) & 0xFF);
      why = line;
    } else if (RequiredField(L, "set", LUA_TSTRING, text, ctrl) && !profile.Identifiers.count(text)) {
      why = "档案未列出标识集 " + text;
    } else if (RequiredField(L, "destructive", LUA_TSTRING, text, ctrl) && !profile.Allows(text)) {
      why = "档案不允许破坏性操作 " + text;
    }
  }
  lua_pop(L, 1);
  return why;
}

TVerdict VerdictOf(const TCaseRecord& rec) {
  for (const TExpectation& e : rec.Expectations)
    if (!e.Met) return vdFail;
  return vdPass;
}

// Runs the case table on top of the stack (left there) into `rec`.
void RunOneCase(TSandbox& box, TScriptContext& ctx, const TRunOptions& options, TCaseRecord& rec) {
  lua_State* L = box.State();
  std::vector<TLinkResult> results;
  SetResults(L, &results);
  ctx.Current = &rec;
  ctx.Skipped = ctx.LinkFailed = false;
  ctx.CaseStart = std::chrono::steady_clock::now();
  RawField(L, -1, "run");
  box.SetTimeLimit(options.CaseLimitSec);
  std::string error;
  const bool ok = box.Call(error);
  box.ClearTimeLimit();
  rec.DurationMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - ctx.CaseStart).count();
  if (ctx.Skipped) rec.Verdict = vdSkipped;
  else if (ctx.LinkFailed) rec.Verdict = vdError;
  else if (!ok) rec.Verdict = vdError, rec.Why = error;
  else rec.Verdict = VerdictOf(rec);
  ctx.Current = nullptr;
  SetResults(L, nullptr);
}

bool Stopped(const TRunOptions& options) { return options.Stop && options.Stop->load(); }

TCaseRecord FileError(const std::string& file, const std::string& why) {
  TCaseRecord rec;
  rec.Id = Stem(file);
  rec.Title = "载入脚本";
  rec.File = file;
  rec.Verdict = vdError;
  rec.Why = why;
  return rec;
}

// One record per case of the file that the pattern selects; the file's own failure as one error.
void RunFile(const std::string& file, const TMeterProfile& profile, TSuiteLink& link, const TRunOptions& options,
             bool& linkLost, std::vector<TCaseRecord>& out) {
  std::string text, error;
  TSandbox box;
  TScriptContext ctx;
  ctx.Link = &link;
  ctx.Profile = &profile;
  ctx.Stop = options.Stop;
  box.SetInterrupt(options.Stop);
  box.SetTimeLimit(options.CaseLimitSec);
  if (!box.Run(profile.Text, profile.Name, error)) {
    out.push_back(FileError(file, "档案有误：" + error));
    return;
  }
  InstallScriptApi(box.State(), ctx);
  const bool loaded = TSandbox::ReadFile(file, text, error) && box.Run(text, file, error);
  box.ClearTimeLimit();
  if (!loaded) {
    out.push_back(FileError(file, error));
    return;
  }
  lua_State* L = box.State();
  lua_pop(L, 1);  // the file's result
  PushCases(L);
  const lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, -1));
  for (lua_Integer i = 1; i <= n && !Stopped(options); ++i) {
    lua_rawgeti(L, -1, i);
    TCaseRecord rec;
    rec.Id = TextField(L, "id");
    rec.Title = TextField(L, "title");
    rec.Clause = TextField(L, "clause");
    rec.File = file;
    if (options.Pattern.empty() || fnmatch(options.Pattern.c_str(), rec.Id.c_str(), 0) == 0) {
      if (options.CaseStarting) options.CaseStarting(rec);
      const std::string unmet = UnmetRequirement(L, profile);
      if (linkLost) rec.Verdict = vdError, rec.Why = "通信链路已断开，用例未执行";
      else if (!unmet.empty()) rec.Verdict = vdSkipped, rec.Why = unmet;
      else RunOneCase(box, ctx, options, rec);
      if (Stopped(options)) rec.Verdict = vdStopped, rec.Why = "运行被用户停止，用例未完成";
      if (ctx.LinkLost && !linkLost && !Stopped(options)) linkLost = !link.AwaitReturn(options.LinkReturnSec);
      ctx.LinkLost = false;
      if (options.CaseEnded) options.CaseEnded(rec);
      out.push_back(rec);
    }
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
}
}  // namespace

bool SuiteFiles(const std::string& dirOrFile, std::vector<std::string>& files, std::string& error) {
  std::error_code ec;
  if (fs::is_regular_file(dirOrFile, ec)) {
    files = {dirOrFile};
    return true;
  }
  if (!fs::is_directory(dirOrFile, ec)) {
    error = "找不到用例文件或目录：" + dirOrFile;
    return false;
  }
  files.clear();
  for (const auto& entry : fs::directory_iterator(dirOrFile, ec))
    if (entry.is_regular_file() && entry.path().extension() == ".lua") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  if (files.empty()) error = "目录中没有用例脚本（*.lua）：" + dirOrFile;
  return !files.empty();
}

std::string BundledSuiteDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path installed = exe.parent_path().parent_path() / "share" / "dlt645-workbench" / "suite";
    if (fs::is_directory(installed, ec)) return installed.string();
  }
  return DLT_SOURCE_SUITE_DIR;
}

std::vector<TCaseRecord> RunSuite(const std::vector<std::string>& files, const TMeterProfile& profile,
                                  TSuiteLink& link, const TRunOptions& options) {
  std::vector<TCaseRecord> out;
  bool linkLost = false;
  for (const std::string& file : files)
    if (!Stopped(options)) RunFile(file, profile, link, options, linkLost, out);
  return out;
}
