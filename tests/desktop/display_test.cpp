// Trust on X11 follows the display: the helper outlives X servers that come
// and go, and never dies or writes to stderr because of them.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
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

// A display that takes the connection and never answers it: X's handshake,
// and with it XOpenDisplay, would wait forever. Ended by answer(), after
// which the display does answer.
struct UnansweringDisplay {
  const char* name;
  bool (*start)(int number, XServer& server, int& socket);
  bool (*answer)(int number, XServer& server, int& socket);
};

void PrintTo(const UnansweringDisplay& display, std::ostream* out) { *out << display.name; }

bool startStoppedServer(int number, XServer& server, int&) {
  server = startXServer(number);
  return server.pid > 0 && kill(server.pid, SIGSTOP) == 0;
}

bool continueServer(int, XServer& server, int&) { return kill(server.pid, SIGCONT) == 0; }

std::string socketPath(int number) { return "/tmp/.X11-unix/X" + std::to_string(number); }

// Listening is enough: the kernel completes each connection in the queue,
// and nothing ever reads or answers it.
bool startSilentSocket(int number, XServer&, int& socket) {
  socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = socketPath(number);
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return socket >= 0 && bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
         listen(socket, 8) == 0;
}

// Closing it resets the connections waiting in it; a real server then
// takes its place.
bool replaceSilentSocket(int number, XServer& server, int& socket) {
  close(socket);
  socket = -1;
  unlink(socketPath(number).c_str());
  server = startXServer(number);
  return server.pid > 0;
}

const UnansweringDisplay unansweringDisplays[] = {
    {"stopped server", startStoppedServer, continueServer},
    {"socket that never replies", startSilentSocket, replaceSilentSocket},
};

class DisplayNotAnswering : public testing::TestWithParam<UnansweringDisplay> {
 protected:
  void TearDown() override {
    if (server.pid > 0) kill(server.pid, SIGCONT);
    stopXServer(server);
    if (socket >= 0) {
      close(socket);
      unlink(socketPath(number).c_str());
    }
  }

  const int number = unusedDisplayNumber();
  XServer server;
  int socket = -1;
};

int millisecondsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

// "About a second", with room for a loaded machine.
constexpr int answerBoundMs = 2000;

// Opening a connection can wait for as long as the server is silent; none
// of the helper's answers may wait with it.
TEST_P(DisplayNotAnswering, TrustIsFalseFocusAnsweredAndInputClosingEndsTheHelperUntilItAnswers) {
  ASSERT_TRUE(GetParam().start(number, server, socket));
  HelperProcess ending = startHelper({}, {displayVariable(number)});
  HelperProcess staying = startHelper({}, {displayVariable(number)});
  for (HelperProcess* helper : {&ending, &staying}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readLines(*helper, 3, answerBoundMs), (Lines{"ready", "debug:watching option", "trusted:false"}));
    for (int query = 0; query < 3; ++query) {
      EXPECT_EQ(askFocus(*helper, answerBoundMs), "focus:none") << "query " << query;
    }
    EXPECT_LT(millisecondsSince(start), 3 * answerBoundMs);
  }

  const auto closed = std::chrono::steady_clock::now();
  HelperRun end = finishHelper(ending);
  EXPECT_LT(millisecondsSince(closed), answerBoundMs) << "closing the input did not end the helper in time";
  EXPECT_EQ(end.lines, Lines{});
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.standardError, "");

  // The display that answers at last is taken as any other.
  ASSERT_TRUE(GetParam().answer(number, server, socket));
  EXPECT_EQ(readLines(staying, 2, withinOnePollMs), (Lines{"trusted:true", "debug:monitor-installed"}));
  expectHoldIsHeard(staying, number);
  expectCleanEnd(staying);
}

INSTANTIATE_TEST_SUITE_P(Displays, DisplayNotAnswering, testing::ValuesIn(unansweringDisplays), CaseName());

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
