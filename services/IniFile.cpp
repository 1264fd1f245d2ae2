#include "services/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "services/TextCodec.h"

namespace {

// A settings file larger than this is not ours; reading it gives defaults, writing refuses.
constexpr off_t MaxFileSize = 16 * 1024 * 1024;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// True when `text` holds a double-byte GBK character at `i`: a lead byte 81H..FEH followed by a
// trail byte 40H..FEH other than 7FH. Trail bytes include ']', '[', '\\' and the ASCII letters.
bool PairAt(const std::string& text, std::size_t i) {
  if (i + 1 >= text.size()) return false;
  unsigned char lead = static_cast<unsigned char>(text[i]);
  unsigned char trail = static_cast<unsigned char>(text[i + 1]);
  return lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
}

// Compares two GBK names without regard to ASCII letter case; the trail byte of a double-byte
// character is compared exactly (it may fall into the range of ASCII letters).
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (PairAt(a, i)) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

std::string ErrnoText(int err) { return std::strerror(err); }

// Reads the whole file. A missing file reads as empty (and `missing` is set); other failures
// return false with the errno in `err`.
bool ReadAll(const std::string& path, std::string& data, bool& missing, int& err) {
  data.clear();
  missing = false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    if (err == ENOENT) {
      missing = true;
      return true;
    }
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    err = errno;
    ::close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode) || st.st_size > MaxFileSize) {
    err = S_ISDIR(st.st_mode) ? EISDIR : EFBIG;
    ::close(fd);
    return false;
  }
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
    if (data.size() > static_cast<std::size_t>(MaxFileSize)) {
      err = EFBIG;
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  return true;
}

// The file's lines without their line ends. `data` ends up as lines joined by CR LF.
std::vector<std::string> SplitLines(const std::string& data) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t nl = data.find('\n', start);
    std::size_t end = (nl == std::string::npos) ? data.size() : nl;
    std::size_t len = end - start;
    if (len > 0 && data[start + len - 1] == '\r') --len;
    lines.push_back(data.substr(start, len));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return lines;
}

// The text of a line as parsed: without a UTF-8 byte order mark on the first line.
std::string ParseText(const std::vector<std::string>& lines, std::size_t i) {
  const std::string& s = lines[i];
  if (i == 0 && s.compare(0, 3, "\xEF\xBB\xBF") == 0) return s.substr(3);
  return s;
}

// Position of the first `c` in `text` that is a character of its own, not the trail byte of a
// double-byte character.
std::size_t FindSingle(const std::string& text, char c, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (PairAt(text, i)) {
      ++i;
      continue;
    }
    if (text[i] == c) return i;
  }
  return std::string::npos;
}

