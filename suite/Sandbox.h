#pragma once
// A Lua 5.4 state a script cannot break out of: only the safe standard libraries (base without
// dofile and loadfile, with load taking text chunks only; string, table, math, utf8: no io, os,
// package or debug), a cap on the memory it may take, and a deadline checked every few thousand
// instructions, so an endless loop ends as an error of its case instead of hanging the run.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

struct lua_State;

class TSandbox {
 public:
  TSandbox();
  ~TSandbox();
  TSandbox(const TSandbox&) = delete;
  TSandbox& operator=(const TSandbox&) = delete;

  lua_State* State() const { return L; }
  // From now on, code running longer than `seconds` raises an error at the line it is on.
  void SetTimeLimit(double seconds);
  void ClearTimeLimit();
  // While a time limit is set, code running when `*flag` becomes true raises an error at the
  // line it is on (a run stopped by the user, Ctrl-C). Null: none.
  void SetInterrupt(const std::atomic<bool>* flag) { Interrupt = flag; }
  // Loads and runs the text chunk `text` named `name` (errors read "name:line: ..."): true with
  // its first result on the stack, or false with the message in `error` and nothing pushed.
  bool Run(const std::string& text, const std::string& name, std::string& error);
  // Calls the function on top of the stack (no arguments, no results) under the time limit;
  // false with the message (file:line: ...) in `error`.
  bool Call(std::string& error);

  // Reads a whole file; false with a Chinese message.
  static bool ReadFile(const std::string& path, std::string& text, std::string& error);

  static constexpr size_t MemoryLimit = 64u << 20;

 private:
  static void* Alloc(void* ud, void* ptr, size_t osize, size_t nsize);
  static void Hook(lua_State* L, struct lua_Debug* ar);
  void OpenSafeLibraries();

  lua_State* L = nullptr;
  size_t Used = 0;
  bool Timed = false;
  const std::atomic<bool>* Interrupt = nullptr;
  double LimitSec = 0;
  std::chrono::steady_clock::time_point Deadline;
  char Where[96] = "";  // "file:line: " of the last line run under the time limit
};
