#pragma once
// Reading a script's tables from C++ without metamethods: a table with __index or __len cannot
// run code, or raise an error that would jump over C++ frames, while the engine reads it.
extern "C" {
#include <lua.h>
}

// Pushes t[name] of the table at `index` (no metamethod) and returns its type.
inline int RawField(lua_State* L, int index, const char* name) {
  index = lua_absindex(L, index);
  lua_pushstring(L, name);
  return lua_rawget(L, index);
}
