// INI text as a hand-edited Setup.ini may hold it: sections, entries, comments, blank and odd
// lines (unclosed headers, a GBK character swallowing the ']', lines without '=', stray bytes),
// GBK names and values, CR LF or LF, a byte order mark. The harness keeps its own model of which
// entry a read must find and checks the reader against it, then writes one entry and checks that
// the read gives it back, that every other line stays as it was, and that a second write of the
// same names changes that one line only (no second copy of the section).
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "services/IniFile.h"
#include "services/TextCodec.h"

namespace {

using fuzz::PieceText;
using fuzz::Trim;
using fuzz::UpperAscii;

struct TEntry {
  std::string Section, Key, Value;  // UTF-8, as a read names and returns them
  std::size_t Line = 0;
};

struct TModel {
  std::vector<std::string> Lines;  // GBK, without line ends
  std::string Data;                // the file's bytes
  std::map<std::pair<std::string, std::string>, TEntry> First;  // upper-case names -> entry
  std::map<std::string, std::string> Sections;                   // upper-case -> a spelling
};

std::string Without(std::string text, const std::string& bad) {
  std::string out;
  for (char c : text)
    if (bad.find(c) == std::string::npos) out += c;
  return out;
}

std::string KeyText(FuzzedDataProvider& in) {
  std::string key = Trim(Without(PieceText(in, 4, false), "="));
  if (key.empty() || key[0] == ';' || key[0] == '#' || key[0] == '[') key = "k" + key;
  return key;
}

std::string SectionText(FuzzedDataProvider& in) { return Trim(Without(PieceText(in, 4, false), "]")); }

// Raw GBK double-byte characters (mapped or not) and ASCII, without line breaks and '='.
std::string RawGbk(FuzzedDataProvider& in) {
  std::string raw;
  const int count = in.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < count; ++i) {
    if (in.ConsumeBool()) {
      raw += static_cast<char>(in.ConsumeIntegralInRange(0x81, 0xFE));
      uint8_t trail = in.ConsumeIntegralInRange<uint8_t>(0x40, 0xFE);
      raw += static_cast<char>(trail == 0x7F ? 0x80 : trail);
    } else {
      char c = static_cast<char>(in.ConsumeIntegralInRange(0x20, 0x7E));
      raw += c == '=' ? '+' : c;
    }
  }
  return raw;
}

std::string Blanks(FuzzedDataProvider& in) { return in.ConsumeBool() ? "" : (in.ConsumeBool() ? " " : " \t"); }

void AddEntry(TModel& m, const std::string* section, const std::string& key, const std::string& value) {
  if (!section) return;  // entries before the first section belong to none
  auto id = std::make_pair(UpperAscii(*section), UpperAscii(key));
  if (!m.First.count(id)) m.First[id] = TEntry{*section, key, value, m.Lines.size()};
}

// One line of the file; `section` is the section the lines are in (nullptr before the first).
void AddLine(FuzzedDataProvider& in, TModel& m, std::string& section, bool& inSection) {
  std::string line;
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: {  // a header, maybe with something after the ']'
      section = SectionText(in);
      inSection = true;
      m.Sections[UpperAscii(section)] = section;
      line = Blanks(in) + "[" + Blanks(in) + Utf8ToGbk(section) + Blanks(in) + "]" +
             (in.ConsumeBool() ? " ; " + Utf8ToGbk(PieceText(in, 3, false)) : "");
      break;
    }
    case 1:
    case 2: {  // an entry
      const std::string key = KeyText(in);
      const std::string value = PieceText(in, 6, false);
      AddEntry(m, inSection ? &section : nullptr, key, Trim(value));
      line = Blanks(in) + Utf8ToGbk(key) + Blanks(in) + "=" + Utf8ToGbk(value);
      break;
    }
    case 3: {  // an entry whose value is raw GBK
      const std::string key = KeyText(in);
      const std::string raw = RawGbk(in);
      AddEntry(m, inSection ? &section : nullptr, key, GbkToUtf8(Trim(raw)));
      line = Utf8ToGbk(key) + "=" + raw;
      break;
    }
    case 4:  // a comment, which may look like an entry
      line = (in.ConsumeBool() ? ";" : "#") + Utf8ToGbk(PieceText(in, 5, false));
      break;
    case 5:  // a header that is never closed, or whose ']' is the second byte of a character
      line = "[" + Utf8ToGbk(Without(PieceText(in, 3, false), "]")) +
             (in.ConsumeBool() ? std::string("\x81]") : std::string("=x"));
      break;
    case 6:  // words without '='
      line = Blanks(in) + Utf8ToGbk(Without(PieceText(in, 5, false), "=["));
      break;
    default:  // blank
      line = Blanks(in);
      break;
  }
  m.Lines.push_back(line);
}

