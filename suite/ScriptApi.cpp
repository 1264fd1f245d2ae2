// The `dlt` table of the test scripts.
#include "suite/ScriptApi.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "protocol/Protocol.h"
#include "protocol/Reading.h"
#include "suite/Expect.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "suite/LuaRaw.h"

namespace {
char kCasesKey = 0;    // registry key of the cases table
char kResultsKey = 0;  // registry key of the results of the case in progress (userdata)

// A script error raised by an API function. Lua raises its errors with longjmp, which would skip
// the destructors of the C++ objects in between; the functions throw this instead, and Guard
// raises the Lua error once every C++ frame has ended.
struct TScriptError {
  std::string Text;
};

[[noreturn]] int Fail(const std::string& text) { throw TScriptError{text}; }
[[noreturn]] int Fail(int arg, const std::string& text) { Fail("参数 #" + std::to_string(arg) + "：" + text); }

std::string CheckString(lua_State* L, int arg) {
  if (lua_type(L, arg) != LUA_TSTRING && lua_type(L, arg) != LUA_TNUMBER) Fail(arg, "应为文本");
  size_t len = 0;
  const char* text = lua_tolstring(L, arg, &len);
  return std::string(text, len);
}
std::string OptStringArg(lua_State* L, int arg, const std::string& fallback) {
  return lua_isnoneornil(L, arg) ? fallback : CheckString(L, arg);
}
lua_Integer CheckInteger(lua_State* L, int arg) {
  if (!lua_isinteger(L, arg)) Fail(arg, "应为整数");
  return lua_tointeger(L, arg);
}
lua_Integer OptIntegerArg(lua_State* L, int arg, lua_Integer fallback) {
  return lua_isnoneornil(L, arg) ? fallback : CheckInteger(L, arg);
}
double CheckNumber(lua_State* L, int arg) {
  if (lua_type(L, arg) != LUA_TNUMBER) Fail(arg, "应为数");
  return lua_tonumber(L, arg);
}
void CheckTable(lua_State* L, int arg) {
  if (lua_type(L, arg) != LUA_TTABLE) Fail(arg, "应为表");
}
// Any value as text, without __tostring (which could run code).
std::string PlainText(lua_State* L, int arg) {
  switch (lua_type(L, arg)) {
    case LUA_TSTRING:
    case LUA_TNUMBER: return CheckString(L, arg);
    case LUA_TBOOLEAN: return lua_toboolean(L, arg) ? "true" : "false";
    default: return luaL_typename(L, arg);
  }
}

template <int (*F)(lua_State*)>
int Guard(lua_State* L) {
  char message[1024];
  try {
    return F(L);
  } catch (const TScriptError& e) {
    std::snprintf(message, sizeof message, "%s", e.Text.c_str());
  } catch (const std::exception& e) {
    std::snprintf(message, sizeof message, "内部错误：%s", e.what());
  }
  luaL_where(L, 1);
  lua_pushstring(L, message);
  lua_concat(L, 2);
  return lua_error(L);
}

TScriptContext& Ctx(lua_State* L) { return *static_cast<TScriptContext*>(lua_touserdata(L, lua_upvalueindex(1))); }

double SinceStart(const TScriptContext& c) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - c.CaseStart).count();
}

