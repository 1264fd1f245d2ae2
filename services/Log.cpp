#include "services/Log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "services/AppPaths.h"
#include "services/IniFile.h"
#include "services/TextCodec.h"

TLog* Logger = nullptr;

namespace {

// Guards the check-and-set of `Logger` when log objects are created and destroyed.
std::mutex InstallLock;

// Labels of the entry type bits 1, 2, 4, 8, 16, in that order.
const char* const TypeLabels[] = {
    " 正常日志|",  // 1
    " 调试日志|",  // 2
    " 错误日志|",  // 4
    " 异常日志|",  // 8
    " 报警日志|",  // 16
};

// The labels as they are written to the file.
const std::string& GbkLabel(int bit) {
  static const std::string labels[] = {Utf8ToGbk(TypeLabels[0]), Utf8ToGbk(TypeLabels[1]),
                                       Utf8ToGbk(TypeLabels[2]), Utf8ToGbk(TypeLabels[3]),
                                       Utf8ToGbk(TypeLabels[4])};
  return labels[bit];
}

bool IsBlankText(const std::string& text) {
  for (unsigned char c : text)
    if (c > 0x20) return false;
  return true;
}

std::string DateText(const TDateParts& p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
  return buf;
}

std::string DateTimeText(const TDateParts& p) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour,
                p.Minute, p.Second);
  return buf;
}

// printf's "%-*s" for GBK bytes: pads with blanks to `width` bytes, never cuts.
void AppendPadded(std::string& out, const std::string& text, std::size_t width) {
  out += text;
  if (text.size() < width) out.append(width - text.size(), ' ');
}

TLogEntry ObservedEntry(const TDateParts& now, const std::string& source, int types, const std::string& text) {
  TLogEntry entry{DateTimeText(now), source, std::string(), text};
  for (int bit = 0; bit < 5; ++bit)
    if (types & (1 << bit)) entry.Label += TypeLabels[bit];
  return entry;
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

TLog::TLog(const std::string& folder, TClock clock) : TLog(folder, folder, std::move(clock)) {}

TLog::TLog(const std::string& folder, const std::string& typesFolder, TClock clock)
    : Clock(clock ? std::move(clock) : TClock(Now)) {
  std::lock_guard<std::mutex> install(InstallLock);
  if (Logger != nullptr) {
    // The program has its log already; this object stays inert and the first one stays in use.
    Types = 0;
    return;
  }
  std::string logFolder = folder + "/log";
  MakeFolders(logFolder);  // on failure the file cannot be opened and writes are dropped
  OpenLogFile(logFolder + "/" + TodayText() + "Info.log");
  LoadLogTypes(typesFolder);
  Installed = true;
  Logger = this;
  SetLogSink(this);
}

TLog::~TLog() {
  {
    std::lock_guard<std::mutex> install(InstallLock);
    if (Installed) {
      if (GetLogSink() == this) SetLogSink(nullptr);
      if (Logger == this) Logger = nullptr;
    }
  }
  std::lock_guard<std::recursive_mutex> lock(Lock);
  if (Handle) std::fclose(Handle);
  Handle = nullptr;
}

std::string TLog::FileName() const {
  std::lock_guard<std::recursive_mutex> lock(Lock);
  return Name;
}

void TLog::SetObserver(TLogObserver observer) {
  std::lock_guard<std::recursive_mutex> lock(Lock);
  Observer = std::move(observer);
}

void TLog::LoadLogTypes(const std::string& folder) {
  Types = TIniFile(folder + "/logtype.ini").ReadInteger("LOG", "LogContent", 31);
}

std::string TLog::TodayText() { return DateText(DecodeDateTime(Clock())); }

void TLog::OpenLogFile(const std::string& name) { OpenLogFile(name, TodayText()); }

void TLog::OpenLogFile(const std::string& name, const std::string& date) {
  std::lock_guard<std::recursive_mutex> lock(Lock);
  Name = name;
  if (Handle) std::fclose(Handle);
  Handle = nullptr;
  // Appending descriptor: every write lands at the file's current end, also when another
  // program appends or reads meanwhile.
  int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;  // FileDate stays old: the next entry tries again
  Handle = ::fdopen(fd, "a+");
  if (!Handle) {
    ::close(fd);
    return;
  }
  FileDate = date;
}

void TLog::WriteRaw(const std::string& bytes) {
  if (!Handle) return;
  int fd = ::fileno(Handle);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // write errors are not reported
    done += static_cast<std::size_t>(n);
  }
}

void TLog::WriteLine(const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(Lock);
  WriteRaw(text + "\r\n");
}

void TLog::WriteLog(int types, const std::string& source, const std::string& text) {
  if (!Installed || IsBlankText(text)) return;
  if ((types & ~Types) != 0) return;  // some type bit is not selected

  std::string gbkSource = Utf8ToGbk(source);
  std::string gbkText = Utf8ToGbk(text);
  std::lock_guard<std::recursive_mutex> lock(Lock);
  // The clock is read under the lock, so entries reach the files in time order and a file
  // switch at midnight happens once.
  TDateParts now = DecodeDateTime(Clock());
  std::string today = DateText(now);
  if (today != FileDate) OpenLogFile(FolderOf(Name) + "/" + today + "Info.log", today);

  // Header "%-20s %-30s %s" (widths in bytes of GBK text), then the message; both lines go out
  // in one write so no other entry can come between them.
  std::string entry;
  entry.reserve(64 + gbkSource.size() + gbkText.size());
  AppendPadded(entry, DateTimeText(now), 20);
  entry += ' ';
  AppendPadded(entry, gbkSource, 30);
  entry += ' ';
  for (int bit = 0; bit < 5; ++bit)
    if (types & (1 << bit)) entry += GbkLabel(bit);
  entry += "\r\n";
  entry += gbkText;
  entry += "\r\n";
  WriteRaw(entry);
  if (Observer) Observer(ObservedEntry(now, source, types, text));
}