TModel BuildFile(FuzzedDataProvider& in) {
  TModel m;
  std::string section;
  bool inSection = false;
  const bool bom = in.ConsumeBool() && in.ConsumeBool();
  const int count = in.ConsumeIntegralInRange(0, 24);
  bool ended = true;
  for (int i = 0; i < count; ++i) {
    AddLine(in, m, section, inSection);
    if (i == 0 && bom) m.Data += "\xEF\xBB\xBF";
    m.Data += m.Lines.back();
    ended = i + 1 < count || in.ConsumeBool();
    if (ended) m.Data += in.ConsumeBool() ? "\r\n" : "\n";
  }
  if (bom && !m.Lines.empty()) m.Lines[0] = "\xEF\xBB\xBF" + m.Lines[0];
  // A last empty line without a line end is no line at all.
  if (!m.Lines.empty() && m.Lines.back().empty() && !ended) m.Lines.pop_back();
  return m;
}

std::vector<std::string> CrLfLines(const std::string& data) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t end = data.find("\r\n", start);
    FUZZ_CHECK(end != std::string::npos);  // every line written ends in CR LF
    lines.push_back(data.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// Every entry of the model reads as the model says, in any letter case of its names.
void CheckReads(const TModel& m, const std::string& data, const std::pair<std::string, std::string>* skip) {
  for (const auto& [id, entry] : m.First) {
    if (skip && id == *skip) continue;
    std::string value = "unset";
    FUZZ_CHECK(IniLookUp(data, entry.Section, entry.Key, value));
    FUZZ_CHECK(value == entry.Value);
    FUZZ_CHECK(IniLookUp(data, " " + UpperAscii(entry.Section), UpperAscii(entry.Key) + "\t", value));
    FUZZ_CHECK(value == entry.Value);
  }
}

bool WritableNames(const std::string& section, const std::string& key) {
  const std::string s = Trim(section), k = Trim(key);
  if (s.find_first_of("]\r\n") != std::string::npos) return false;
  if (k.empty() || k.find_first_of("=\r\n") != std::string::npos) return false;
  return k[0] != ';' && k[0] != '#' && k[0] != '[';
}

std::string OneLine(std::string v) {
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  return v;
}

// Writes `value` and checks the lines: the entry's own line changed, or one line added to its
// section, or the section added at the end; nothing else differs.
void CheckWrite(const TModel& m, const std::string& section, const std::string& key, const std::string& value) {
  std::string data = m.Data;
  const bool ok = IniWithEntry(data, section, key, value);
  FUZZ_CHECK(ok == WritableNames(section, key));
  if (!ok) {
    FUZZ_CHECK(data == m.Data);
    return;
  }
  const auto id = std::make_pair(UpperAscii(Trim(section)), UpperAscii(Trim(key)));
  std::string read;
  FUZZ_CHECK(IniLookUp(data, section, key, read));
  FUZZ_CHECK(read == Trim(OneLine(value)));
  CheckReads(m, data, &id);

  const std::vector<std::string> after = CrLfLines(data);
  const std::string entryLine = Utf8ToGbk(Trim(key)) + "=" + Utf8ToGbk(OneLine(value));
  auto found = m.First.find(id);
  if (found != m.First.end()) {
    FUZZ_CHECK(after.size() == m.Lines.size());
    for (std::size_t i = 0; i < after.size(); ++i)
      if (i != found->second.Line) FUZZ_CHECK(after[i] == m.Lines[i]);
    const std::string& old = m.Lines[found->second.Line];
    const std::size_t eq = old.find('=');
    FUZZ_CHECK(after[found->second.Line] == old.substr(0, eq + 1) + Utf8ToGbk(OneLine(value)));
  } else if (m.Sections.count(id.first)) {
    FUZZ_CHECK(after.size() == m.Lines.size() + 1);
    std::size_t skipped = 0;
    for (std::size_t i = 0; i < after.size(); ++i) {
      if (!skipped && after[i] == entryLine && (i == m.Lines.size() || after[i] != m.Lines[i])) {
        skipped = 1;
        continue;
      }
      FUZZ_CHECK(i - skipped < m.Lines.size() && after[i] == m.Lines[i - skipped]);
    }
    FUZZ_CHECK(skipped == 1);
  } else {
    FUZZ_CHECK(after.size() == m.Lines.size() + 2);
    for (std::size_t i = 0; i < m.Lines.size(); ++i) FUZZ_CHECK(after[i] == m.Lines[i]);
    FUZZ_CHECK(after[m.Lines.size()] == "[" + Utf8ToGbk(Trim(section)) + "]");
    FUZZ_CHECK(after[m.Lines.size() + 1] == entryLine);
  }

  // Written again, in another letter case, with another value: still one entry, one line changed.
  std::string again = data;
  FUZZ_CHECK(IniWithEntry(again, UpperAscii(section), key, value + "2"));
  const std::vector<std::string> twice = CrLfLines(again);
  FUZZ_CHECK(twice.size() == after.size());
  std::size_t changed = 0;
  for (std::size_t i = 0; i < twice.size(); ++i) changed += twice[i] != after[i];
  FUZZ_CHECK(changed == 1);
  FUZZ_CHECK(IniLookUp(again, section, key, read) && read == Trim(OneLine(value + "2")));
}

// The integer rule: what is written in decimal or hexadecimal reads back.
void CheckIntegers(int value) {
  int read = ~value;
  FUZZ_CHECK(TIniFile::ParseInteger(std::to_string(value), read) && read == value);
  char hex[16];
  std::snprintf(hex, sizeof hex, "$%X", static_cast<unsigned>(value));
  FUZZ_CHECK(TIniFile::ParseInteger(hex, read) && read == value);
  std::snprintf(hex, sizeof hex, " 0x%x ", static_cast<unsigned>(value));
  FUZZ_CHECK(TIniFile::ParseInteger(hex, read) && read == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider in(bytes, size);
  const TModel m = BuildFile(in);
  CheckReads(m, m.Data, nullptr);

  // A name of the file (in another spelling) or a new one, possibly one that cannot be written.
  std::string section, key;
  if (!m.First.empty() && in.ConsumeBool()) {
    auto it = m.First.begin();
    std::advance(it, in.ConsumeIntegralInRange<std::size_t>(0, m.First.size() - 1));
    section = in.ConsumeBool() ? UpperAscii(it->second.Section) : it->second.Section;
    key = it->second.Key;
  } else {
    section = PieceText(in, 4, true);
    key = PieceText(in, 4, true);
  }
  const std::string value = PieceText(in, 8, true);
  CheckWrite(m, section, key, value);
  CheckIntegers(in.ConsumeIntegral<int>());

  // Whatever bytes a file holds, a read stays inside them.
  std::string raw = in.ConsumeRemainingBytesAsString(), ignored;
  IniLookUp(raw, section, key, ignored);
  return 0;
}
