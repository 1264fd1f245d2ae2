#pragma once
// The catalogue of DL/T 645-2007 data identifiers shown by the identifier picker, and the rules
// that turn one of its rows into a TIdentifierDlt. No widgets here: the picker window holds the
// selection and calls these functions with the row text.
//
// A row reads: 8 hex digits of the code (DI3 first), "-", the name, a blank, the access as two
// characters ("R ", "RW" or " W") and the length right-aligned in two characters (" x" for a
// variable data block). Rows that begin with "----" separate groups. Rows are UTF-8; every
// position used below lies in the ASCII head (9 bytes) or the ASCII tail (4 bytes), so byte
// offsets from either end are the same as in the row as stored in GBK.
#include <string>
#include <vector>

#include "protocol/DLT.h"

// The six lists, in the order the picker shows them.
enum TCatalogListId { clEnergy = 0, clMD, clVar, clParam, clEvent, clPower };
constexpr int CatalogListCount = 6;

struct TCatalogList {
  std::string Name;   // the list widget's name, e.g. "lbxEnergy"
  std::string Title;  // the panel title
  std::vector<std::string> Rows;
};

// All six lists, indexed by TCatalogListId.
const std::vector<TCatalogList>& CatalogLists();
const TCatalogList& CatalogList(TCatalogListId id);

bool IsSeparatorRow(const std::string& row);  // begins with "----"

// What the picker shows for a selected row: the code in edtCode and "-name" in lbName.
struct TShownRow {
  bool Separator = false;  // edtCode emptied, lbName keeps its text
  std::string Code;        // first 8 characters
  std::string Label;       // from the hyphen up to the blank before the access
};
TShownRow ShowRow(const std::string& row);

// The access columns of a row: the two characters before the length. Empty rows and rows too
// short to carry them allow neither.
bool RowAllowsRead(const std::string& row);
bool RowAllowsWrite(const std::string& row);

// The messages the picker shows: invalid row (a separator), not writable, not readable, and
// the identifier already in use.
extern const char* const MsgInvalidIdentifier;
extern const char* const MsgCannotWrite;
extern const char* const MsgCannotRead;
extern const char* const MsgAlreadySelected;

// bbtSelectClick over the row last selected (`currentRow`, possibly empty) and the identifier in
// use (`given`, whose Access says what the command wants). On success Ok is true and Picked holds
// the result; otherwise Message holds the text to show and the picker stays open.
struct TSelectResult {
  bool Ok = false;
  TIdentifierDlt Picked;
  std::string Message;
};
TSelectResult SelectRow(const std::string& currentRow, const TIdentifierDlt& given);

// Finds a typed identifier. `record` carries the wanted Access (it is the picker's
// GivenIdentifier); lists are searched energy, variables, maximum demand, events, parameters,
// load records. The first row whose code equals `code` decides: true and `record` filled when its
// access allows the wanted one, false and `record` unchanged otherwise (also when no row matches).
// Found is left to the caller.
bool LookupIdentifier(const std::string& code, TIdentifierDlt& record);
