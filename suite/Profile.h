#pragma once
// The meter profile: what the lab knows about the meter under test, as a Lua table file that
// returns one table:
//
//   return {
//     address = "000000000001",               -- 12 digits
//     passwords = { { level = 2, code = "123456" } },
//     operator = "00000000",                  -- 8 hex digits
//     controls = { 0x11, 0x13 },              -- control codes the meter supports
//     identifiers = { energy = { "00010000" } },  -- identifier sets by name (8 hex digits)
//     destructive = { clear_meter = false },  -- destructive cases that may run
//     timing = { reply_timeout_s = 1, response_min_ms = 20, response_max_ms = 500,
//                byte_gap_max_ms = 500, no_reply_ms = 600 },
//     known = { rated_voltage = 220.0, clock_zone = 8 },
//   }
//
// Cases that need a control code, a set or a destructive permission the profile does not give are
// skipped. Scripts see the whole table as dlt.profile.
#include <map>
#include <string>
#include <vector>

struct lua_State;

struct TMeterProfile {
  std::string Address = "000000000001";
  std::vector<int> Controls;
  std::map<std::string, std::vector<std::string>> Identifiers;
  std::map<std::string, bool> Destructive;
  int ReplyTimeoutSec = 1;
  double ResponseMinMs = 20, ResponseMaxMs = 500;  // the reply's first byte after the request's last
  double ByteGapMaxMs = 500;  // the longest pause between two bytes of a reply
  // How long a case waits to be sure no reply comes; when the profile does not say, the longest
  // response time and a margin.
  double NoReplyMs = 0;
  double NoReplyWaitMs() const { return NoReplyMs > 0 ? NoReplyMs : ResponseMaxMs + 100; }
  std::string Text;  // the file's text, run again in each suite file's state as dlt.profile
  std::string Name;  // the file's path

  bool Supports(int ctrl) const;
  bool Allows(const std::string& destructive) const;
};

// Loads the profile file; false with a Chinese message naming the file, line or field.
bool LoadProfile(const std::string& path, TMeterProfile& profile, std::string& error);
// The same for a text already read (`name` is used in messages).
bool ProfileFromText(const std::string& text, const std::string& name, TMeterProfile& profile,
                     std::string& error);
// Reads the profile table on top of the stack of `L` into `profile` (the table stays).
bool ReadProfileTable(lua_State* L, TMeterProfile& profile, std::string& error);
