// Trust, the poll and the one-time monitor installation, over the doubles.
#include <gtest/gtest.h>

#include "accessibility/trust.h"
#include "hotkey/monitor.h"
#include "hotkey/modifier.h"
#include "hotkey/tracker.h"
#include "main/startup.h"
#include "tests/doubles/captured_output.h"
#include "tests/doubles/fake_ax.h"
#include "tests/doubles/fake_platform.h"
#include "tests/expected_lines.h"

namespace {

class TrustAndMonitor : public testing::Test {
 protected:
  void SetUp() override {
    resetFakePlatform();
    resetFakeAx();
    startCapturingOutput();
  }

  // The helper holds these for its whole life. Released here, they are left
  // dangling, unread: the next test's start-up makes new ones before
  // anything asks for them.
  void TearDown() override {
    axRelease(promptOpts);
    axRelease(promptKey);
  }

  // Start-up up to the loop, as the helper runs it.
  std::vector<std::string> start(bool trustedAtStart) {
    setFakeTrust(trustedAtStart);
    char program[] = "ortel-helper";
    char* argv[] = {program, nullptr};
    runHelper(1, argv);
    return takeOutputLines();
  }

  int monitorRequests() {
    int requests = 0;
    for (const std::string& call : fakePlatformCalls()) requests += call.rfind("monitor ", 0) == 0 ? 1 : 0;
    return requests;
  }
};

using Lines = std::vector<std::string>;

TEST_F(TrustAndMonitor, TrustedAtStartInstallsTheMonitorOnceAndStaysQuiet) {
  EXPECT_EQ(start(true), openingLines(true));
  advanceFakeClock(15000);
  EXPECT_EQ(takeOutputLines(), Lines{});
  installMonitor();
  EXPECT_EQ(takeOutputLines(), Lines{}) << "a second install writes nothing";
  EXPECT_EQ(monitorRequests(), 1);
}

TEST_F(TrustAndMonitor, PromptOnlyAtStartAndOptionsBuiltOnce) {
  start(false);
  advanceFakeClock(4500);
  EXPECT_EQ(fakeTrustQueries(), (Lines{"prompt", "quiet", "quiet", "quiet"}));
  EXPECT_EQ(fakeOptionsCreated(), 1);
}

TEST_F(TrustAndMonitor, GrantInstallsTheMonitorRightAfterTheTrustLine) {
  EXPECT_EQ(start(false), openingLines(false));
  EXPECT_EQ(monitorRequests(), 0);
  advanceFakeClock(3000);
  setFakeTrust(true);
  advanceFakeClock(1499);
  EXPECT_EQ(takeOutputLines(), Lines{});
  advanceFakeClock(1);
  EXPECT_EQ(takeOutputLines(), (Lines{"trusted:true", "debug:monitor-installed"}));

  // The installed monitor feeds the tracker.
  ASSERT_TRUE(deliverFakeEvent(flagsChangedEventType, optionFlag));
  advanceFakeClock(150);
  EXPECT_EQ(takeOutputLines(), (Lines{"debug:flagsChanged raw=524288 watched=true others=false", "option:down"}));
}

TEST_F(TrustAndMonitor, WithdrawalKeepsTheMonitorAndRegrantWritesNoSecondInstall) {
  start(true);
  setFakeTrust(false);
  advanceFakeClock(1500);
  EXPECT_EQ(takeOutputLines(), Lines{"trusted:false"});
  ASSERT_TRUE(deliverFakeEvent(flagsChangedEventType, 0)) << "monitor removed";
  EXPECT_EQ(takeOutputLines(), Lines{"debug:flagsChanged raw=0 watched=false others=false"});
  setFakeTrust(true);
  advanceFakeClock(1500);
  EXPECT_EQ(takeOutputLines(), Lines{"trusted:true"});
  EXPECT_EQ(monitorRequests(), 1);
}

TEST_F(TrustAndMonitor, FailedInstallIsRetriedOnlyAfterTrustGoesFalseAndBack) {
  setFakeMonitorAvailable(false);
  EXPECT_EQ(start(true),
            (Lines{"ready", "debug:watching option", "trusted:true", "debug:monitor-install-failed"}));
  setFakeMonitorAvailable(true);
  advanceFakeClock(6000);
  EXPECT_EQ(takeOutputLines(), Lines{});
  EXPECT_EQ(monitorRequests(), 1);

  setFakeTrust(false);
  advanceFakeClock(1500);
  setFakeTrust(true);
  advanceFakeClock(1500);
  EXPECT_EQ(takeOutputLines(), (Lines{"trusted:false", "trusted:true", "debug:monitor-installed"}));
  EXPECT_EQ(monitorRequests(), 2);
}

TEST_F(TrustAndMonitor, StartUpOrderEndsWithTheLoop) {
  start(true);
  EXPECT_EQ(fakePlatformCalls(), (Lines{"monitor 5120", "timer 1500", "worker", "loop"}));
}

// Start-up leaves the tracker idle, armed for 150 ms and named after the
// argument: the first hold after it behaves as any other.
TEST_F(TrustAndMonitor, StartUpLeavesTheTrackerReadyForAHold) {
  setFakeTrust(true);
  char program[] = "ortel-helper";
  char name[] = "Command";
  char* argv[] = {program, name, nullptr};
  runHelper(2, argv);
  takeOutputLines();
  ASSERT_TRUE(deliverFakeEvent(flagsChangedEventType, optionFlag));
  advanceFakeClock(149);
  EXPECT_EQ(takeOutputLines(), Lines{"debug:flagsChanged raw=524288 watched=true others=false"});
  advanceFakeClock(1);
  EXPECT_EQ(takeOutputLines(), Lines{"Command:down"});
}

}  // namespace