// "[Name]" gives true and the name.
bool SectionName(const std::string& line, std::string& name) {
  std::string t = Trim(line);
  if (t.empty() || t[0] != '[') return false;
  std::size_t close = FindSingle(t, ']', 1);
  if (close == std::string::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

// "Key=Value" gives true, the key and the position of '=' in the raw line.
bool EntryKey(const std::string& line, std::string& key, std::size_t& eq) {
  std::string t = Trim(line);
  if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') return false;
  eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(line.substr(0, eq));
  return !key.empty();
}

struct TLocation {
  bool SectionFound = false;
  std::size_t InsertAt = 0;  // after the last non-blank line of the first matching section
  bool KeyFound = false;
  std::size_t KeyLine = 0;
  std::size_t Eq = 0;
};

// Finds the first entry `key` in any section named `section` (names already GBK).
TLocation Locate(const std::vector<std::string>& lines, const std::string& section,
                 const std::string& key) {
  TLocation loc;
  bool inSection = false;
  bool firstSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string text = ParseText(lines, i);
    std::string name;
    if (SectionName(text, name)) {
      inSection = SameName(name, section);
      firstSection = inSection && !loc.SectionFound;
      if (firstSection) {
        loc.SectionFound = true;
        loc.InsertAt = i + 1;
      }
      continue;
    }
    if (!inSection) continue;
    if (firstSection && !Trim(text).empty()) loc.InsertAt = i + 1;
    std::string k;
    std::size_t eq = 0;
    if (EntryKey(text, k, eq) && SameName(k, key)) {
      loc.KeyFound = true;
      loc.KeyLine = i;
      loc.Eq = eq + (lines[i].size() - text.size());
      return loc;
    }
  }
  return loc;
}

// Looks up the raw (GBK) value in the file's bytes; false when the section or key is missing.
bool LookUpRaw(const std::string& data, const std::string& section, const std::string& key,
               std::string& rawValue) {
  std::vector<std::string> lines = SplitLines(data);
  TLocation loc = Locate(lines, Utf8ToGbk(Trim(section)), Utf8ToGbk(Trim(key)));
  if (!loc.KeyFound) return false;
  rawValue = Trim(lines[loc.KeyLine].substr(loc.Eq + 1));
  return true;
}

bool LookUp(const std::string& path, const std::string& section, const std::string& key,
            std::string& rawValue) {
  std::string data;
  bool missing = false;
  int err = 0;
  if (!ReadAll(path, data, missing, err) || missing) return false;
  return LookUpRaw(data, section, key, rawValue);
}

std::string OneLine(const std::string& value) {
  std::string v = value;
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  return v;
}

// Names that a read finds again once written: no line break, a section name without ']' (the
// first one ends the name) and a key that is not empty, holds no '=' and does not begin like a
// comment or a section. Blanks around a name are not part of it.
bool WritableNames(const std::string& gbkSection, const std::string& gbkKey) {
  if (gbkSection.find_first_of("\r\n") != std::string::npos || FindSingle(gbkSection, ']', 0) != std::string::npos)
    return false;
  if (gbkKey.empty() || gbkKey.find_first_of("\r\n=") != std::string::npos) return false;
  return gbkKey[0] != ';' && gbkKey[0] != '#' && gbkKey[0] != '[';
}

std::string JoinLines(const std::vector<std::string>& lines, std::size_t reserve) {
  std::string out;
  out.reserve(reserve);
  for (const std::string& line : lines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

}  // namespace

bool ReplaceFile(const std::string& path, const std::string& data, std::string& error) {
  std::string target = path;
  struct stat st {};
  bool exists = ::lstat(path.c_str(), &st) == 0;
  if (exists && S_ISLNK(st.st_mode)) {
    // Write through a symbolic link to the file it names, keeping the link.
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
    exists = ::stat(target.c_str(), &st) == 0;
  }
  if (exists && ::access(target.c_str(), W_OK) != 0) {
    error = ErrnoText(errno);
    return false;
  }
  std::size_t slash = target.rfind('/');
  std::string dir = (slash == std::string::npos) ? std::string(".")
                    : (slash == 0)               ? std::string(1, '/')
                                                 : target.substr(0, slash);
  std::string base = (slash == std::string::npos) ? target : target.substr(slash + 1);

  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = dir + "/." + base + "." + std::to_string(::getpid()) + "." +
           std::to_string(counter.fetch_add(1)) + ".tmp";
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = ErrnoText(errno);
    return false;
  }
  if (exists) (void)::fchmod(fd, st.st_mode & 07777);
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = ErrnoText(errno);
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    error = ErrnoText(errno);
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    error = ErrnoText(errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool IniLookUp(const std::string& data, const std::string& section, const std::string& key,
               std::string& value) {
  std::string raw;
  if (!LookUpRaw(data, section, key, raw)) return false;
  value = GbkToUtf8(raw);
  return true;
}

bool IniWithEntry(std::string& data, const std::string& section, const std::string& key,
                  const std::string& value) {
  std::string gbkSection = Utf8ToGbk(Trim(section));
  std::string gbkKey = Utf8ToGbk(Trim(key));
  if (!WritableNames(gbkSection, gbkKey)) return false;
  std::string gbkValue = Utf8ToGbk(OneLine(value));
  std::vector<std::string> lines = SplitLines(data);
  TLocation loc = Locate(lines, gbkSection, gbkKey);
  if (loc.KeyFound) {
    std::string& line = lines[loc.KeyLine];
    line = line.substr(0, loc.Eq + 1) + gbkValue;
  } else if (loc.SectionFound) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(loc.InsertAt), gbkKey + "=" + gbkValue);
  } else {
    lines.push_back("[" + gbkSection + "]");
    lines.push_back(gbkKey + "=" + gbkValue);
  }
  data = JoinLines(lines, data.size() + gbkKey.size() + gbkValue.size() + 16);
  return true;
}

TIniFile::TIniFile(std::string path) : Path(std::move(path)) {}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  std::string raw;
  if (!LookUp(Path, section, key, raw)) return def;
  return GbkToUtf8(raw);
}

bool TIniFile::ParseInteger(const std::string& text, int& value) {
  std::string t = Trim(text);
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    negative = t[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < t.size() && t[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= t.size()) return false;
  uint64_t v = 0;
  for (; i < t.size(); ++i) {
    char c = t[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFull) return false;
  }
  int64_t result;
  if (hex) {
    // Eight hexadecimal digits fill the 32 bits: $FFFFFFFF is -1.
    result = static_cast<int32_t>(static_cast<uint32_t>(v));
    if (negative) result = -result;
    if (result > INT_MAX || result < INT_MIN) return false;
  } else {
    result = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    if (result > INT_MAX || result < INT_MIN) return false;
  }
  value = static_cast<int>(result);
  return true;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  std::string raw;
  if (!LookUp(Path, section, key, raw)) return def;
  int value = def;
  return ParseInteger(raw, value) ? value : def;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  std::string raw;
  return LookUp(Path, section, key, raw);
}

bool TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = "Unable to write to " + Path + ": " + why;
    return false;
  };
  std::string data;
  bool missing = false;
  int err = 0;
  // A file that exists but cannot be read is never overwritten: its other entries would be lost.
  if (!ReadAll(Path, data, missing, err)) return fail(ErrnoText(err));

  std::string out = data;
  if (!IniWithEntry(out, section, key, value)) return fail("节名或键名无法写入设置文件");
  if (!missing && out == data) {
    if (error) error->clear();
    return true;  // the file already holds exactly this
  }
  std::string why;
  if (!ReplaceFile(Path, out, why)) return fail(why);
  if (error) error->clear();
  return true;
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int value,
                            std::string* error) {
  return WriteString(section, key, std::to_string(value), error);
}

bool TIniFile::WriteBool(const std::string& section, const std::string& key, bool value,
                         std::string* error) {
  return WriteString(section, key, value ? "1" : "0", error);
}
