// Counting the cases of a run before it starts.
#include "suite/CaseCount.h"

#include <fnmatch.h>

#include "suite/Sandbox.h"
#include "suite/ScriptApi.h"

extern "C" {
#include <lua.h>
}

#include "suite/LuaRaw.h"

namespace {
constexpr double kLoadLimitSec = 5;

int CountInFile(const std::string& file, const TMeterProfile& profile, const std::string& pattern) {
  TSandbox box;
  TScriptContext ctx;  // no link: a top level that exchanges fails here as it fails in the run
  ctx.Profile = &profile;
  std::string text, error;
  box.SetTimeLimit(kLoadLimitSec);
  if (!box.Run(profile.Text, profile.Name, error)) return 1;
  lua_State* L = box.State();
  InstallScriptApi(L, ctx);
  if (!TSandbox::ReadFile(file, text, error) || !box.Run(text, file, error)) return 1;
  lua_pop(L, 1);
  PushCases(L);
  int count = 0;
  const lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, -1));
  for (lua_Integer i = 1; i <= n; ++i) {
    lua_rawgeti(L, -1, i);
    RawField(L, -1, "id");
    const char* id = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "";
    if (pattern.empty() || fnmatch(pattern.c_str(), id, 0) == 0) ++count;
    lua_pop(L, 2);
  }
  lua_pop(L, 1);
  return count;
}
}  // namespace

int CountCases(const std::vector<std::string>& files, const TMeterProfile& profile, const std::string& pattern) {
  int total = 0;
  for (const std::string& file : files) total += CountInFile(file, profile, pattern);
  return total;
}
