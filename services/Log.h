#pragma once
// The daily log file "log/yyyy-mm-ddInfo.log": GBK text, CR LF, one header line and one message
// line per entry, written from any thread.
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "protocol/DateTime.h"
#include "protocol/LogSink.h"

// One entry as it was written, UTF-8, for a live view of the log.
struct TLogEntry {
  std::string Time;    // "yyyy-mm-dd hh:mm:ss"
  std::string Source;
  std::string Label;   // the type label, as in the header line of the file
  std::string Text;
  // The entry on one line: source, label, then the message.
  std::string Content() const { return Source + Label + " " + Text; }
};
using TLogObserver = std::function<void(const TLogEntry&)>;

class TLog : public TLogSink {
 public:
  using TClock = std::function<TDateTime()>;
  // `folder` holds "logtype.ini" and the folder "log"; `clock` gives the local date and time.
  explicit TLog(const std::string& folder, TClock clock = Now);
  // As above, with "logtype.ini" read from `typesFolder` instead (the settings folder, when the
  // log lives apart from the executable).
  TLog(const std::string& folder, const std::string& typesFolder, TClock clock = Now);
  ~TLog() override;

  void WriteLog(int types, const std::string& source, const std::string& text) override;
  int LogTypes() const override { return Types; }
  std::string FileName() const;
  // Called after each entry is written, under the log's lock, so in the order of the file.
  // Replacing it (nullptr removes it) waits for a call in progress. It must not write to the log.
  void SetObserver(TLogObserver observer);
  // False for a log object created while another one was installed: it writes nothing.
  bool Active() const { return Installed; }

 private:
  void LoadLogTypes(const std::string& folder);
  void OpenLogFile(const std::string& name);
  void WriteLine(const std::string& text);
  void OpenLogFile(const std::string& name, const std::string& date);
  void WriteRaw(const std::string& bytes);
  std::string TodayText();

  bool Installed = false;

  mutable std::recursive_mutex Lock;
  std::FILE* Handle = nullptr;
  std::string Name;
  int Types = 31;
  std::string FileDate;
  TClock Clock;
  TLogObserver Observer;
};

// The one log object of the program, or nullptr.
extern TLog* Logger;
