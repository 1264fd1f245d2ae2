// A suite run on its own thread over the channel.
#include "suite/BackgroundRun.h"

#include <chrono>

#include "suite/CaseCount.h"
#include "suite/ChannelLink.h"
#include "suite/Runner.h"

TBackgroundRun::TBackgroundRun(TChannel& channel) : Channel(channel) {}

TBackgroundRun::~TBackgroundRun() {
  Stop();
  Join();
}

bool TBackgroundRun::Start(const std::vector<std::string>& files, const TMeterProfile& profile,
                           const std::string& pattern, TRunEvents events) {
  if (Busy.exchange(true)) return false;
  Join();
  StopFlag = false;
  {
    std::lock_guard<std::mutex> guard(LinkLock);
    Link = std::make_shared<TChannelSuiteLink>(Channel);
  }
  Worker = std::thread(&TBackgroundRun::Body, this, files, profile, pattern, std::move(events));
  return true;
}

void TBackgroundRun::Stop() {
  StopFlag = true;
  if (std::shared_ptr<TChannelSuiteLink> link = TakeLink(false)) link->Stop();
}

std::shared_ptr<TChannelSuiteLink> TBackgroundRun::TakeLink(bool clear) {
  std::lock_guard<std::mutex> guard(LinkLock);
  std::shared_ptr<TChannelSuiteLink> link = Link;
  if (clear) Link.reset();
  return link;
}

void TBackgroundRun::Join() {
  if (Worker.joinable()) Worker.join();
}

void TBackgroundRun::Body(std::vector<std::string> files, TMeterProfile profile, std::string pattern, TRunEvents events) {
  const auto start = std::chrono::steady_clock::now();
  if (events.Counted) events.Counted(CountCases(files, profile, pattern));
  TRunOptions options;
  options.Pattern = pattern;
  options.Stop = &StopFlag;
  int started = 0, ended = 0;
  options.CaseStarting = [&](const TCaseRecord& rec) {
    if (events.CaseStarting) events.CaseStarting(started++, rec);
  };
  options.CaseEnded = [&](const TCaseRecord& rec) {
    if (events.CaseEnded) events.CaseEnded(ended++, rec);
  };
  std::shared_ptr<TChannelSuiteLink> link = TakeLink(false);
  const std::vector<TCaseRecord> cases = RunSuite(files, profile, *link, options);
  // The channel's handlers go back to the main window's as soon as the last holder lets go.
  link.reset();
  TakeLink(true);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  Busy = false;
  if (events.Finished) events.Finished(cases, ms);
}