bool IsHex(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Hex text with optional blanks -> bytes; raises a script error on anything else.
std::vector<uint8_t> HexBytes(lua_State* L, int arg) {
  std::string digits;
  for (char c : CheckString(L, arg))
    if (c != ' ') digits += c;
  if (!IsHex(digits) || digits.size() % 2 != 0) Fail(arg, "应为十六进制字节");
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < digits.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string Spaced(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[4];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", b);
    text += pair;
  }
  return text;
}

// DI3..DI0 (display order) -> DI0..DI3 (wire order).
std::string WireDI(const std::string& di) {
  std::string wire;
  for (int i = 6; i >= 0; i -= 2) wire += di.substr(static_cast<size_t>(i), 2);
  return wire;
}

std::string CheckDI(lua_State* L, int arg) {
  std::string di = Upper(CheckString(L, arg));
  if (di.size() != 8 || !IsHex(di)) Fail(arg, "应为 8 位数据标识");
  return di;
}

// A frame built by hand: 68 A0..A5 68 C L DATA+33H CS 16 (`data` in wire order, hex).
std::vector<uint8_t> HandFrame(const std::string& address, int ctrl, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> f{0x68};
  for (int i = 10; i >= 0; i -= 2) f.push_back(static_cast<uint8_t>(std::stoi(address.substr(static_cast<size_t>(i), 2), nullptr, 16)));
  f.push_back(0x68);
  f.push_back(static_cast<uint8_t>(ctrl));
  f.push_back(static_cast<uint8_t>(data.size()));
  for (uint8_t b : data) f.push_back(static_cast<uint8_t>(b + 0x33));
  f.push_back(TProtocol::CheckSum(f.data(), 0, static_cast<int>(f.size())));
  f.push_back(0x16);
  return f;
}

std::vector<TLinkResult>& Results(lua_State* L) {
  lua_rawgetp(L, LUA_REGISTRYINDEX, &kResultsKey);
  auto* results = static_cast<std::vector<TLinkResult>*>(lua_touserdata(L, -1));
  lua_pop(L, 1);
  return *results;
}

const TLinkResult& CheckResult(lua_State* L, int arg) {
  CheckTable(L, arg);
  RawField(L, arg, "_n");
  const lua_Integer n = lua_isinteger(L, -1) ? lua_tointeger(L, -1) : -1;
  lua_pop(L, 1);
  std::vector<TLinkResult>& all = Results(L);
  if (n < 0 || n >= static_cast<lua_Integer>(all.size())) Fail(arg, "应为本用例一次收发的结果");
  return all[static_cast<size_t>(n)];
}

void SetString(lua_State* L, const char* name, const std::string& value) {
  lua_pushlstring(L, value.data(), value.size());
  lua_setfield(L, -2, name);
}

const char* KindName(TLinkKind kind) {
  switch (kind) {
    case lkReply: return "reply";
    case lkNoReplyWanted: return "none";
    case lkTimeout: return "timeout";
    case lkInvalid: return "invalid";
    default: return "error";
  }
}

// The reply's fields; a read reply also its identifier (display order), value and reading.
void PushReplyFields(lua_State* L, const TLinkResult& r) {
  const TFrameBody& b = r.Body;
  lua_pushinteger(L, b.Ctrl);
  lua_setfield(L, -2, "ctrl");
  lua_pushboolean(L, b.Normal);
  lua_setfield(L, -2, "normal");
  lua_pushboolean(L, !b.LastFrame);
  lua_setfield(L, -2, "more");
  lua_pushinteger(L, b.Len);
  lua_setfield(L, -2, "len");
  SetString(L, "address", b.Address);
  SetString(L, "data", b.Data);
  SetString(L, "frame", b.FrameText);
  lua_pushnumber(L, r.RoundTripMs);
  lua_setfield(L, -2, "ms");
  if (b.Data.size() >= 8) SetString(L, "di", WireDI(b.Data.substr(0, 8)));
  // The data as it came, also when it does not decode (a wrong length is for the case to judge).
  if (b.Normal && b.Data.size() >= 8) SetString(L, "value", DataAfterIdentifier(r));
  const TReading reading = ReplyReading(b);
  if (!reading.Ok) return;
  SetString(L, "reading", reading.Text);
  char* end = nullptr;
  const double number = std::strtod(reading.Value.c_str(), &end);
  if (!reading.Value.empty() && end && *end == '\0') {
    lua_pushnumber(L, number);
    lua_setfield(L, -2, "number");
  }
}

void PushResult(lua_State* L, const TLinkResult& r, int index) {
  lua_newtable(L);
  lua_pushinteger(L, index);
  lua_setfield(L, -2, "_n");
  lua_pushstring(L, KindName(r.Kind));
  lua_setfield(L, -2, "kind");
  SetString(L, "message", r.Message);
  if (r.FirstByteMs >= 0) {
    lua_pushnumber(L, r.FirstByteMs);
    lua_setfield(L, -2, "first_byte_ms");
    lua_pushnumber(L, r.MaxGapMs);
    lua_setfield(L, -2, "max_gap_ms");
  }
  if (r.HasReply) PushReplyFields(L, r);
}

void RecordExchange(TScriptContext& c, const std::vector<uint8_t>& sent, double sentAt, const TLinkResult& r) {
  TCaseRecord& rec = *c.Current;
  rec.Frames.push_back({true, Spaced(sent), sentAt, 0, ""});
  for (const TFrameBody& stray : r.Strays)
    rec.Frames.push_back({false, stray.FrameText, SinceStart(c), 0, "非本次请求的应答"});
  if (r.HasReply) {
    const TReading reading = ReplyReading(r.Body);
    rec.Frames.push_back({false, r.Body.FrameText, SinceStart(c), r.RoundTripMs, reading.Ok ? reading.Text : ""});
    // Times are information here; the timing cases are the ones that judge them.
    char line[160];
    std::snprintf(line, sizeof line, "首字节 %.1f ms，最大字节间隔 %.1f ms，往返 %.1f ms", r.FirstByteMs, r.MaxGapMs,
                  r.RoundTripMs);
    rec.Info.push_back(line);
  } else {
    rec.Frames.push_back({false, "", SinceStart(c), 0, ObservedText(r)});
  }
}

// One exchange through the link, recorded, its result pushed. A link that cannot carry out the
// exchange ends the case as an error.
int Exchange(lua_State* L, const TDltFrame& frame, const std::vector<uint8_t>& raw) {
  TScriptContext& c = Ctx(L);
  if (!c.Current) Fail("只能在用例中收发报文");
  std::vector<uint8_t> sent = raw;
  if (raw.empty()) {
    std::unique_ptr<uint8_t[]> packed;
    int len = 0;
    std::string error;
    if (TProtocol::Pack(frame.Address, frame, frame.DataField, packed, len, error) != 0) Fail("无法组帧：" + error);
    sent.assign(packed.get(), packed.get() + len);
  }
  const double at = SinceStart(c);
  TLinkResult r = c.Link->Exchange(frame, raw);
  RecordExchange(c, sent, at, r);
  if (r.Kind == lkSendError || r.Kind == lkFailed || r.Kind == lkInterrupted) {
    c.LinkFailed = true;
    c.LinkLost = r.Kind != lkInterrupted;
    c.Current->Why = "通信失败：" + r.Message;
    Fail(c.Current->Why);
  }
  std::vector<TLinkResult>& all = Results(L);
  all.push_back(r);
  PushResult(L, r, static_cast<int>(all.size() - 1));
  return 1;
}

std::string OptString(lua_State* L, int table, const char* name, const std::string& fallback) {
  if (lua_type(L, table) != LUA_TTABLE) return fallback;
  RawField(L, table, name);
  std::string value = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : fallback;
  lua_pop(L, 1);
  return value;
}

lua_Integer OptInteger(lua_State* L, int table, const char* name, lua_Integer fallback) {
  if (lua_type(L, table) != LUA_TTABLE) return fallback;
  RawField(L, table, name);
  lua_Integer value = lua_isinteger(L, -1) ? lua_tointeger(L, -1) : fallback;
  lua_pop(L, 1);
  return value;
}

std::string CheckAddress(const std::string& address) {
  if (address.size() != 12 || !IsHex(address)) Fail("地址应为 12 位十六进制：" + address);
  return Upper(address);
}

// The `wait_ms` option: a reply wait in milliseconds (0 when not given).
int WaitMs(lua_State* L, int opts) {
  if (lua_type(L, opts) != LUA_TTABLE || RawField(L, opts, "wait_ms") == LUA_TNIL) {
    if (lua_type(L, opts) == LUA_TTABLE) lua_pop(L, 1);
    return 0;
  }
  const double ms = lua_type(L, -1) == LUA_TNUMBER ? lua_tonumber(L, -1) : -1;
  lua_pop(L, 1);
  if (!(ms >= 1 && ms <= 60000)) Fail("wait_ms 应为 1 至 60000 毫秒");
  return static_cast<int>(ms + 0.5);
}

TDltFrame Composed(lua_State* L, int opts, int ctrl, const std::string& diWire, const std::string& data) {
  const TScriptContext& c = Ctx(L);
  TDltFrame f;
  f.Address = CheckAddress(OptString(L, opts, "address", c.Profile->Address));
  f.CtrlCode = ctrl;
  f.DI = diWire;
  f.DataField = diWire + data;
  f.DataLen = static_cast<int>(f.DataField.size() / 2);
  f.TimeoutSec = static_cast<int>(OptInteger(L, opts, "timeout", c.Profile->ReplyTimeoutSec));
  f.TimeoutMs = WaitMs(L, opts);
  return f;
}

// dlt.read(DI [, {address=, timeout=}])
int Read(lua_State* L) {
  const std::string di = CheckDI(L, 1);
  return Exchange(L, Composed(L, 2, 0x11, WireDI(di), ""), {});
}

// dlt.send{ctrl=, di=, data= (hex, wire order), address=, timeout=, noreply=}
int Send(lua_State* L) {
  CheckTable(L, 1);
  const lua_Integer ctrl = OptInteger(L, 1, "ctrl", -1);
  if (ctrl < 0 || ctrl > 0x1F) Fail("ctrl 应为 0x00 至 0x1F 的控制码");
  const std::string di = OptString(L, 1, "di", "");
  if (!di.empty() && (di.size() != 8 || !IsHex(di))) Fail("di 应为 8 位数据标识");
  const std::string data = Upper(OptString(L, 1, "data", ""));
  if (!IsHex(data) || data.size() % 2) Fail("data 应为十六进制字节");
  TDltFrame f = Composed(L, 1, static_cast<int>(ctrl), di.empty() ? "" : WireDI(Upper(di)), data);
  RawField(L, 1, "noreply");
  f.NoReply = lua_toboolean(L, -1);
  lua_pop(L, 1);
  return Exchange(L, f, {});
}

// dlt.raw(HEX [, timeout | {timeout=, wait_ms=}]): the bytes as they are.
int Raw(lua_State* L) {
  std::vector<uint8_t> bytes = HexBytes(L, 1);
  if (bytes.empty()) Fail(1, "至少一个字节");
  TDltFrame f;
  f.RawFrame = true;
  const int fallback = Ctx(L).Profile->ReplyTimeoutSec;
  if (lua_type(L, 2) == LUA_TTABLE) {
    f.TimeoutSec = static_cast<int>(OptInteger(L, 2, "timeout", fallback));
    f.TimeoutMs = WaitMs(L, 2);
  } else {
    f.TimeoutSec = static_cast<int>(OptIntegerArg(L, 2, fallback));
  }
  return Exchange(L, f, bytes);
}

// dlt.pack{ctrl=, address=, data=}: the frame's bytes as spaced hex, 33H added, CS and 16H.
int Pack(lua_State* L) {
  CheckTable(L, 1);
  const lua_Integer ctrl = OptInteger(L, 1, "ctrl", -1);
  if (ctrl < 0 || ctrl > 0xFF) Fail("ctrl 应为 0x00 至 0xFF");
  const std::string address = CheckAddress(OptString(L, 1, "address", Ctx(L).Profile->Address));
  lua_pushstring(L, OptString(L, 1, "data", "").c_str());
  const std::vector<uint8_t> data = HexBytes(L, lua_gettop(L));
  if (data.size() > 200) Fail("data 至多 200 字节");
  const std::string text = Spaced(HandFrame(address, static_cast<int>(ctrl), data));
  lua_pushstring(L, text.c_str());
  return 1;
}

int Record(lua_State* L, const TExpectation& e) {
  TScriptContext& c = Ctx(L);
  if (!c.Current) Fail("只能在用例中检查");
  c.Current->Expectations.push_back(e);
  lua_pushboolean(L, e.Met);
  return 1;
}

int RequestFunc(lua_State* L, int arg, const TLinkResult& r) {
  if (!lua_isnoneornil(L, arg)) return static_cast<int>(CheckInteger(L, arg));
  return r.HasReply ? r.Body.FuncCode : 0x11;
}

int ExpectNormalApi(lua_State* L) {
  const TLinkResult& r = CheckResult(L, 1);
  return Record(L, ExpectNormal(r, RequestFunc(L, 2, r)));
}
int ExpectAbnormalApi(lua_State* L) {
  const TLinkResult& r = CheckResult(L, 1);
  return Record(L, ExpectAbnormal(r, RequestFunc(L, 3, r), static_cast<int>(OptIntegerArg(L, 2, -1))));
}
int ExpectNoReplyApi(lua_State* L) { return Record(L, ExpectNoReply(CheckResult(L, 1))); }
int ExpectLengthApi(lua_State* L) { return Record(L, ExpectLayoutLength(CheckResult(L, 1), CheckDI(L, 2))); }
int ExpectBcdApi(lua_State* L) { return Record(L, ExpectBcd(CheckResult(L, 1), CheckDI(L, 2))); }
int ExpectRangeApi(lua_State* L) {
  return Record(L, ExpectRange(CheckString(L, 1), CheckNumber(L, 2), CheckNumber(L, 3), CheckNumber(L, 4)));
}
int ExpectEqualApi(lua_State* L) {
  return Record(L, ExpectEqual(CheckString(L, 1), PlainText(L, 2), PlainText(L, 3)));
}
// dlt.expect(what, condition, observed): a check of the script's own.
int ExpectApi(lua_State* L) {
  return Record(L, {CheckString(L, 1), OptStringArg(L, 3, ""), lua_toboolean(L, 2) != 0});
}

// dlt.wait(MS): a pause, ended early by a stop of the run (the case then ends as stopped at
// its next line).
int Wait(lua_State* L) {
  const lua_Integer ms = CheckInteger(L, 1);
  if (ms < 0 || ms > 60000) Fail(1, "应为 0 至 60000 毫秒");
  const std::atomic<bool>* stop = Ctx(L).Stop;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!(stop && stop->load()) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - std::chrono::steady_clock::now(),
                                                                             std::chrono::milliseconds(20)));
  return 0;
}

