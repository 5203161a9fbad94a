// Trust on X11 follows the display: the helper outlives X servers that come
// and go, and never dies or writes to stderr because of them.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/case_names.h"
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
  ASSERT_EQ(readLines(helper, 3), openingLines(false));

  XServer server = startXServer(number);
  ASSERT_GT(server.pid, 0);
  EXPECT_EQ(readLines(helper, 2, withinOnePollMs), (Lines{"trusted:true", "debug:monitor-installed"}));
  expectHoldIsHeard(helper, number);

  expectCleanEnd(helper);
  stopXServer(server);
}

// A helper listening on a server of a number of its own, which the test may
// stop and start again.
class HelperOnServer : public testing::Test {
 protected:
  void SetUp() override {
    server = startXServer(number);
    ASSERT_GT(server.pid, 0);
    helper = startHelper({}, {displayVariable(number)});
    ASSERT_EQ(readLines(helper, 4), openingLines(true));
  }
  void TearDown() override {
    expectCleanEnd(helper);
    stopXServer(server);
  }

  const int number = unusedDisplayNumber();
  XServer server;
  HelperProcess helper;
};

TEST_F(HelperOnServer, SurvivesTheServerGoingAwayAndComingBack) {
  for (int round = 0; round < 2; ++round) {
    stopXServer(server);
    EXPECT_EQ(readLines(helper, 1, withinOnePollMs), Lines{"trusted:false"}) << "round " << round;
    server = startXServer(number);
    ASSERT_GT(server.pid, 0);
    // The monitor is already installed: no second monitor line.
    EXPECT_EQ(readLines(helper, 1, withinOnePollMs), Lines{"trusted:true"}) << "round " << round;
    expectHoldIsHeard(helper, number);
  }
}

// The server going away while the watched key is held: no release can be
// heard any more, so the hold ends there as a release would, before the
// trust line. Once the server is back nothing of the old hold is left.
struct ServerLoss {
  const char* name;
  bool withinArmDelay;
  Lines heardBefore;  // once the key is down, before the server goes
  Lines heardAfter;
};

void PrintTo(const ServerLoss& loss, std::ostream* out) { *out << loss.name; }

const ServerLoss serverLosses[] = {
    {"during a hold", false, {flagsLine(524288, true, false), "option:down"},
     {flagsLine(0, false, false), "option:up", "trusted:false"}},
    {"within the arm delay", true, {flagsLine(524288, true, false)}, {flagsLine(0, false, false), "trusted:false"}},
};

class ServerGoingAway : public HelperOnServer, public testing::WithParamInterface<ServerLoss> {};

TEST_P(ServerGoingAway, EndsTheHoldAsAReleaseWould) {
  const ServerLoss& loss = GetParam();
  // The injector leaves the key down on the server when it ends.
  ASSERT_TRUE(injectKeys(number, {"+Alt_L", loss.withinArmDelay ? "0" : "300"}));
  EXPECT_EQ(readLines(helper, loss.heardBefore.size()), loss.heardBefore);
  // Stopped from the moment it has heard the press, the helper learns of the
  // server's end before the arm is due, however long the server takes to go.
  if (loss.withinArmDelay) {
    kill(helper.pid, SIGSTOP);
    int status = 0;
    ASSERT_EQ(waitpid(helper.pid, &status, WUNTRACED), helper.pid);
  }
  stopXServer(server);
  if (loss.withinArmDelay) kill(helper.pid, SIGCONT);
  EXPECT_EQ(readLines(helper, loss.heardAfter.size(), withinOnePollMs), loss.heardAfter);

  server = startXServer(number);
  ASSERT_GT(server.pid, 0);
  EXPECT_EQ(readLines(helper, 1, withinOnePollMs), Lines{"trusted:true"});
  expectHoldIsHeard(helper, number);
}

INSTANTIATE_TEST_SUITE_P(Losses, ServerGoingAway, testing::ValuesIn(serverLosses), CaseName());

}  // namespace
