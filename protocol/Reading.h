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
//                    checksum, E5 E5), one after the other; Fields names the time and the
//                    values of the six sections
//   FREEZEBLOCK      a freeze data block (05 DI2 FF DI0): the items DI1 = 00, 01..0A and 10 of
//                    the same freeze one after the other, 29 + 48 × (k + 1) bytes for k tariffs
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

//
// Records (event records and the like) name their fields: Fields holds one name per field of the
// layout, separated by "|". A field of a record may be made of several parts joined by "+"
// ("XX.XXXX[kW]+YYMMDDhhmm": a demand and its time) and may repeat ("hhmmNN×14"); a record is
// shown field by field ("发生时刻 2026-12-09 10:15:00; 操作者代码 12345678; ..."). Further kinds
// used by records: YYMMDDhhmmss (date and time to the second), YYMMDDNN (a holiday: from that
// date use day table NN).
struct TReadingFormat {
  // DI3 DI2 DI1 DI0 as the standard's tables write them: each a byte in hex, "a~b" a range
  // ("01~3F" tariffs 1 to 63, "01~0C" settlement periods 1 to 12), "xx" any byte.
  const char* Pattern;
  const char* Layout;   // one entry, see above
  const char* Entries;  // see above
  const char* Name;     // the standard's name; a pattern's names its first and last member "…"
  const char* Note;     // what to know when checking the row against the standard
  const char* Access = "";  // 只读, 读写, 只写
  const char* Fields = "";  // names of a record's fields, see above
  const char* Request = "";  // the data a read sends after the identifier ("NN YYMMDDhhmm"), wire order
};

// The table: the rows of Appendix A, then the parameters and load records. An identifier's own
// row goes before the patterns it falls in (04010000 before 040100xx).
const std::vector<TReadingFormat>& ReadingFormats();
// The row for `di` (8 hex digits, DI3 first, either case), or nullptr. Not a scan of the table:
// exact identifiers are looked up directly, patterns among the rows of the same DI3 DI2.
const TReadingFormat* FindReadingFormat(const std::string& di);
// The identifiers a row stands for, DI3 first ("00010100", ...), in ascending order.
std::vector<std::string> RowIdentifiers(const TReadingFormat& row);
// The name of one member of a row: "(上3结算日)正向有功费率2电能" for 00010203.
std::string RowMemberName(const TReadingFormat& row, const std::string& di);

// The identifier's name: the catalogue's when it lists the identifier, else the table row's,
// else empty.
std::string IdentifierName(const std::string& di);

// One entry of a reading: a record's field, a tariff or phase of a data block, a value of one
// point of a load record.
struct TReadingEntry {
  std::string Name;  // "发生时刻", "总", "费率2", "A", "记录块1 A相电压"; empty for a single value
  std::string Text;  // the value as shown, with its unit ("1234.56 kWh"), or why it does not read
  std::string Unit;  // the unit of its first number, or empty
  bool Ok = true;
};

struct TReading {
  bool Ok = false;
  std::string Text;   // "1234.56 kWh", or "无法按XXXXXX.XX kWh解析：..." when not Ok
  std::string Value;  // for a single number the number alone ("1234.56"), else Text
  std::string Unit;   // the unit of the first number of the layout ("kWh"), or empty
  // Entry by entry; empty when the data as a whole does not fit the layout. A record with one
  // field that does not read lists that field with Ok false and the others as they read.
  std::vector<TReadingEntry> Entries;
};

// `data`: the reply's data after the identifier, wire order, without the 33H offset.
TReading FormatReading(const std::string& di, const std::vector<uint8_t>& data);
// The same for a decoded frame: the reading of a normal read reply (11H from the meter, at least
// the identifier; 12H, a follow-up, without its closing sequence number), or the address a
// normal 13H reply carries; Ok false with a reason for any other frame.
TReading ReplyReading(const TFrameBody& body);
// What the data a read request carries after the identifier says: the number of blocks and
// the given time of a load record read (06 DI2 00 01: NN, then YYMMDDhhmm), entry by entry.
// Ok false when the identifier is read without data or the data does not fit.
TReading RequestReading(const std::string& di, const std::vector<uint8_t>& data);
// What a tool tip shows for a read reply: "DI name: reading"; for a record or a block one line
// per entry after "DI name:", lines separated by CR LF.
std::string ReadingTip(const std::string& di, const std::vector<uint8_t>& data);
// The same for a decoded frame: the tip of a normal 11H reply from the meter; empty for others.
std::string ReplyReadingTip(const TFrameBody& body);

// The inverse of FormatReading: the data bytes (wire order) of a reading typed in its own form
// ("1234.56", "1234.56 kWh", "-1.234", "2026-12-09", "10:15:00", "1.2345 kW, 2026-12-09 10:15",
// entries of several separated by "; " and labelled as FormatReading labels them). False with a
// message for a text that does not fit the identifier's layout, or an identifier without one.
bool ParseReading(const std::string& di, const std::string& text, std::vector<uint8_t>& data,
                  std::string& error);

// One field of an identifier's layout, for those who compose data in it (the virtual meter).
struct TLayoutField {
  std::string Kind;  // "number", or the notation: "YYMMDDhhmmss", "YYMMDDhhmm", "hhmmss", "YYMMDDWW",
                     // "MMDDhhmm", "DDhh", "MMDDNN", "hhmmNN", "YYMMDDNN", "ASCII", "WORD", "HEX",
                     // "DIGITS", "LOADBLOCK", "FREEZEBLOCK"
  int Bytes = 0;
  int Decimals = 0;
  bool Signed = false;
  int Group = 0;  // the record field it belongs to
};
// The fields of one entry of the identifier's layout (of the whole record for a record), in wire
// order; empty when the table does not know the identifier.
std::vector<TLayoutField> LayoutFields(const std::string& di);

// Number of data bytes of the identifier's reading, or 0 when it varies (data blocks of tariffs,
// load records) or the table does not know the identifier.
int ReadingLength(const std::string& di);
