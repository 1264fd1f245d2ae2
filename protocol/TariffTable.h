#pragma once
// The data texts of the two tariff time tables written to a meter, as the table editors load and
// build them: the day time-segment table (entries hhmmNN: start time and tariff number 01..63)
// and the year time-zone table (entries MMDDNN: start date and day table number 01..14). A text
// is a run of 6-digit entries without separators; an editor shows 14 rows, one per entry.
#include <array>
#include <string>

enum class TTariffKind { Segment, Zone };

constexpr int TariffRowCount = 14;
constexpr int TariffEntryLength = 6;

// One row of an editor: the value (hour and minute, or month and day) and the number picked in
// the row's list, counted from 1; 0 when nothing is picked.
struct TTariffRow {
  int High = 0;  // hour or month
  int Low = 0;   // minute or day
  int Number = 0;
};
using TTariffRows = std::array<TTariffRow, TariffRowCount>;

// The entries of a row's list: 63 tariffs, or 14 day tables.
int TariffNumberCount(TTariffKind kind);

// Puts the whole entries of `text` (the first 14 at most; a broken last entry is ignored) into
// the rows from the first on and returns how many it put. An entry whose value is not a valid
// time (date) ends the loading: that row and the later ones keep what they held. A number part
// that is not a number from 1 to TariffNumberCount leaves its row with no number. Dates are
// checked against a leap year, so a zone starting on 29 February loads in every year.
int LoadRows(TTariffKind kind, const std::string& text, TTariffRows& rows);

// The text of the rows: each row with a number gives its entry, a row without one repeats the
// entry before it, and the first row without a number before any entry ends the text. So the
// result is empty or exactly 14 entries (84 characters).
std::string BuildTableText(TTariffKind kind, const TTariffRows& rows);
