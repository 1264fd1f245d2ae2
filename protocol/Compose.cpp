// Command composition: control-code rules, field states and the data field of each command.
#include "protocol/Compose.h"

#include <algorithm>

#include "protocol/Catalog.h"
#include "protocol/PublicFunc.h"
#include "protocol/StringUtil.h"

namespace {

const char BroadcastAddress[] = "999999999999";
const char WildcardAddress[] = "AAAAAAAAAAAA";
constexpr int MaxRelays = 7;        // D7..D5 of the control byte
// The frame's L byte. Every command whose user data length comes from outside (11H, 14H) also
// carries an identifier, so a longer request cannot pack anyway; bounding it keeps an absurd
// length from allocating an absurd text.
constexpr int MaxDataLen = 255;

// The rules of one control code. The MAC address entries of 13H and 15H add fixed data.
struct TCodeRule {
  int Code;
  bool RelayAllowed, Broadcast;
  const char* FixedAddress;
  bool NeedsDI;
  uint8_t DIAccess;
  bool DataUsed;
  int ReplyCode, ErrReplyCode;
  int DataLen;
  bool NeedsPassword, NeedsOperator;
  const char* MacFixedData;  // FixedData of the entry whose name contains MAC
  bool CollectorApplies;
};

const TCodeRule CodeRules[] = {
    {0x08, true, true, BroadcastAddress, false, 3, true, 0, 0, 6, false, false, "", true},
    {0x11, true, false, "", true, 0, false, 0x91, 0xD1, 0, false, false, "", true},
    {0x12, true, false, "", true, 0, true, 0x92, 0xD2, 1, false, false, "", true},
    {0x13, false, false, WildcardAddress, false, 3, false, 0x93, 0xD3, 0, false, false, "01", false},
    {0x14, true, false, "", true, 1, true, 0x94, 0xD4, 0, true, true, "", true},
    {0x15, false, false, WildcardAddress, false, 3, true, 0x95, 0xD5, 6, false, false, "0101", false},
    {0x16, true, false, "", false, 3, true, 0x96, 0xD6, 4, false, false, "", true},
    {0x17, true, false, "", false, 3, true, 0x97, 0xD7, 1, false, false, "", true},
    {0x18, true, false, "", true, 1, true, 0x98, 0xD8, 4, true, false, "", true},
    {0x19, true, false, "", false, 3, false, 0x99, 0xD9, 0, true, true, "", true},
    {0x1A, true, false, "", false, 3, false, 0x9A, 0xDA, 0, true, true, "", true},
    {0x1B, true, false, "", true, 0, false, 0x9B, 0xDB, 0, true, true, "", true},
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsHexText(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return HexDigit(c) >= 0; });
}

// The reversed address of a relay or collector, or empty when `text` is not 12 hex digits.
std::string WireAddress(const std::string& text) {
  std::string wire = ReverseAddress(text);
  return wire.size() == 12 && IsHexText(wire) ? wire : std::string();
}

