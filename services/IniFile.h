#pragma once
// Reader and writer of the program's INI files ("Setup.ini", "logtype.ini"): GBK text with CR LF
// line ends, section and key names matched without regard to case. Every read and every write
// goes to the file itself; no file stays open in between. A write changes only the one entry (or
// appends it) and keeps every other line as it is, byte for byte, and replaces the file
// atomically, so a crash never leaves half a file behind.
#include <string>

class TIniFile {
 public:
  explicit TIniFile(std::string path);
  const std::string& FileName() const { return Path; }

  // Names and values are UTF-8 inside the program. Text values are returned without surrounding
  // blanks; a missing file, section or key gives `def`.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  // Decimal, or hexadecimal after "0x", "0X" or "$" (optionally signed); anything else, or a value
  // beyond 32 bits, gives `def`.
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  // Read as an integer: any value other than 0 is true.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;
  bool ValueExists(const std::string& section, const std::string& key) const;

  // False with a message in *error when the file cannot be read or written, or the names cannot
  // be written (see IniWithEntry). Line breaks inside `value` are written as blanks so that a
  // value can never add entries of its own.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   std::string* error = nullptr);
  bool WriteInteger(const std::string& section, const std::string& key, int value,
                    std::string* error = nullptr);
  bool WriteBool(const std::string& section, const std::string& key, bool value,
                 std::string* error = nullptr);

  // The integer rule of ReadInteger; false (value untouched) when `text` is not a number.
  static bool ParseInteger(const std::string& text, int& value);

 private:
  std::string Path;
};

// The rules of the file's text without the file, as TIniFile applies them to the bytes it reads
// (`data`: the file's GBK bytes; names and values UTF-8, blanks around names ignored).
// IniLookUp gives the trimmed value of the first entry `key` in a section named `section`.
bool IniLookUp(const std::string& data, const std::string& section, const std::string& key,
               std::string& value);
// IniWithEntry sets that entry (or adds it to the first such section, or adds the section at the
// end) and leaves every other line as it was; all lines then end in CR LF. False, `data`
// untouched, for names that a read would not find again: a line break in either, a ']' in the
// section, an empty key, an '=' in the key, or a key beginning with ';', '#' or '['.
bool IniWithEntry(std::string& data, const std::string& section, const std::string& key,
                  const std::string& value);

// Writes `data` to a new file beside `path` and renames it over `path`, so that `path` holds either
// its old content or all of `data`, never part of it. False with the reason in `error`.
bool ReplaceFile(const std::string& path, const std::string& data, std::string& error);
