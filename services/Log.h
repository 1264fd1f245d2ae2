#pragma once
// The daily log file "log/yyyy-mm-ddInfo.log": GBK text, CR LF, one header line and one message
// line per entry, written from any thread.
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "protocol/DateTime.h"
#include "protocol/LogSink.h"

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
};

// The one log object of the program, or nullptr.
extern TLog* Logger;