// The value of a decimal text; false when it is not one (or too long to be a sensible number).
// An empty text counts as 0.
bool DecimalValue(const std::string& text, int& value) {
  value = 0;
  if (text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// The value of the leading decimal digits of `text` (0 when there are none), at most 9 digits.
int LeadingDecimal(const std::string& text) {
  int value = 0;
  for (size_t i = 0; i < text.size() && i < 9 && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10 + (text[i] - '0');
  return value;
}

void SwitchOff(TFieldState& field) {
  field.Enabled = false;
  field.Text.clear();
}

void SwitchOn(TFieldState& field, int maxLength) {
  field.Enabled = true;
  field.MaxLength = maxLength;
}

// The typed number in display order as `dataLen` bytes in wire order: the first pairs of the
// text, last pair first, then zero bytes at the high end.
std::string TypedData(std::string text, int dataLen) {
  dataLen = std::min(dataLen, MaxDataLen);
  if (dataLen <= 0) return "";
  if (text.size() % 2) text.insert(text.begin(), '0');
  const int k = std::min(static_cast<int>(text.size() / 2), dataLen);
  std::string out;
  out.reserve(2 * static_cast<size_t>(dataLen));
  for (int i = k; i >= 1; --i) out.append(text, 2 * static_cast<size_t>(i - 1), 2);
  for (int i = k; i < dataLen; ++i) out += "00";
  return out;
}

// Year time-zone and day time-segment tables: 3-byte groups, each with its pairs reversed.
std::string TariffTableData(std::string text, int dataLen) {
  const size_t size = 2 * static_cast<size_t>(std::clamp(dataLen, 0, MaxDataLen));
  text.resize(size, '0');
  std::string out;
  out.reserve(size);
  for (size_t pos = 0; pos + 6 <= size; pos += 6)
    out += text.substr(pos + 4, 2) + text.substr(pos + 2, 2) + text.substr(pos, 2);
  return out;
}

// Each byte of the operator code as stored, last first.
std::string OperatorHex(const std::string& op) {
  std::string out;
  for (auto it = op.rbegin(); it != op.rend(); ++it) {
    const uint8_t b = static_cast<uint8_t>(*it);
    out += TStringUtil::BytesToHex(&b, 1);
  }
  return out;
}

bool Fail(TBuildFailure reason, TBuildFailure* failure) {
  if (failure) *failure = reason;
  return false;
}

}  // namespace

const std::vector<std::string>& CtrlListEntries() {
  static const std::vector<std::string> entries = {
      "读数据-11H",
      "写数据-14H",
      "读MAC地址-13H",
      "写MAC地址-15H",
      "读设备地址-13H",
      "写设备地址-15H",
      "广播校时-08H",
      "冻结命令-16H",
      "更改通信速率-17H",
      "修改密码-18H",
      "最大需量清零-19H",
      "电表清零-1AH",
      "事件清零-1BH",
      "读后续数据-12H",
  };
  return entries;
}

void FillCtrlList(TCommandFields& fields) {
  fields.CtrlEntries = CtrlListEntries();
  fields.CtrlIndex = 0;
}

TCtrlItem CtrlItemFor(const std::string& entry) {
  TCtrlItem item;
  if (entry.size() < 4) return item;
  const int hi = HexDigit(entry[entry.size() - 3]), lo = HexDigit(entry[entry.size() - 2]);
  if (hi < 0 || lo < 0) return item;
  const int code = hi * 16 + lo;
  const TCodeRule* rule = nullptr;
  for (const TCodeRule& r : CodeRules)
    if (r.Code == code) rule = &r;
  if (!rule) return item;

  item.Code = code;
  item.Name = entry.substr(0, entry.size() - 4);
  const bool mac = item.Name.find("MAC") != std::string::npos;
  item.RelayAllowed = rule->RelayAllowed;
  item.Broadcast = rule->Broadcast;
  item.FixedAddress = rule->FixedAddress;
  item.NeedsDI = rule->NeedsDI;
  item.DIAccess = rule->DIAccess;
  item.DataUsed = rule->DataUsed;
  item.ReplyCode = rule->ReplyCode;
  item.ErrReplyCode = rule->ErrReplyCode;
  item.FixedData = mac ? rule->MacFixedData : "";
  item.FixedDataLen = static_cast<int>(item.FixedData.size() / 2);
  item.DataLen = rule->DataLen;
  item.NeedsPassword = rule->NeedsPassword;
  item.NeedsOperator = rule->NeedsOperator;
  item.CollectorApplies = rule->CollectorApplies;
  return item;
}

TCtrlItem GetCtrlItem(const TCommandFields& fields) {
  if (fields.CtrlIndex < 0 || fields.CtrlIndex >= static_cast<int>(fields.CtrlEntries.size()))
    return TCtrlItem();
  return CtrlItemFor(fields.CtrlEntries[static_cast<size_t>(fields.CtrlIndex)]);
}

void ApplyCtrlItem(TCtrlItem& item, TCommandFields& fields, const TIdentifierDlt& curIdentifier) {
  fields.edtDS.Enabled = item.NeedsDI;
  fields.bbtDSEnabled = item.NeedsDI;
  if (!item.NeedsDI) fields.edtDS.Text.clear();
  fields.bbtRTEnabled = item.RelayAllowed;

  TFieldState& data = fields.edtData;
  if (item.Code != 0x15) fields.edtLen.Enabled = false;
  switch (item.Code) {
    case 0x08:
      fields.edtID.Text = item.FixedAddress;
      SwitchOn(data, 2 * item.DataLen);
      break;
    case 0x11:
      item.DataUsed = curIdentifier.NeedsParam;
      if (item.DataUsed) {
        item.DataLen = std::clamp(curIdentifier.DataLen, 0, MaxDataLen);
        SwitchOn(data, 2 * item.DataLen);
        if (!curIdentifier.ParamData.empty()) {
          data.Text = curIdentifier.ParamData;
          data.Enabled = false;
        }
      } else {
        item.DataLen = 0;
        SwitchOff(data);
      }
      break;
    case 0x12:
      SwitchOn(data, 3 * item.DataLen);
      break;
    case 0x13:
      fields.edtID.Text = item.FixedAddress;
      SwitchOff(data);
      break;
    case 0x14:
      if (fields.edtDS.Text.size() != 8) {
        fields.edtLen.Text.clear();
        SwitchOff(data);
        break;
      }
      if (curIdentifier.Found) {
        item.DataLen = std::clamp(curIdentifier.DataLen, 0, MaxDataLen);
      } else {
        fields.edtLen.Enabled = true;
        item.DataLen = std::min(LeadingDecimal(fields.edtLen.Text), MaxDataLen);
      }
      if (item.DataLen > 0) {
        SwitchOn(data, 2 * item.DataLen);
        if (data.Text.size() > static_cast<size_t>(data.MaxLength)) data.Text.resize(static_cast<size_t>(data.MaxLength));
      } else {
        SwitchOff(data);
      }
      break;
    case 0x15:
      fields.edtID.Text = item.FixedAddress;
      SwitchOn(data, 2 * item.DataLen);
      break;
    case 0x16:
    case 0x18:
      SwitchOn(data, 2 * item.DataLen);
      break;
    case 0x17:
      SwitchOn(data, 5);
      break;
    case 0x19:
    case 0x1A:
    case 0x1B:
      SwitchOff(data);
      break;
    default:
      break;
  }
  if (!fields.edtDS.Enabled) fields.edtDS.Hint.clear();
}

std::string BuildFailureText(TBuildFailure failure) {
  switch (failure) {
    case bfNone: return "";
    case bfNoCtrlCode: return "没有选择控制码";
    case bfNoIdentifier: return "该命令需要恰好8位十六进制数字的数据标识";
    case bfBadBaudRate: return "波特率应为600、1200、2400、4800、9600、19200之一";
    case bfBadRoute: return "中继路由中有不是12位十六进制数字的地址，或中继多于7个";
    case bfBadCollector: return "采集器地址不是12位十六进制数字";
  }
  return "无法组帧";
}

bool BuildFrame(const TCtrlItem& itemIn, const TCommandFields& fields, const TMeterParams& params,
                const TRouteTable& routeTable, TDltFrame& frameOut, TBuildFailure* failure) {
  if (failure) *failure = bfNone;
  if (itemIn.Name.empty()) return Fail(bfNoCtrlCode, failure);
  TCtrlItem item = itemIn;
  item.DataText = fields.edtData.Text;

  TDltFrame frame;
  const std::string meter = PadAddress(fields.edtID.Text);
  frame.CtrlCode = item.Code;
  frame.CmdName = item.Name;
  frame.Address = meter;
  frame.RelayCount = 0;
  frame.TimeoutSec = 10;

  // Relay route: addressed to the first relay; the others and the meter go into the data field.
  const auto& relays = routeTable.Addresses;
  if (item.RelayAllowed && routeTable.Enabled && !relays.empty()) {
    if (relays.size() > static_cast<size_t>(MaxRelays)) return Fail(bfBadRoute, failure);
    // A longer entry would address its first 12 digits and lose the rest without a word.
    for (const std::string& relay : relays)
      if (relay.size() != 12 || WireAddress(relay).empty()) return Fail(bfBadRoute, failure);
    frame.Address = relays[0];
    for (size_t i = 1; i < relays.size(); ++i) frame.RelayData += WireAddress(relays[i]);
    frame.RelayData += ReverseAddress(meter);
    frame.RelayCount = static_cast<int>(relays.size());
    frame.TimeoutSec = 10 + 10 * frame.RelayCount;
  }

  // Collector: it takes the meter's place, and the meter's address goes to the end.
  std::string appended;
  if (item.CollectorApplies && params.UseCollector) {
    frame.ViaCollector = true;
    if (frame.RelayCount > 0) {
      // Without a usable collector address the relay part would silently lose a hop.
      const std::string collector = WireAddress(params.Collector);
      if (collector.empty()) return Fail(bfBadCollector, failure);
      appended = frame.RelayData.substr(frame.RelayData.size() - 12);
      frame.RelayData = frame.RelayData.substr(0, 12 * static_cast<size_t>(frame.RelayCount - 1)) + collector;
    } else {
      // An unusable collector address is reported by packing.
      appended = ReverseAddress(meter);
      frame.Address = params.Collector;
    }
  }

  if (item.NeedsDI) {
    frame.DI = ReverseDI(fields.edtDS.Text);
    if (frame.DI.empty()) return Fail(bfNoIdentifier, failure);
  }
  if (item.NeedsPassword) frame.Password = ReverseHex(params.Psw);
  if (item.NeedsOperator) frame.OperatorCode = OperatorHex(params.Operator);
  if (item.DataUsed) frame.UserData = TypedData(item.DataText, item.DataLen);

  switch (item.Code) {
    case 0x08:
      frame.NoReply = item.Broadcast;
      frame.DataField = frame.RelayData + frame.UserData;
      break;
    case 0x11:
      frame.DataField = frame.RelayData + frame.DI + frame.UserData;
      break;
    case 0x12: {
      // The sequence number is typed in decimal.
      const uint8_t seq = static_cast<uint8_t>(LeadingDecimal(item.DataText.substr(0, 3)) % 256);
      frame.UserData = TStringUtil::BytesToHex(&seq, 1);
      frame.DataField = frame.RelayData + frame.DI + frame.UserData;
      break;
    }
    case 0x13:
      frame.DataField = item.FixedData;
      break;
    case 0x14: {
      const std::string di = ReverseHex(frame.DI);
      if (di.rfind("040100", 0) == 0 || di.rfind("040200", 0) == 0)
        frame.UserData = TariffTableData(item.DataText, item.DataLen);
      frame.DataField = frame.RelayData + frame.DI + frame.Password + frame.OperatorCode + frame.UserData;
      break;
    }
    case 0x15:
      frame.DataField = item.FixedData + frame.UserData;
      break;
    case 0x16:
      frame.NoReply = meter == BroadcastAddress;
      frame.DataField = frame.RelayData + frame.UserData;
      break;
    case 0x17: {
      int baud = 0;
      std::string code;
      if (!DecimalValue(item.DataText, baud) || !TDLT::BaudToCode(baud, code)) return Fail(bfBadBaudRate, failure);
      frame.UserData = code;
      frame.DataField = frame.RelayData + frame.UserData;
      break;
    }
    case 0x18:
      frame.DataField = frame.RelayData + frame.DI + frame.Password + frame.UserData;
      break;
    case 0x19:
    case 0x1A:
      frame.DataField = frame.RelayData + frame.Password + frame.OperatorCode;
      break;
    case 0x1B:
      frame.DataField = frame.RelayData + frame.Password + frame.OperatorCode + frame.DI;
      break;
    default:
      return Fail(bfNoCtrlCode, failure);
  }
  if (frame.ViaCollector) frame.DataField += appended;
  frame.DataLen = static_cast<int>(frame.DataField.size() / 2);
  frameOut = frame;
  return true;
}

void IdentifierChanged(const std::string& text, const TCtrlItem& item, TIdentifierDlt& curIdentifier,
                       std::string& hint) {
  if (text.size() != 8) {
    hint.clear();
    curIdentifier.DI = text;
    return;
  }
  if (!item.NeedsDI) return;
  TIdentifierDlt record;
  record.DI = text;
  record.Access = item.DIAccess;
  record.Found = LookupIdentifier(text, record);
  curIdentifier = record;
  if (record.Found)
    hint = record.Description;
  else
    hint.clear();
}

bool PreambleByteText(const std::string& lc, std::string& text) {
  if (lc.empty() || lc.size() > 8 || !IsHexText(lc)) return false;
  uint32_t value = 0;
  for (char c : lc) value = value * 16 + static_cast<uint32_t>(HexDigit(c));
  const uint8_t byte = static_cast<uint8_t>(value & 0xFF);
  text = TStringUtil::BytesToHex(&byte, 1);
  return true;
}

std::string PreviewText(const uint8_t* bytes, int count, bool useLC, const std::string& lc, int lcCount) {
  std::string text;
  if (useLC) {
    std::string shown = lc;
    PreambleByteText(lc, shown);
    if (shown.size() > 8) shown.resize(8);  // a hand-edited text is shown, not multiplied in full
    const int n = std::clamp(lcCount, 0, MaxPreviewPreamble);
    text.reserve(static_cast<size_t>(n) * (shown.size() + 1) + 3 * static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < n; ++i) text += shown + " ";
  }
  if (bytes && count > 0) text += TStringUtil::BytesToHexSpaced(bytes, count);
  return text;
}
