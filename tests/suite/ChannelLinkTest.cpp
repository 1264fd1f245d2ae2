// A run started from the window: the suite runs on a thread of its own through the workbench's
// channel, next to the main window's own exchanges, which keep going to the main window's
// handlers; stop ends the case in progress as stopped and runs no further case.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>

#include "comm/Channel.h"
#include "comm/PortLink.h"
#include "sim/VirtualMeter.h"
#include "suite/BackgroundRun.h"
#include "suite/Runner.h"

namespace {
using namespace std::chrono_literals;

class ChannelRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(Meter.Start(error)) << error;
    ASSERT_EQ(Port.Open(Meter.PortPath(), "9600,E,8,1", 1, error), 0) << error;
    ASSERT_TRUE(LoadProfile(BundledSuiteDir() + "/profiles/virtual-meter.lua", Profile, error)) << error;
    ASSERT_TRUE(SuiteFiles(BundledSuiteDir() + "/read.lua", Files, error)) << error;
    Channel.Init();
    Channel.SetControl(&Port);
    // The main window's handlers.
    Channel.SetReplyHandler([this](const TKvFrame& sent, const TKvFrame&, const TFrameBody&, const std::string&, int) {
      std::lock_guard<std::mutex> guard(Lock);
      WindowReplies.insert(sent.Serial);
    });
    Channel.SetExchangeHandler([this](const TKvFrame& sent, int, const std::string&) {
      std::lock_guard<std::mutex> guard(Lock);
      WindowEnds.insert(sent.Serial);
      Changed.notify_all();
    });
    Channel.Start();
  }
  void TearDown() override { Channel.Shutdown(); }

  TRunEvents Events() {
    TRunEvents e;
    e.Counted = [this](int total) { Record([&] { Total = total; }); };
    e.CaseStarting = [this](int, const TCaseRecord&) { Record([&] { ++Started; }); };
    e.CaseEnded = [this](int index, const TCaseRecord& rec) { Record([&] { Ended.push_back(std::to_string(index) + " " + rec.Id); }); };
    e.Finished = [this](const std::vector<TCaseRecord>& cases, double) { Record([&] { Cases = cases, Done = true; }); };
    return e;
  }
  template <class F>
  void Record(F change) {
    std::lock_guard<std::mutex> guard(Lock);
    change();
    Changed.notify_all();
  }
  template <class P>
  bool WaitFor(P done) {
    std::unique_lock<std::mutex> guard(Lock);
    return Changed.wait_for(guard, 60s, done);
  }
  uint64_t WindowSend() {
    TDltFrame f;
    f.Address = "000000000001";
    f.CtrlCode = 0x11;
    f.DataField = "00000100";  // 00010000, wire order
    f.DataLen = 4;
    f.TimeoutSec = 10;
    std::string message;
    uint64_t serial = 0;
    EXPECT_EQ(Channel.Send(f.Address, f, f.DataField, message, &serial), 0) << message;
    return serial;
  }

  TVirtualMeter Meter{TMeterOptions{}};
  TPortLink Port;
  TChannel Channel{[] { return TPreamble{}; }};
  TMeterProfile Profile;
  std::vector<std::string> Files;
  std::mutex Lock;
  std::condition_variable Changed;
  std::set<uint64_t> WindowReplies, WindowEnds;
  int Total = -1, Started = 0;
  std::vector<std::string> Ended;
  std::vector<TCaseRecord> Cases;
  bool Done = false;
};

TEST_F(ChannelRun, TheSuiteRunsBesideTheWindowsOwnExchangesWhichStayTheWindows) {
  TBackgroundRun run(Channel);
  ASSERT_TRUE(run.Start(Files, Profile, "read.energy.*", Events()));
  std::set<uint64_t> mine;
  for (int i = 0; i < 5; ++i) mine.insert(WindowSend());
  ASSERT_TRUE(WaitFor([&] { return Done && WindowEnds.size() == 5; }));
  run.Join();
  EXPECT_EQ(Total, 4);
  EXPECT_EQ(Ended, (std::vector<std::string>{"0 read.energy.00010000", "1 read.energy.00020000", "2 read.energy.00010100",
                                             "3 read.energy.00010400"}));
  for (const TCaseRecord& rec : Cases) EXPECT_EQ(rec.Verdict, vdPass) << rec.Id << " " << rec.Why;
  // The window saw its five exchanges, replies included, and none of the run's.
  EXPECT_EQ(WindowEnds, mine);
  EXPECT_EQ(WindowReplies, mine);
  // Once the run has ended, the window's handlers are the channel's again.
  const uint64_t after = WindowSend();
  EXPECT_TRUE(WaitFor([&] { return WindowEnds.count(after) == 1; }));
}

