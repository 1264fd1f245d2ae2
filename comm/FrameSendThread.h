#pragma once
// The one worker thread: runs the channel's queue processing in a loop until it is asked to end.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

class TChannel;

class TFrameSendThread {
 public:
  explicit TFrameSendThread(TChannel& channel);  // created suspended
  ~TFrameSendThread();                           // Terminate, then WaitFor
  TFrameSendThread(const TFrameSendThread&) = delete;
  TFrameSendThread& operator=(const TFrameSendThread&) = delete;

  void Start();      // once; later calls do nothing
  void Terminate();  // asks the loop to end after the current ProcessQueue call; does not wait
  void WaitFor();    // joins the thread (returns at once when it never started)
  bool Started() const;
  int ThreadId() const;  // Linux thread id while running, 0 before

  // The thread's run operation.
  void Execute(std::stop_token stop);

 private:
  TChannel& Channel;
  std::jthread Thread;
  std::atomic<int> Tid{0};
  std::mutex PauseLock;
  std::condition_variable_any Pause;
};
