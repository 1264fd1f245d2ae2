#include "protocol/SendCycle.h"

#include <cstdio>
#include <memory>

#include "protocol/Protocol.h"
#include "protocol/PublicFunc.h"
#include "protocol/Reading.h"
#include "protocol/StringUtil.h"

namespace {

bool IsUpperHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

std::string Trimmed(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 0x20) --e;
  return text.substr(b, e - b);
}

}  // namespace

std::string FrameFormatHint() {
  return std::string(SendTexts::FrameHint1) + "\r\n" + SendTexts::FrameHint2 + "\r\n" + SendTexts::FrameHint3;
}

bool CheckFrameText(const std::string& text) {
  if (text.size() % 3 == 1) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Positions counted from 1: a blank at every multiple of 3, a hex digit everywhere else.
    const bool blankPlace = (i + 1) % 3 == 0;
    if (blankPlace ? text[i] != ' ' : !IsUpperHexDigit(text[i])) return false;
  }
  return true;
}

std::string FrameFormatHintLine() {
  return Trimmed(SendTexts::FrameHint1) + "  " + Trimmed(SendTexts::FrameHint2) + "  " + Trimmed(SendTexts::FrameHint3);
}

std::vector<uint8_t> TypedBytes(const std::string& text) {
  std::string digits;
  digits.reserve(text.size());
  for (char c : text)
    if (c != ' ') digits += c;
  const std::size_t n = digits.size() / 2;
  std::vector<uint8_t> bytes(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    uint8_t value = 0;
    if (TStringUtil::TryHexPair(digits.substr(2 * i, 2), value)) bytes[i] = value;
  }
  return bytes;
}

TTypedFrameKind TypedFrameKind(const std::vector<uint8_t>& typed) {
  std::size_t head = 0;
  while (head < typed.size() && typed[head] == 0xFE) ++head;
  const std::size_t size = typed.size() - head;
  // 68H, six address bytes, 68H, C, L, the data, CS, 16H.
  if (size < 12 || typed[head] != 0x68 || typed[head + 7] != 0x68 || typed.back() != 0x16)
    return TTypedFrameKind::NeedsChecksum;
  const uint8_t sum = TProtocol::CheckSum(typed.data(), static_cast<int>(head), static_cast<int>(size - 2));
  if (sum != typed[typed.size() - 2]) return TTypedFrameKind::NeedsChecksum;
  return typed[head + 9] == size - 12 ? TTypedFrameKind::Complete : TTypedFrameKind::LengthMismatch;
}

std::vector<uint8_t> TypedFrameBytes(const std::string& text) {
  std::vector<uint8_t> bytes = TypedBytes(text);
  if (TypedFrameKind(bytes) == TTypedFrameKind::Complete) return bytes;
  const std::size_t n = bytes.size();
  bytes.push_back(n > 0 ? TProtocol::CheckSum(bytes.data(), 0, static_cast<int>(n)) : 0);
  bytes.push_back(0x16);
  return bytes;
}

std::string TypedFrameRefusal(const std::string& text) {
  return TypedFrameKind(TypedBytes(text)) == TTypedFrameKind::LengthMismatch ? SendTexts::FrameLengthMismatch
                                                                              : std::string();
}

TDltFrame TypedFrameCommand() {
  TDltFrame frame;
  frame.RawFrame = true;
  frame.NoReply = false;
  frame.TimeoutSec = 10;
  return frame;
}

bool ComposeCommand(TCommandFields& fields, const TIdentifierDlt& curIdentifier, const TMeterParams& params,
                    const TRouteTable& routeTable, TDltFrame& frame) {
  TCtrlItem item = GetCtrlItem(fields);
  ApplyCtrlItem(item, fields, curIdentifier);
  if (!BuildFrame(item, fields, params, routeTable, frame)) return false;
  if (!(item.Code == 0x14 && !curIdentifier.Found)) fields.edtLen.Text = std::to_string(frame.DataLen);
  return true;
}

