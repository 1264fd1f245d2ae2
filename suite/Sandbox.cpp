// The sandboxed Lua state of the test engine.
#include "suite/Sandbox.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace {
// load() with text chunks only: a binary chunk can break the interpreter's own checks.
int SafeLoad(lua_State* L) {
  const int top = lua_gettop(L);
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_pushvalue(L, 1);
  if (top >= 2) lua_pushvalue(L, 2); else lua_pushnil(L);
  lua_pushstring(L, "t");
  if (top >= 4) lua_pushvalue(L, 4);  // an env given as nil stays nil; none given: the globals
  lua_call(L, top >= 4 ? 4 : 3, LUA_MULTRET);
  return lua_gettop(L) - top;
}

// Keeps the message as the script raised it (it carries file:line already); other values are
// given a text.
int MessageHandler(lua_State* L) {
  if (!lua_isstring(L, 1)) lua_pushfstring(L, "脚本抛出了非文本的错误（%s）", luaL_typename(L, 1));
  return 1;
}
}  // namespace

TSandbox::TSandbox() {
  L = lua_newstate(&TSandbox::Alloc, this);
  if (L) OpenSafeLibraries();
}

TSandbox::~TSandbox() {
  if (L) lua_close(L);
}

void* TSandbox::Alloc(void* ud, void* ptr, size_t osize, size_t nsize) {
  auto* self = static_cast<TSandbox*>(ud);
  const size_t old = ptr ? osize : 0;
  if (nsize == 0) {
    self->Used -= old;
    std::free(ptr);
    return nullptr;
  }
  if (nsize > old && self->Used + (nsize - old) > MemoryLimit) return nullptr;
  void* fresh = std::realloc(ptr, nsize);
  if (fresh) self->Used = self->Used - old + nsize;
  return fresh;
}

void TSandbox::OpenSafeLibraries() {
  const luaL_Reg libs[] = {{LUA_GNAME, luaopen_base}, {LUA_STRLIBNAME, luaopen_string},
                           {LUA_TABLIBNAME, luaopen_table}, {LUA_MATHLIBNAME, luaopen_math},
                           {LUA_UTF8LIBNAME, luaopen_utf8}};
  for (const luaL_Reg& lib : libs) {
    luaL_requiref(L, lib.name, lib.func, 1);
    lua_pop(L, 1);
  }
  for (const char* name : {"dofile", "loadfile"}) {
    lua_pushnil(L);
    lua_setglobal(L, name);
  }
  lua_getglobal(L, "load");
  lua_pushcclosure(L, SafeLoad, 1);
  lua_setglobal(L, "load");
  lua_getglobal(L, "string");
  lua_pushnil(L);
  lua_setfield(L, -2, "dump");
  lua_pop(L, 1);
}

void TSandbox::SetTimeLimit(double seconds) {
  Timed = true;
  LimitSec = seconds;
  Deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                    std::chrono::duration<double>(seconds));
  Where[0] = '\0';
  lua_sethook(L, &TSandbox::Hook, LUA_MASKCOUNT | LUA_MASKLINE, 1000);
}

void TSandbox::ClearTimeLimit() {
  Timed = false;
  lua_sethook(L, nullptr, 0, 0);
}

void TSandbox::Hook(lua_State* L, lua_Debug* ar) {
  void* ud = nullptr;
  lua_getallocf(L, &ud);
  auto* self = static_cast<TSandbox*>(ud);
  if (ar->event == LUA_HOOKLINE) {
    // Remembered for a memory error, which Lua raises without a position.
    if (lua_getinfo(L, "S", ar)) std::snprintf(self->Where, sizeof self->Where, "%s:%d: ", ar->short_src, ar->currentline);
    return;
  }
  if (self->Interrupt && self->Interrupt->load()) {
    luaL_where(L, 0);
    lua_pushstring(L, "运行已停止");
    lua_concat(L, 2);
    lua_error(L);
  }
  if (!self->Timed || std::chrono::steady_clock::now() < self->Deadline) return;
  luaL_where(L, 0);
  lua_pushfstring(L, "用例超过用时限制（%d 秒），已终止", static_cast<int>(self->LimitSec + 0.5));
  lua_concat(L, 2);
  lua_error(L);
}

bool TSandbox::Run(const std::string& text, const std::string& name, std::string& error) {
  if (!L) {
    error = "无法创建脚本环境";
    return false;
  }
  if (luaL_loadbufferx(L, text.data(), text.size(), ("@" + name).c_str(), "t") != LUA_OK) {
    error = lua_tostring(L, -1) ? lua_tostring(L, -1) : "脚本无法载入";
    lua_pop(L, 1);
    return false;
  }
  lua_pushcfunction(L, MessageHandler);
  lua_insert(L, -2);
  const int status = lua_pcall(L, 0, 1, -2);
  lua_remove(L, -2);  // the message handler
  if (status != LUA_OK) {
    error = lua_tostring(L, -1) ? lua_tostring(L, -1) : "脚本出错";
    lua_pop(L, 1);
    return false;
  }
  return true;
}

bool TSandbox::Call(std::string& error) {
  lua_pushcfunction(L, MessageHandler);
  lua_insert(L, -2);
  const int status = lua_pcall(L, 0, 0, -2);
  if (status == LUA_ERRMEM) {
    error = std::string(Where) + "脚本占用的内存超过限制（" + std::to_string(MemoryLimit >> 20) + " MB）";
    lua_pop(L, 2);
    return false;
  }
  if (status != LUA_OK) {
    error = lua_tostring(L, -1) ? lua_tostring(L, -1) : "脚本出错";
    lua_pop(L, 2);
    return false;
  }
  lua_pop(L, 1);
  return true;
}

bool TSandbox::ReadFile(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "无法读取文件：" + path;
    return false;
  }
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return true;
}
