#pragma once
// Where the protocol and communication code write their log entries. The application's log
// object installs itself here; with nothing installed every entry is dropped.
#include <string>

enum TLogType : int {
  ltNormal = 1,     // " 正常日志|"
  ltDebug = 2,      // " 调试日志|": frames sent and received
  ltError = 4,      // " 错误日志|": invalid reply frames
  ltException = 8,  // " 异常日志|": errors caught while sending, unpacking, running the thread
  ltAlarm = 16,     // " 报警日志|"
};

class TLogSink {
 public:
  virtual ~TLogSink() = default;
  virtual void WriteLog(int types, const std::string& source, const std::string& text) = 0;
  // The mask of entry types that are written; lets callers skip building texts nobody keeps.
  virtual int LogTypes() const = 0;
};

void SetLogSink(TLogSink* sink);  // nullptr uninstalls
TLogSink* GetLogSink();
// Writes through the installed sink; does nothing when none is installed.
void LogEntry(int types, const std::string& source, const std::string& text);
// True when an installed sink writes every bit of `types`.
bool LogEnabled(int types);
