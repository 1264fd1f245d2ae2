#pragma once
// DL/T 645-2007 command records, the route table and the protocol value helpers.
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/DateTime.h"

// One outgoing command in decoded form. Hex texts: two uppercase digits per byte.
struct TDltFrame {
  std::string Address;      // 12 hex digits, display order; empty for a typed frame
  int CtrlCode = 0;         // function code; Pack adds RelayCount in D7..D5
  std::string CmdName;      // control-code entry without its "-11H" suffix
  bool NoReply = false;
  std::string RelayData;    // wire order
  int RelayCount = 0;       // 0..7
  std::string DI;           // wire order (DI0 first)
  std::string Password;     // wire order
  std::string OperatorCode; // wire order
  std::string UserData;     // wire order
  int DataLen = 0;          // bytes in DataField
  std::string DataField;    // wire order, before the 33H offset
  int TimeoutSec = 0;
  int TimeoutMs = 0;        // > 0: the reply wait in milliseconds, instead of TimeoutSec
  bool RawFrame = false;    // typed by the user: no preamble
  bool ViaCollector = false;
};

// The rules of one control code.
struct TCtrlItem {
  int Code = 0;
  std::string Name;
  bool RelayAllowed = false;
  bool Broadcast = false;
  std::string FixedAddress;
  bool NeedsDI = false;
  uint8_t DIAccess = 0;     // 0 read, 1 write, 3 none
  bool DataUsed = false;
  int ReplyCode = 0;
  int ErrReplyCode = 0;
  int FixedDataLen = 0;
  int DataLen = 0;
  std::string DataText;
  bool NeedsPassword = false;
  bool NeedsOperator = false;
  std::string FixedData;
  bool CollectorApplies = false;
};

// One data identifier with what the catalogue says about it.
struct TIdentifierDlt {
  std::string DI;           // 8 hex digits, display order
  std::string Description;  // name, CR LF, "长度：", length, " 字节"
  uint8_t Access = 0;       // 0 read, 1 write, 3 none
  int DataLen = 0;
  bool NeedsParam = false;
  std::string ParamData;
  bool Found = false;
};

// The relay route: relay addresses in the order a command passes them.
class TRouteTable {
 public:
  explicit TRouteTable(uint8_t maxDepth) : MaxDepth(maxDepth) {}
  std::vector<std::string> Addresses;  // 12 digits each, display order, first relay first
  uint8_t MaxDepth = 0;
  bool Enabled = false;
  void SetEnabled(bool value) { Enabled = value && !Addresses.empty(); }
};

// Translations between protocol values and what the user reads and types.
class TDLT {
 public:
  static std::string ErrorText(uint8_t errorWord);
  static std::string BaudCodeToText(const std::string& code);
  // True and the two-digit code for 600..19200; false and "00" otherwise.
  static bool BaudToCode(int baud, std::string& code);
  static bool SetSegmentTime(TDateTime& value, const std::string& hhmm);
  static bool SetZoneDate(TDateTime& value, const std::string& mmdd);
};
