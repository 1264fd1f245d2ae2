#include "comm/FrameSendThread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <string>

#include "comm/Channel.h"
#include "protocol/LogSink.h"

namespace {
const char* const kSource = "TFrameSendThread.Execute";
const char* const kThreadError = "报文发送线程发生错误：";

void LogThreadError(const std::string& what) {
  try {
    LogEntry(ltException, kSource, kThreadError + what);
  } catch (...) {
    // An error while logging the error is swallowed: the loop must go on.
  }
}
}  // namespace

TFrameSendThread::TFrameSendThread(TChannel& channel) : Channel(channel) {}

TFrameSendThread::~TFrameSendThread() {
  Terminate();
  WaitFor();
}

void TFrameSendThread::Start() {
  if (Thread.joinable()) return;
  Thread = std::jthread([this](std::stop_token stop) { Execute(stop); });
}

void TFrameSendThread::Terminate() {
  Thread.request_stop();  // also ends a pause after an error
}

void TFrameSendThread::WaitFor() {
  if (!Thread.joinable()) return;
  if (Thread.get_id() == std::this_thread::get_id()) {
    Thread.detach();  // asked from inside the loop: it ends by itself
    return;
  }
  Thread.join();
}

bool TFrameSendThread::Started() const { return Thread.joinable(); }

int TFrameSendThread::ThreadId() const { return Tid.load(); }

void TFrameSendThread::Execute(std::stop_token stop) {
  Tid = static_cast<int>(syscall(SYS_gettid));
  while (!stop.stop_requested()) {
    bool failed = false;
    try {
      Channel.ProcessQueue();
    } catch (const std::exception& e) {
      LogThreadError(e.what());
      failed = true;
    } catch (...) {
      LogThreadError("unknown error");
      failed = true;
    }
    if (failed) {
      std::unique_lock<std::mutex> lock(PauseLock);
      Pause.wait_for(lock, stop, std::chrono::milliseconds(1000), [] { return false; });
    }
  }
  Tid = 0;
}