bool PackedPreview(const TDltFrame& frame, const TPreviewPreamble& preamble, std::string& text) {
  std::unique_ptr<uint8_t[]> bytes;
  int count = 0;
  std::string error;
  if (TProtocol::Pack(frame.Address, frame, frame.DataField, bytes, count, error) != 0) return false;
  text = PreviewText(bytes.get(), count, preamble.UseLC, preamble.LC, preamble.LCCount);
  return true;
}

std::string FuncText(int code) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02XH", code & 0xFF);
  return buf;
}

TComMsg SentRow(const std::string& func, const std::string& content, TDateTime time, const std::string& succ) {
  TComMsg row;
  row.Flag = SendTexts::FlagSent;
  row.Func = func;
  row.Content = content;
  row.Time = time;
  row.Succ = succ;
  return row;
}

namespace {

std::string IdentifierParse(const std::string& di) {
  if (di.size() != 8) return std::string();
  const std::string name = IdentifierName(di);
  return name.empty() ? di : di + " " + name;
}

}  // namespace

std::string SentParse(const TDltFrame& frame) { return IdentifierParse(ReverseHex(frame.DI)); }

std::string TypedFrameParse(const std::vector<uint8_t>& bytes) {
  std::size_t head = 0;
  while (head < bytes.size() && bytes[head] == 0xFE) ++head;
  // 68H, six address bytes, 68H, C, L, then the data: the identifier, DI0 first, plus 33H.
  if (bytes.size() < head + 14 || bytes[head] != 0x68 || bytes[head + 7] != 0x68) return std::string();
  const int func = bytes[head + 8] & 0x1F;
  if ((bytes[head + 8] & 0x80) || (func != 0x11 && func != 0x12 && func != 0x14) || bytes[head + 9] < 4)
    return std::string();
  std::string di;
  for (int i = 3; i >= 0; --i) {
    const uint8_t b = static_cast<uint8_t>(bytes[head + 10 + static_cast<std::size_t>(i)] - 0x33);
    di += TStringUtil::BytesToHex(&b, 1);
  }
  return IdentifierParse(di);
}

TComMsg NoReplyRow(const std::string& cmdName, TDateTime time, const std::string& succ) {
  std::string note = SendTexts::NoReplyNote;
  note.replace(note.find("%s"), 2, cmdName);
  TComMsg row;
  row.Content = note;
  row.Time = time;
  row.Succ = succ;
  return row;
}

bool RowFrameForEditing(const TComMsg& row, std::string& frameText) {
  if (row.Flag != SendTexts::FlagSent && row.Flag != SendTexts::FlagReceived) return false;
  const std::string content = Trimmed(row.Content);
  frameText = content.size() > 5 ? content.substr(0, content.size() - 5) : std::string();
  return true;
}

TTableEditor TableEditorFor(int ctrlCode, bool dataEnabled, const std::string& identifier) {
  if (ctrlCode != 0x14 || !dataEnabled || identifier.size() != 8) return TTableEditor::None;
  if (identifier == "04010000" || identifier == "04020000") return TTableEditor::Zones;
  const std::string head = identifier.substr(0, 6), tail = identifier.substr(6);
  if ((head == "040100" || head == "040200") && tail >= "01" && tail <= "08") return TTableEditor::Segments;
  return TTableEditor::None;
}

std::string TableDataNote(const std::string& identifier, const std::string& data, const std::string& tableIdentifier,
                          const std::string& tableText) {
  // The composition cuts the data to the new identifier's length: what is left of the table counts.
  const bool fromTable = !data.empty() && tableText.compare(0, data.size(), data) == 0;
  if (!fromTable || identifier == tableIdentifier) return std::string();
  std::string note = SendTexts::TableDataNote;
  note.replace(note.find("%s"), 2, tableIdentifier);
  return note;
}

std::string WaitPaneText(double elapsedSec, double timeoutSec) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s %.1f/%g秒", SendTexts::WaitingReply, elapsedSec < 0 ? 0.0 : elapsedSec, timeoutSec);
  return buf;
}

std::string RelayPaneText(const TRouteTable& table) {
  if (!table.Enabled) return std::string();
  std::string text = "已启动%d级中继";
  text.replace(text.find("%d"), 2, std::to_string(table.Addresses.size()));
  return text;
}