int Skip(lua_State* L) {
  TScriptContext& c = Ctx(L);
  if (!c.Current) Fail("只能在用例中跳过");
  c.Skipped = true;
  c.Current->Why = OptStringArg(L, 1, "用例自行跳过");
  Fail(c.Current->Why);
}

void SetInteger(lua_State* L, const char* name, lua_Integer value) {
  lua_pushinteger(L, value);
  lua_setfield(L, -2, name);
}

// dlt.now(): the computer's local time {year, month, day, hour, min, sec, wday (0 Sunday)}.
int Now(lua_State* L) {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  lua_newtable(L);
  SetInteger(L, "year", local.tm_year + 1900);
  SetInteger(L, "month", local.tm_mon + 1);
  SetInteger(L, "day", local.tm_mday);
  SetInteger(L, "hour", local.tm_hour);
  SetInteger(L, "min", local.tm_min);
  SetInteger(L, "sec", local.tm_sec);
  SetInteger(L, "wday", local.tm_wday);
  return 1;
}

int Info(lua_State* L) {
  TScriptContext& c = Ctx(L);
  if (c.Current) c.Current->Info.push_back(PlainText(L, 1));
  return 0;
}

// dlt.case{id=, title=, clause=, requires={ctrl=, set=, destructive=}, run=function}
int Case(lua_State* L) {
  CheckTable(L, 1);
  for (const char* field : {"id", "title", "clause"}) {
    if (RawField(L, 1, field) != LUA_TSTRING) Fail(std::string("用例缺少文本字段 ") + field);
    lua_pop(L, 1);
  }
  if (RawField(L, 1, "run") != LUA_TFUNCTION) Fail("用例缺少函数字段 run");
  lua_pop(L, 1);
  lua_rawgetp(L, LUA_REGISTRYINDEX, &kCasesKey);
  lua_pushvalue(L, 1);
  lua_rawseti(L, -2, static_cast<lua_Integer>(lua_rawlen(L, -2)) + 1);
  lua_pop(L, 1);
  return 0;
}
}  // namespace