TEST_F(ChannelRun, StopEndsTheCaseInProgressAsStoppedAndRunsNoOther) {
  TMeterFaults silent;
  silent.NoReply = true;  // every exchange waits for its reply until stopped
  Meter.SetFaults(silent);
  Profile.ReplyTimeoutSec = 30;
  TBackgroundRun run(Channel);
  ASSERT_TRUE(run.Start(Files, Profile, "read.energy.*", Events()));
  ASSERT_TRUE(WaitFor([&] { return Started == 1; }));
  uint64_t serial = 0;
  double waited = 0, timeout = 0;
  while (!Channel.WaitState(serial, waited, timeout)) std::this_thread::sleep_for(5ms);
  run.Stop();
  ASSERT_TRUE(WaitFor([&] { return Done; }));
  run.Join();
  ASSERT_EQ(Cases.size(), 1u);
  EXPECT_EQ(Cases[0].Id, "read.energy.00010000");
  EXPECT_EQ(Cases[0].Verdict, vdStopped);
  EXPECT_EQ(std::string(VerdictText(Cases[0].Verdict)), "已停止");
  EXPECT_TRUE(WindowEnds.empty());  // the stopped exchange was the run's, not the window's
}

// A stop ends a case that pauses (dlt.wait) at once, not when its pause is over.
TEST_F(ChannelRun, StopEndsACaseThatWaits) {
  const std::string script = ::testing::TempDir() + "/waits-" + std::to_string(::getpid()) + ".lua";
  std::ofstream(script) << "dlt.case{ id = \"waits\", title = \"等待\", clause = \"-\", run = function()\n"
                           "  dlt.wait(60000)\nend }\n";
  Files = {script};
  TBackgroundRun run(Channel);
  ASSERT_TRUE(run.Start(Files, Profile, "", Events()));
  ASSERT_TRUE(WaitFor([&] { return Started == 1; }));
  run.Stop();
  // Bounded well below the pause: the case must not sit out its minute.
  std::unique_lock<std::mutex> guard(Lock);
  ASSERT_TRUE(Changed.wait_for(guard, 20s, [&] { return Done; }));
  guard.unlock();
  run.Join();
  ASSERT_EQ(Cases.size(), 1u);
  EXPECT_EQ(Cases[0].Verdict, vdStopped) << Cases[0].Why;
  std::remove(script.c_str());
}

// The window's runs time the reply's bytes at the port too: a meter answering after 40 ms passes
// the response-time case, one answering at once fails it (under the 20 ms floor of the profile).
TEST_F(ChannelRun, TheTimingCasesJudgeTheMetersAnswerTime) {
  std::string error;
  ASSERT_TRUE(SuiteFiles(BundledSuiteDir() + "/frame.lua", Files, error)) << error;
  // One read first: a new meter sets up its tables on its first answer (slow under a sanitizer).
  const uint64_t first = WindowSend();
  ASSERT_TRUE(WaitFor([&] { return WindowEnds.count(first) == 1; }));
  for (int delayMs : {40, 0}) {
    TMeterFaults faults;
    faults.DelayMs = delayMs;
    Meter.SetFaults(faults);
    Done = false;
    TBackgroundRun run(Channel);
    ASSERT_TRUE(run.Start(Files, Profile, "frame.response_time", Events()));
    ASSERT_TRUE(WaitFor([&] { return Done; }));
    run.Join();
    ASSERT_EQ(Cases.size(), 1u);
    std::string seen;
    for (const TExpectation& e : Cases[0].Expectations) seen += e.What + "：" + e.Observed + "\n";
    EXPECT_EQ(Cases[0].Verdict, delayMs ? vdPass : vdFail) << delayMs << " " << Cases[0].Why << "\n" << seen;
  }
}
}  // namespace
