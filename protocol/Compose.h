#pragma once
// Command composition: from the main window's command fields, the meter parameters and the relay
// route table to one TDltFrame ready for TProtocol::Pack. The window copies its widgets into a
// TCommandFields, runs GetCtrlItem, ApplyCtrlItem and BuildFrame on one item, and copies the
// fields back; the command line fills the same record from its options.
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/DLT.h"

// One input field of the command panel as composition sees it.
struct TFieldState {
  std::string Text;
  bool Enabled = true;
  int MaxLength = 0;  // 0: no limit set
  std::string Hint;   // tool tip
};

// The command panel: address, identifier, length and data fields, the control-code list and the
// identifier and route table buttons.
struct TCommandFields {
  TFieldState edtID, edtDS, edtLen, edtData;
  std::vector<std::string> CtrlEntries;  // items of cmbCtrl
  int CtrlIndex = -1;                    // selected item, -1 when none
  bool bbtDSEnabled = true, bbtRTEnabled = true;
};

// The meter-side settings composition reads. Operator holds the operator code as stored (GBK
// bytes): each byte goes into the frame as it is.
struct TMeterParams {
  std::string Psw;
  std::string Operator;
  bool UseCollector = false;
  std::string Collector;
};

// The fourteen entries of the control-code list, in list order.
const std::vector<std::string>& CtrlListEntries();
// Clears the list, adds the fourteen entries and selects the first (read data, 11H).
void FillCtrlList(TCommandFields& fields);

// The rules of the entry `entry` ("...-11H"). An entry without a known code suffix gives an
// empty item (empty Name), which BuildFrame refuses.
TCtrlItem CtrlItemFor(const std::string& entry);
// The rules of the selected control code; an empty item when nothing is selected.
TCtrlItem GetCtrlItem(const TCommandFields& fields);

// Sets the fields for the command (enabled state, forced address, maximum lengths, emptied or
// cut texts) and completes DataUsed and DataLen of `item` for read data (11H) and write data
// (14H), from the current identifier `curIdentifier`.
void ApplyCtrlItem(TCtrlItem& item, TCommandFields& fields, const TIdentifierDlt& curIdentifier);

// Why BuildFrame made no frame.
enum TBuildFailure : int {
  bfNone = 0,
  bfNoCtrlCode,     // no control code selected
  bfNoIdentifier,   // the command needs an identifier and the field does not hold 8 characters
  bfBadBaudRate,    // 17H with a rate other than 600, 1200, 2400, 4800, 9600, 19200
  bfBadRoute,       // a relay address is not 12 hex digits, or more than 7 relays
  bfBadCollector,   // relayed through a collector whose address is not 12 hex digits
};
std::string BuildFailureText(TBuildFailure failure);  // one line for the command line

// Builds the frame from the item (after ApplyCtrlItem), the fields, the settings and the route
// table. True and `frame` filled, or false, `frame` untouched and the reason in `failure`.
bool BuildFrame(const TCtrlItem& item, const TCommandFields& fields, const TMeterParams& params,
                const TRouteTable& routeTable, TDltFrame& frame, TBuildFailure* failure = nullptr);

// The identifier field's change handler without the widgets: what the current identifier and the
// field's tool tip become when the identifier text changes to `text` while `item`'s command is
// selected. A text of other than 8 characters only replaces the DI; a command without an
// identifier changes nothing; otherwise the catalogue is asked with the command's access.
void IdentifierChanged(const std::string& text, const TCtrlItem& item, TIdentifierDlt& curIdentifier,
                       std::string& hint);

// The preview shows at most this many preamble bytes; the parameter dialog allows 0..9.
constexpr int MaxPreviewPreamble = 255;

// The preamble byte as the channel sends it: `lc` (1 to 8 hex digits) read as a number, its low
// byte as two uppercase hex digits. False when `lc` is not such a number; the channel then
// refuses to send.
bool PreambleByteText(const std::string& lc, std::string& text);

// The text that goes on the line for a packed frame: with `useLC`, the preamble byte
// (PreambleByteText, or `lc` as it stands when it is not hex) and a blank `lcCount` times
// (bounded by MaxPreviewPreamble), then every byte as two hex digits and a blank.
std::string PreviewText(const uint8_t* bytes, int count, bool useLC, const std::string& lc, int lcCount);
