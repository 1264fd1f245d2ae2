#pragma once
// A suite run on a thread of its own over the workbench's channel, for a window that must stay
// responsive: the run counts its cases, runs them through a TChannelSuiteLink and reports each
// step through the events, which are called on the run's thread (a window posts them to its own).
// Stop ends it at any moment: the case in progress ends as stopped, no further case runs.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "suite/Case.h"
#include "suite/Profile.h"

class TChannel;
class TChannelSuiteLink;

struct TRunEvents {
  std::function<void(int total)> Counted;
  std::function<void(int index, const TCaseRecord&)> CaseStarting;  // index from 0
  std::function<void(int index, const TCaseRecord&)> CaseEnded;
  std::function<void(const std::vector<TCaseRecord>&, double durationMs)> Finished;
};

class TBackgroundRun {
 public:
  explicit TBackgroundRun(TChannel& channel);
  ~TBackgroundRun();  // stops a run in progress and waits for its thread
  TBackgroundRun(const TBackgroundRun&) = delete;
  TBackgroundRun& operator=(const TBackgroundRun&) = delete;

  // Starts the run; false when one is still in progress. A previous run's thread is joined.
  bool Start(const std::vector<std::string>& files, const TMeterProfile& profile, const std::string& pattern,
             TRunEvents events);
  void Stop();
  bool Running() const { return Busy.load(); }
  // Waits for the run's thread to end.
  void Join();

 private:
  void Body(std::vector<std::string> files, TMeterProfile profile, std::string pattern, TRunEvents events);

  TChannel& Channel;
  std::atomic<bool> Busy{false};
  std::atomic<bool> StopFlag{false};
  std::shared_ptr<TChannelSuiteLink> TakeLink(bool clear);

  std::mutex LinkLock;
  std::shared_ptr<TChannelSuiteLink> Link;  // set before the thread starts, dropped when the run ends
  std::thread Worker;
};
