#pragma once
// The rules of the main window's send cycle without the widgets: which frame Send transmits and
// what the frame field shows (a command composed from the fields, or a frame typed as hex text),
// the rows of the message grid for a sent frame, and how a row's frame is taken back for editing.
// The window reads its widgets into these records, calls these functions and writes the results
// back, so every rule is tested without a display.
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/Compose.h"
#include "protocol/DLT.h"
#include "protocol/Types.h"

namespace SendTexts {
inline constexpr char FlagSent[] = "发送→";
inline constexpr char FlagReceived[] = "接收←";
inline constexpr char NoReplyNote[] = "发送完毕，%s无回应帧";  // %s: the command's name
// The three lines of the frame field's hint while its text is malformed.
inline constexpr char FrameHint1[] = " 您输入的帧格式有错误 ";
inline constexpr char FrameHint2[] = " 输入的格式为: 两位十六进制 + 空格 + 两位十六进制 ";
inline constexpr char FrameHint3[] = " 例如: 68 12 34 00 00 00 00 68 ";
// Our own: a typed frame with its checksum and 16H whose L does not match its data.
inline constexpr char WaitingReply[] = "等待应答";  // our own: the wait pane, then "1.5/10秒"
inline constexpr char TableDataNote[] = "数据域仍是%s的费率表数据！";  // our own; %s the identifier
inline constexpr char FrameLengthMismatch[] = " 帧的长度L与数据域字节数不符，请核对 ";
}  // namespace SendTexts

// The hint of a malformed typed frame: its three lines joined by CR LF.
std::string FrameFormatHint();

// True when `text` (the frame field, upper case) is laid out as bytes of two hexadecimal digits,
// each followed by one blank except possibly the last: "68 12 34" and "68 12 34 " pass, "68 1",
// "6812", "68  12" and "6: 12" do not. An empty text passes.
bool CheckFrameText(const std::string& text);

// What the typed bytes are: a frame still without its checksum and end byte (the usual case), a
// whole frame that already ends with its own correct checksum and 16H (L matching its data), or
// one that ends with a correct checksum and 16H but whose L does not count its data bytes
// (refused: neither sending it as typed nor adding a second checksum would give a sound frame).
// FE bytes in front are a preamble and are not counted.
enum class TTypedFrameKind { NeedsChecksum, Complete, LengthMismatch };
TTypedFrameKind TypedFrameKind(const std::vector<uint8_t>& typed);

// The hex pairs of `text` with every blank removed (a last unpaired digit is ignored, a pair
// that is not hex gives 00H).
std::vector<uint8_t> TypedBytes(const std::string& text);
// The bytes Send transmits for a typed frame: the typed bytes, followed by their checksum and
// 16H unless they already end with their own (a complete frame goes out as typed).
std::vector<uint8_t> TypedFrameBytes(const std::string& text);
// Why a typed frame that passes the layout check is refused all the same, or empty.
std::string TypedFrameRefusal(const std::string& text);
// The status bar's one-line form of the three-line format hint.
std::string FrameFormatHintLine();
// The command record of a typed frame: no preamble, a reply expected within 10 seconds.
TDltFrame TypedFrameCommand();

// The preamble as the preview shows it.
struct TPreviewPreamble {
  bool UseLC = false;
  std::string LC;
  int LCCount = 0;
};

// Composes the command of `fields` (GetCtrlItem, ApplyCtrlItem, BuildFrame) and writes the
// composed length into the length field, except for write data with an identifier the catalogue
// does not know (the user types that length). False when no frame can be built; `fields` then
// still carries the enabled state and limits the command sets.
bool ComposeCommand(TCommandFields& fields, const TIdentifierDlt& curIdentifier, const TMeterParams& params,
                    const TRouteTable& routeTable, TDltFrame& frame);
// Packs `frame` and gives the text of every byte Send puts on the line, preamble first. False
// when the frame cannot be packed.
bool PackedPreview(const TDltFrame& frame, const TPreviewPreamble& preamble, std::string& text);

// "11H": a control code as two uppercase hex digits and H.
std::string FuncText(int code);

// The row of a frame handed to the channel: `func` empty for a typed frame, `succ` the channel's
// error text (empty when it took the frame).
TComMsg SentRow(const std::string& func, const std::string& content, TDateTime time, const std::string& succ);
// The reading column of a sent row: the identifier the command carries and its name
// ("00010000 (当前)正向有功总电量"); empty for a command without one.
std::string SentParse(const TDltFrame& frame);
// The same for the bytes of a typed frame: the identifier of a read or write (11H, 12H, 14H)
// whose data carries one.
std::string TypedFrameParse(const std::vector<uint8_t>& bytes);

// The note row under a command that expects no reply.
TComMsg NoReplyRow(const std::string& cmdName, TDateTime time, const std::string& succ);

// The frame of a grid row as it goes back into the frame field: a sent or received row's content
// without surrounding blanks and without its last five characters (checksum, blank, 16). False
// for any other row (a note row).
bool RowFrameForEditing(const TComMsg& row, std::string& frameText);

// The message and log grids are bounded: a grid holding more than this many rows is emptied
// before the next row is added, so it never holds more than one row beyond it.
constexpr int MaxGridRows = 1000;
inline bool GridMustEmpty(int rowCount) { return rowCount > MaxGridRows; }

// Rows at odd positions (counted from 0) are shaded grey when neither selected nor focused.
inline bool RowShaded(int position) { return position % 2 == 1; }

// Which tariff table editor a double-click in the data field opens: only for write data (14H)
// with the data field enabled and an identifier of exactly 8 characters.
enum class TTableEditor { None, Zones, Segments };
TTableEditor TableEditorFor(int ctrlCode, bool dataEnabled, const std::string& identifier);

// The note beside the data field while it still holds the tariff table text made (by a table
// editor) for another identifier than the one now in the identifier field, or the part of it
// left after the new identifier's length cut it: that data would be written to the new
// identifier. Empty otherwise.
std::string TableDataNote(const std::string& identifier, const std::string& data, const std::string& tableIdentifier,
                          const std::string& tableText);

// The wait pane while an exchange waits for its reply: "等待应答 1.5/10秒" (seconds waited, one
// decimal, and the timeout).
std::string WaitPaneText(double elapsedSec, double timeoutSec);

// The relay pane after the route dialog: "已启动%d级中继" with the number of relays while relaying is
// on, empty otherwise.
std::string RelayPaneText(const TRouteTable& table);
