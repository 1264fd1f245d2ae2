// The installed log sink. Installing and uninstalling may happen on one thread while the sending
// thread logs, so the pointer is atomic; the owner uninstalls the sink before destroying it.
#include "protocol/LogSink.h"

#include <atomic>

namespace {
std::atomic<TLogSink*> g_sink{nullptr};
}  // namespace

void SetLogSink(TLogSink* sink) { g_sink.store(sink, std::memory_order_release); }

TLogSink* GetLogSink() { return g_sink.load(std::memory_order_acquire); }

void LogEntry(int types, const std::string& source, const std::string& text) {
  if (TLogSink* sink = GetLogSink()) sink->WriteLog(types, source, text);
}

bool LogEnabled(int types) {
  TLogSink* sink = GetLogSink();
  return sink != nullptr && (sink->LogTypes() & types) == types;
}
