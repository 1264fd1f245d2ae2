// The settings file as a technician may have edited it (the program's sections and keys in any
// letter case, the count under LCCOUNT or LCCount, entries of its own, comments, GBK, LF or
// CR LF): loading gives each entry's value or its default; saving any values (GBK text, blanks,
// separators, line breaks) and loading again gives them back as a read returns them (one line,
// without surrounding blanks); every entry that is not a setting stays as it was, no section is
// doubled, and saving the same values again leaves the file byte for byte as it is.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "services/IniFile.h"
#include "services/SingletonUnit.h"
#include "services/TextCodec.h"

namespace {

using fuzz::PieceText;
using fuzz::Trim;
using fuzz::UpperAscii;

const char* const kSections[] = {"DLTPARAMETER", "RS232", "dltParameter", "rs232", "Other", "乚"};
const char* const kKeys[] = {"PSW", "OPERATOR", "USECOLLECTOR", "COLLECTOR", "USELC", "LC", "LCCOUNT",
                             "LCCount", "SERIAL_PORT", "SERIAL_RATE", "SERIAL_PARITY", "SERIAL_DATABITS",
                             "SERIAL_STOPBITS", "SERIAL_INPUTMODE", "serial_port", "Unknown", "癩", "X"};
const char* const kValues[] = {"", "1", "0", "2", "yes", "0x10", "$FF", "-3", "99999999999", " 7 ", "偶校验"};

const std::string& Folder() {
  static const std::string folder = [] {
    std::string pattern = "/dev/shm/dlt-fuzz-settings-XXXXXX";
    if (access("/dev/shm", W_OK) != 0) pattern = "/tmp/dlt-fuzz-settings-XXXXXX";
    const char* made = mkdtemp(pattern.data());
    if (!made) std::abort();
    return std::string(made);
  }();
  static const bool cleanUp = [] {
    std::atexit([] {
      unlink((Folder() + "/Setup.ini").c_str());
      rmdir(Folder().c_str());
    });
    return true;
  }();
  (void)cleanUp;
  return folder;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

template <std::size_t N>
const char* Pick(FuzzedDataProvider& in, const char* const (&list)[N]) {
  return list[in.ConsumeIntegralInRange<std::size_t>(0, N - 1)];
}

bool IsSetting(const std::string& section, const std::string& key) {
  static const char* const param[] = {"PSW", "OPERATOR", "USECOLLECTOR", "COLLECTOR", "USELC", "LC", "LCCOUNT"};
  static const char* const port[] = {"SERIAL_PORT", "SERIAL_RATE", "SERIAL_PARITY", "SERIAL_DATABITS",
                                     "SERIAL_STOPBITS", "SERIAL_INPUTMODE"};
  const std::string s = UpperAscii(section), k = UpperAscii(key);
  if (s == "DLTPARAMETER")
    for (const char* p : param)
      if (k == p) return true;
  if (s == "RS232")
    for (const char* p : port)
      if (k == p) return true;
  return false;
}

using TNames = std::vector<std::pair<std::string, std::string>>;

// The file's bytes; `names` gets the entries that are not settings.
std::string BuildFile(FuzzedDataProvider& in, TNames& names) {
  std::string data, section;
  const int lines = in.ConsumeIntegralInRange(0, 20);
  for (int i = 0; i < lines; ++i) {
    const int kind = in.ConsumeIntegralInRange(0, 5);
    if (kind == 0) {
      section = Pick(in, kSections);
      data += "[" + section + "]";
    } else if (kind <= 3) {
      const std::string key = Pick(in, kKeys);
      if (!IsSetting(section, key)) names.emplace_back(section, key);
      data += key + "=" + (in.ConsumeBool() ? Pick(in, kValues) : PieceText(in, 5, false));
    }
    else if (kind == 4) data += "; " + PieceText(in, 4, false);
    data += in.ConsumeBool() ? "\r\n" : "\n";
  }
  return Utf8ToGbk(data);
}

std::string Value(FuzzedDataProvider& in) { return PieceText(in, 8, true); }

std::string OneLine(std::string v) {
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  return Trim(v);
}

int HeaderCount(const std::string& data, const std::string& section) {
  int count = 0;
  std::istringstream lines(data);
  for (std::string line; std::getline(lines, line);)
    count += UpperAscii(Trim(line)) == "[" + section + "]";
  return count;
}

// Loading gives what a read of the file gives, or the default.
void CheckLoaded(const TDltParam& p, const std::string& data) {
  auto text = [&](const char* section, const char* key, const std::string& def) {
    std::string v;
    return IniLookUp(data, section, key, v) ? v : def;
  };
  auto integer = [&](const char* key, int def) {
    int v = def;
    return TIniFile::ParseInteger(text("DLTPARAMETER", key, "none"), v) ? v : def;
  };
  FUZZ_CHECK(p.Psw == text("DLTPARAMETER", "PSW", "26404915"));
  FUZZ_CHECK(p.Operator == text("DLTPARAMETER", "OPERATOR", "QUIL"));
  FUZZ_CHECK(p.UseCollector == (integer("USECOLLECTOR", 0) != 0));
  FUZZ_CHECK(p.Collector == text("DLTPARAMETER", "COLLECTOR", ""));
  const TPreamble pre = p.StoredPreamble();
  FUZZ_CHECK(pre.UseLC == (integer("USELC", 0) != 0));
  FUZZ_CHECK(pre.LC == text("DLTPARAMETER", "LC", ""));
  FUZZ_CHECK(pre.LCCount == integer("LCCount", 0));
  FUZZ_CHECK(p.ComInfo.Port == text("RS232", "SERIAL_PORT", "COM1"));
  FUZZ_CHECK(p.ComInfo.BaudRate == text("RS232", "SERIAL_RATE", "9600"));
  FUZZ_CHECK(p.ComInfo.Parity == text("RS232", "SERIAL_PARITY", "None"));
  FUZZ_CHECK(p.ComInfo.DataBits == text("RS232", "SERIAL_DATABITS", "8"));
  FUZZ_CHECK(p.ComInfo.StopBits == text("RS232", "SERIAL_STOPBITS", "1"));
  FUZZ_CHECK(p.ComInfo.InputMode == text("RS232", "SERIAL_INPUTMODE", "1"));
  FUZZ_CHECK(!p.ComInfo.Opened);
  const int count = p.GetPreamble().LCCount;
  FUZZ_CHECK(count >= 0 && count <= TDltParam::MaxLCCount);
}

void CheckSavedValues(const TDltParam& saved, const TDltParam& loaded) {
  FUZZ_CHECK(loaded.Psw == OneLine(saved.Psw));
  FUZZ_CHECK(loaded.Operator == OneLine(saved.Operator));
  FUZZ_CHECK(loaded.UseCollector == saved.UseCollector);
  FUZZ_CHECK(loaded.Collector == OneLine(saved.Collector));
  const TPreamble a = saved.StoredPreamble(), b = loaded.StoredPreamble();
  FUZZ_CHECK(b.UseLC == a.UseLC && b.LC == OneLine(a.LC) && b.LCCount == a.LCCount);
  FUZZ_CHECK(loaded.ComInfo.Port == OneLine(saved.ComInfo.Port));
  FUZZ_CHECK(loaded.ComInfo.BaudRate == OneLine(saved.ComInfo.BaudRate));
  FUZZ_CHECK(loaded.ComInfo.Parity == OneLine(saved.ComInfo.Parity));
  FUZZ_CHECK(loaded.ComInfo.DataBits == OneLine(saved.ComInfo.DataBits));
  FUZZ_CHECK(loaded.ComInfo.StopBits == OneLine(saved.ComInfo.StopBits));
  FUZZ_CHECK(loaded.ComInfo.InputMode == OneLine(saved.ComInfo.InputMode));
  FUZZ_CHECK(!loaded.ComInfo.Opened);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 4096) return 0;
  FuzzedDataProvider in(bytes, size);
  const std::string path = Folder() + "/Setup.ini";
  const bool again = in.ConsumeIntegralInRange(0, 7) == 0;
  TNames names;
  const std::string before = BuildFile(in, names);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << before;
  }
  TDltParam param(Folder());
  CheckLoaded(param, before);

