// Trust on X11 follows the display: the helper outlives X servers that come
// and go, and never dies or writes to stderr because of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/desktop/desktop_session.h"

namespace {

using Lines = std::vector<std::string>;

// One 1.5 s trust poll, with room for a loaded machine.
constexpr int withinOnePollMs = 1500 + 2500;

const Lines hold = {flagsLine(524288, true, false), "option:down", flagsLine(0, false, false), "option:up"};

void expectHoldIsHeard(HelperProcess& helper, int displayNumber) {
  ASSERT_TRUE(injectKeys(displayNumber, {"+Alt_L", "300", "-Alt_L"}));
  EXPECT_EQ(readLines(helper, hold.size()), hold);
}

TEST(DisplayOnX11, TrustArrivesWithinOnePollOfTheServerStarting) {
  const int number = unusedDisplayNumber();
  HelperProcess helper = startHelper({}, {displayVariable(number)});
  ASSERT_EQ(readLines(helper, 3), (Lines{"ready", "debug:watching option", "trusted:false"}));

  XServer server = startXServer(number);
  ASSERT_GT(server.pid, 0);
  EXPECT_EQ(readLines(helper, 2, withinOnePollMs), (Lines{"trusted:true", "debug:monitor-installed"}));
  expectHoldIsHeard(helper, number);

  expectCleanEnd(helper);
  stopXServer(server);
}

TEST(DisplayOnX11, SurvivesTheServerGoingAwayAndComingBack) {
  const int number = unusedDisplayNumber();
  XServer server = startXServer(number);
  ASSERT_GT(server.pid, 0);
  HelperProcess helper = startHelper({}, {displayVariable(number)});
  ASSERT_EQ(readLines(helper, 4),
            (Lines{"ready", "debug:watching option", "trusted:true", "debug:monitor-installed"}));

  for (int round = 0; round < 2; ++round) {
    stopXServer(server);
    EXPECT_EQ(readLines(helper, 1, withinOnePollMs), Lines{"trusted:false"}) << "round " << round;
    server = startXServer(number);
    ASSERT_GT(server.pid, 0);
    // The monitor is already installed: no second monitor line.
    EXPECT_EQ(readLines(helper, 1, withinOnePollMs), Lines{"trusted:true"}) << "round " << round;
    expectHoldIsHeard(helper, number);
  }

  expectCleanEnd(helper);
  stopXServer(server);
}

}  // namespace
