// The meter profile file.
#include "suite/Profile.h"

#include <algorithm>
#include <cctype>

#include "suite/Sandbox.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "suite/LuaRaw.h"

namespace {
bool AllHex(const std::string& text, size_t size, bool decimal) {
  return text.size() == size && std::all_of(text.begin(), text.end(), [decimal](char c) {
           return decimal ? std::isdigit(static_cast<unsigned char>(c)) != 0
                          : std::isxdigit(static_cast<unsigned char>(c)) != 0;
         });
}

std::string WrongType(const char* field, const char* want) {
  return std::string("档案字段 ") + field + " 应为" + want;
}

// Field `name` of the table on top: absent is fine; present with another type is an error.
bool StringField(lua_State* L, const char* name, std::string& out, std::string& error) {
  const int type = RawField(L, -1, name);
  if (type == LUA_TSTRING) out = lua_tostring(L, -1);
  lua_pop(L, 1);
  if (type != LUA_TNIL && type != LUA_TSTRING) error = WrongType(name, "文本");
  return error.empty();
}

bool ReadAddress(lua_State* L, TMeterProfile& p, std::string& error) {
  if (!StringField(L, "address", p.Address, error)) return false;
  if (!AllHex(p.Address, 12, false)) error = "档案字段 address 应为 12 位地址：" + p.Address;
  return error.empty();
}

bool ReadControls(lua_State* L, TMeterProfile& p, std::string& error) {
  const int type = RawField(L, -1, "controls");
  if (type == LUA_TTABLE) {
    const lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, -1));
    for (lua_Integer i = 1; i <= n && error.empty(); ++i) {
      lua_rawgeti(L, -1, i);
      if (lua_isinteger(L, -1) && lua_tointeger(L, -1) >= 0 && lua_tointeger(L, -1) <= 0x1F)
        p.Controls.push_back(static_cast<int>(lua_tointeger(L, -1)));
      else
        error = "档案字段 controls 的第 " + std::to_string(i) + " 项应为 0x00 至 0x1F 的控制码";
      lua_pop(L, 1);
    }
  } else if (type != LUA_TNIL) {
    error = WrongType("controls", "控制码表");
  }
  lua_pop(L, 1);
  return error.empty();
}

bool ReadIdentifierSet(lua_State* L, const std::string& set, std::vector<std::string>& out, std::string& error) {
  if (!lua_istable(L, -1)) {
    error = "档案字段 identifiers." + set + " 应为标识表";
    return false;
  }
  const lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, -1));
  for (lua_Integer i = 1; i <= n && error.empty(); ++i) {
    lua_rawgeti(L, -1, i);
    const char* di = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "";
    if (AllHex(di, 8, false)) out.push_back(di);
    else error = "档案字段 identifiers." + set + " 的第 " + std::to_string(i) + " 项应为 8 位数据标识";
    lua_pop(L, 1);
  }
  return error.empty();
}

bool ReadIdentifiers(lua_State* L, TMeterProfile& p, std::string& error) {
  const int type = RawField(L, -1, "identifiers");
  if (type == LUA_TTABLE) {
    lua_pushnil(L);
    while (error.empty() && lua_next(L, -2)) {
      if (lua_type(L, -2) == LUA_TSTRING) {
        const std::string set = lua_tostring(L, -2);
        ReadIdentifierSet(L, set, p.Identifiers[set], error);
      } else {
        error = WrongType("identifiers", "以名称为键的标识集");
      }
      lua_pop(L, 1);
    }
    if (!error.empty()) lua_pop(L, 1);  // the key lua_next left
  } else if (type != LUA_TNIL) {
    error = WrongType("identifiers", "标识集表");
  }
  lua_pop(L, 1);
  return error.empty();
}

bool ReadDestructive(lua_State* L, TMeterProfile& p, std::string& error) {
  const int type = RawField(L, -1, "destructive");
  if (type == LUA_TTABLE) {
    lua_pushnil(L);
    while (lua_next(L, -2)) {
      if (lua_type(L, -2) == LUA_TSTRING && lua_isboolean(L, -1)) p.Destructive[lua_tostring(L, -2)] = lua_toboolean(L, -1);
      else if (error.empty()) error = WrongType("destructive", "名称到 true/false 的表");
      lua_pop(L, 1);
    }
  } else if (type != LUA_TNIL) {
    error = WrongType("destructive", "表");
  }
  lua_pop(L, 1);
  return error.empty();
}

bool NumberField(lua_State* L, const char* name, double low, double high, double& out, std::string& error) {
  const int type = RawField(L, -1, name);
  if (type == LUA_TNUMBER && lua_tonumber(L, -1) >= low && lua_tonumber(L, -1) <= high) out = lua_tonumber(L, -1);
  else if (type != LUA_TNIL) error = std::string("档案字段 timing.") + name + " 应为 " + std::to_string(int(low)) + " 至 " + std::to_string(int(high)) + " 的数";
  lua_pop(L, 1);
  return error.empty();
}

bool ReadTiming(lua_State* L, TMeterProfile& p, std::string& error) {
  const int type = RawField(L, -1, "timing");
  if (type == LUA_TTABLE) {
    double timeout = p.ReplyTimeoutSec;
    if (NumberField(L, "reply_timeout_s", 1, 60, timeout, error) &&
        NumberField(L, "response_min_ms", 0, 60000, p.ResponseMinMs, error) &&
        NumberField(L, "response_max_ms", 0, 60000, p.ResponseMaxMs, error) &&
        NumberField(L, "byte_gap_max_ms", 0, 60000, p.ByteGapMaxMs, error))
      NumberField(L, "no_reply_ms", 1, 60000, p.NoReplyMs, error);
    p.ReplyTimeoutSec = static_cast<int>(timeout);
  } else if (type != LUA_TNIL) {
    error = WrongType("timing", "表");
  }
  lua_pop(L, 1);
  return error.empty();
}
}  // namespace

bool TMeterProfile::Supports(int ctrl) const {
  return std::find(Controls.begin(), Controls.end(), ctrl) != Controls.end();
}

bool TMeterProfile::Allows(const std::string& destructive) const {
  auto it = Destructive.find(destructive);
  return it != Destructive.end() && it->second;
}

bool ReadProfileTable(lua_State* L, TMeterProfile& profile, std::string& error) {
  if (!lua_istable(L, -1)) {
    error = "档案文件应返回一个表";
    return false;
  }
  return ReadAddress(L, profile, error) && ReadControls(L, profile, error) && ReadIdentifiers(L, profile, error) &&
         ReadDestructive(L, profile, error) && ReadTiming(L, profile, error);
}

bool ProfileFromText(const std::string& text, const std::string& name, TMeterProfile& profile, std::string& error) {
  TSandbox box;
  box.SetTimeLimit(1);
  if (!box.Run(text, name, error)) {
    error = "档案有误：" + error;
    return false;
  }
  TMeterProfile read;
  read.Text = text;
  read.Name = name;
  if (!ReadProfileTable(box.State(), read, error)) {
    error = name + "：" + error;
    return false;
  }
  profile = read;
  return true;
}

bool LoadProfile(const std::string& path, TMeterProfile& profile, std::string& error) {
  std::string text;
  return TSandbox::ReadFile(path, text, error) && ProfileFromText(text, path, profile, error);
}