  param.Psw = Value(in);
  param.Operator = Value(in);
  param.UseCollector = in.ConsumeBool();
  param.Collector = Value(in);
  param.SetPreamble(TPreamble{in.ConsumeBool(), Value(in), in.ConsumeIntegral<int>()});
  param.ComInfo.Port = Value(in);
  param.ComInfo.BaudRate = Value(in);
  param.ComInfo.Parity = Value(in);
  param.ComInfo.DataBits = Value(in);
  param.ComInfo.StopBits = Value(in);
  param.ComInfo.InputMode = Value(in);
  param.ComInfo.Opened = true;
  std::string error;
  FUZZ_CHECK(param.Save(error) && error.empty());
  const std::string after = ReadFile(path);
  CheckSavedValues(param, TDltParam(Folder()));

  // Entries of the file's own stay; the two sections are there once (or as often as before).
  for (const auto& [section, key] : names) {
    std::string a = "absent", b = "absent";
    IniLookUp(before, section, key, a);
    IniLookUp(after, section, key, b);
    FUZZ_CHECK(a == b);
  }
  for (const char* section : {"DLTPARAMETER", "RS232"})
    FUZZ_CHECK(HeaderCount(after, section) == std::max(1, HeaderCount(before, section)));

  // A save writes thirteen entries, each through a whole file; the second one is checked now and
  // then so that the run covers more files.
  if (again) {
    FUZZ_CHECK(param.Save(error));
    FUZZ_CHECK(ReadFile(path) == after);
  }
  return 0;
}
