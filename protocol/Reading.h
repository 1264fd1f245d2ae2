#pragma once
// Readings in engineering units: what the data of a read reply means, as a meter's display would
// show it ("1234.56 kWh", "-1.234 A", "2026-12-09 (星期三)", "10:15:00"), and the way back from
// such a text to the data bytes (the virtual meter's --set and --values).
//
// The layouts live in one table (ReadingFormats), one row per identifier or identifier pattern,
// written in the notation of DL/T 645-2007 Appendix A so that each row can be checked against
// the standard by eye. A row's Layout is the layout of one entry, fields separated by blanks:
//
//   XXXXXX.XX[kWh]   a BCD number: one X (or N) per digit, two digits a byte, the point where
//                    the decimals start, the unit in brackets. A leading "-" marks a signed
//                    field: the most significant bit of its most significant byte is the sign.
//   YYMMDDWW         date and week day (0 = Sunday)       hhmmss      time of day
//   YYMMDDhhmm       date and time to the minute          MMDDhhmm    month, day, hour, minute
//   DDhh             day of month and hour (9999: not set)
//   MMDDNN, hhmmNN   one entry of a time-zone table (from MM-DD use day table NN) or of a day
//                    time-segment table (from hh:mm use tariff NN)
//   ASCII*n          n bytes of text, first character at the most significant byte, NUL padded
//   WORD*n           a status or characteristic word of n bytes: hexadecimal and its set bits
//   HEX*n            n bytes shown as hexadecimal, most significant first (passwords)
//   DIGITS*n         n bytes of BCD shown digit for digit, leading zeros kept (addresses)
//   LOADBLOCK        load record blocks (A0 A0, length, time, six sections closed by AA,
//                    checksum, E5 E5), one after the other
//
// A row's Entries says how many entries the data holds: "" one; "A,B,C" or "total,A,B,C" one per
// label; "total,T" a data block of tariffs (总, 费率1, 费率2, ... as many as the data holds; a
// label "total" is shown as 总);
// "*14" fourteen unlabeled entries. Data is in wire order (least significant byte first) without
// the identifier; entries follow each other in the order the labels name them.
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/Types.h"

struct TReadingFormat {
  const char* Pattern;  // 8 hex digits DI3..DI0; "x" stands for any digit
  const char* Layout;   // one entry, see above
  const char* Entries;  // see above
  const char* Name;     // name used when the catalogue does not list the identifier
  const char* Note;     // what to know when checking the row against the standard
};

// The table, most specific rows first: the first row whose pattern matches decides.
const std::vector<TReadingFormat>& ReadingFormats();
// The row for `di` (8 hex digits, DI3 first, either case), or nullptr.
const TReadingFormat* FindReadingFormat(const std::string& di);

// The identifier's name: the catalogue's when it lists the identifier, else the table row's,
// else empty.
std::string IdentifierName(const std::string& di);

struct TReading {
  bool Ok = false;
  std::string Text;   // "1234.56 kWh", or "无法按XXXXXX.XX kWh解析：..." when not Ok
  std::string Value;  // for a single number the number alone ("1234.56"), else Text
  std::string Unit;   // the unit of the first number of the layout ("kWh"), or empty
};

// `data`: the reply's data after the identifier, wire order, without the 33H offset.
TReading FormatReading(const std::string& di, const std::vector<uint8_t>& data);
// The same for a decoded frame: the reading of a normal read reply (11H from the meter,
// at least the identifier); Ok false with a reason for any other frame.
TReading ReplyReading(const TFrameBody& body);
// What a tool tip shows for a read reply: "DI name: reading".
std::string ReadingTip(const std::string& di, const std::vector<uint8_t>& data);
// The same for a decoded frame: the tip of a normal 11H reply from the meter; empty for others.
std::string ReplyReadingTip(const TFrameBody& body);

// The inverse of FormatReading: the data bytes (wire order) of a reading typed in its own form
// ("1234.56", "1234.56 kWh", "-1.234", "2026-12-09", "10:15:00", "1.2345 kW, 2026-12-09 10:15",
// entries of several separated by "; " and labelled as FormatReading labels them). False with a
// message for a text that does not fit the identifier's layout, or an identifier without one.
bool ParseReading(const std::string& di, const std::string& text, std::vector<uint8_t>& data,
                  std::string& error);

// Number of data bytes of the identifier's reading, or 0 when it varies (data blocks of tariffs,
// load records) or the table does not know the identifier.
int ReadingLength(const std::string& di);