// dlt.limits: the profile's timing limits with their defaults filled in.
static void PushLimits(lua_State* L, const TMeterProfile& p) {
  lua_newtable(L);
  const std::pair<const char*, double> limits[] = {{"response_min_ms", p.ResponseMinMs}, {"response_max_ms", p.ResponseMaxMs},
                                                   {"byte_gap_max_ms", p.ByteGapMaxMs}, {"no_reply_ms", p.NoReplyWaitMs()}};
  for (const auto& [name, value] : limits) {
    lua_pushnumber(L, value);
    lua_setfield(L, -2, name);
  }
}

void InstallScriptApi(lua_State* L, TScriptContext& context) {
  lua_newtable(L);
  lua_rawsetp(L, LUA_REGISTRYINDEX, &kCasesKey);
  const luaL_Reg functions[] = {{"case", Guard<Case>}, {"read", Guard<Read>}, {"send", Guard<Send>}, {"raw", Guard<Raw>}, {"pack", Guard<Pack>},
                                {"expect_normal", Guard<ExpectNormalApi>}, {"expect_abnormal", Guard<ExpectAbnormalApi>},
                                {"expect_no_reply", Guard<ExpectNoReplyApi>}, {"expect_length", Guard<ExpectLengthApi>},
                                {"expect_bcd", Guard<ExpectBcdApi>}, {"expect_range", Guard<ExpectRangeApi>},
                                {"expect_equal", Guard<ExpectEqualApi>}, {"expect", Guard<ExpectApi>}, {"wait", Guard<Wait>},
                                {"skip", Guard<Skip>}, {"info", Guard<Info>}, {"now", Guard<Now>}, {nullptr, nullptr}};
  lua_newtable(L);
  lua_pushlightuserdata(L, &context);
  luaL_setfuncs(L, functions, 1);
  PushLimits(L, *context.Profile);
  lua_setfield(L, -2, "limits");
  lua_rotate(L, -2, 1);  // the profile table on top
  lua_setfield(L, -2, "profile");
  lua_setglobal(L, "dlt");
}

// The cases the script defined, as a table on top of the stack.
void PushCases(lua_State* L) { lua_rawgetp(L, LUA_REGISTRYINDEX, &kCasesKey); }
// Sets the results store of the case in progress.
void SetResults(lua_State* L, std::vector<TLinkResult>* results) {
  lua_pushlightuserdata(L, results);
  lua_rawsetp(L, LUA_REGISTRYINDEX, &kResultsKey);
}
