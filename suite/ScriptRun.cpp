// Running a script of one's own against a meter.
#include "suite/ScriptRun.h"

#include <chrono>
#include <filesystem>
#include <vector>

#include "suite/Sandbox.h"
#include "suite/ScriptApi.h"

extern "C" {
#include <lua.h>
}

namespace {
// No limit asked for: a deadline that is never reached keeps the line hook (and the stop) on.
constexpr double kNoLimitSec = 1e8;

TVerdict VerdictOf(const TCaseRecord& rec) {
  for (const TExpectation& e : rec.Expectations)
    if (!e.Met) return vdFail;
  return vdPass;
}

void Finish(TCaseRecord& rec, const TScriptContext& ctx, bool ok, const std::string& error, const TScriptRunOptions& options) {
  if (options.Stop && options.Stop->load()) rec.Verdict = vdStopped, rec.Why = "运行被用户停止，脚本未完成";
  else if (ctx.Skipped) rec.Verdict = vdSkipped;
  else if (ctx.LinkFailed) rec.Verdict = vdError;
  else if (!ok) rec.Verdict = vdError, rec.Why = error;
  else rec.Verdict = VerdictOf(rec);
}
}  // namespace

TCaseRecord RunScriptFile(const std::string& file, const TMeterProfile& profile, TSuiteLink& link,
                          const TScriptRunOptions& options) {
  TCaseRecord rec;
  rec.Id = std::filesystem::path(file).filename().string();
  rec.File = file;
  TSandbox box;
  TScriptContext ctx;
  ctx.Link = &link;
  ctx.Profile = &profile;
  box.SetInterrupt(options.Stop);
  box.SetTimeLimit(options.LimitSec > 0 ? options.LimitSec : kNoLimitSec);
  std::string text, error;
  if (!box.Run(profile.Text, profile.Name, error)) {
    rec.Verdict = vdError, rec.Why = "档案有误：" + error;
    return rec;
  }
  lua_State* L = box.State();
  InstallScriptApi(L, ctx);
  std::vector<TLinkResult> results;
  SetResults(L, &results);
  ctx.Current = &rec;
  ctx.CaseStart = std::chrono::steady_clock::now();
  const bool ok = TSandbox::ReadFile(file, text, error) && box.Run(text, file, error);
  if (ok) lua_pop(L, 1);
  box.ClearTimeLimit();
  rec.DurationMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - ctx.CaseStart).count();
  Finish(rec, ctx, ok, error, options);
  ctx.Current = nullptr;
  SetResults(L, nullptr);
  return rec;
}

std::string ScriptRunText(const TCaseRecord& rec) {
  std::string text;
  int met = 0;
  for (const TExpectation& e : rec.Expectations) {
    met += e.Met;
    text += std::string(e.Met ? "满足    " : "未满足  ") + e.What + "：" + e.Observed + "\n";
  }
  text += std::string(VerdictText(rec.Verdict)) + "  " + rec.Id + "：期望 " + std::to_string(rec.Expectations.size()) +
          " 项，满足 " + std::to_string(met) + " 项\n";
  if (!rec.Why.empty()) text += "      " + rec.Why + "\n";
  return text;
}
