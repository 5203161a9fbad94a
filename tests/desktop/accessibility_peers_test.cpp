// Focus queries while the accessibility stack misbehaves: a bus that dies
// and is started again, a bus, registry or X server that is stopped before
// the first query, applications that flood the bus with events, stopped
// applications, and thousands of applications coming and going. Every
// answer comes within its bound, closing the input ends the helper within
// it too, memory stays flat, and the right answer comes back once the
// peers do.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "tests/case_names.h"
#include "tests/desktop/accessibility_stack.h"
#include "tests/desktop/desktop_session.h"

namespace {

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

// "About a second", with room for a loaded machine.
constexpr int answerBoundMs = 2000;

int millisecondsSince(Clock::time_point start) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

void sleepMs(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

class AccessibilityPeers : public testing::Test {
 protected:
  void SetUp() override {
    desktop = startDesktop();
    ASSERT_EQ(desktop.failure, "");
  }

  void TearDown() override {
    if (stopped > 0) kill(stopped, SIGCONT);
    expectCleanEnd(helper);
    for (HelperProcess& child : others) stopChild(child);
    stopDesktop(desktop);
  }

  void startTheHelper() {
    helper = startHelper({}, desktop.environment);
    ASSERT_EQ(readLines(helper, 4), openingLines(true));
  }

  // A GTK window with the named widget focused, kept until the test ends.
  HelperProcess& startWindow(const std::string& focus) {
    HelperProcess& window = others.emplace_back(startTestWindow(desktop.environment));
    EXPECT_GT(window.pid, 0) << "the test window did not become active";
    EXPECT_TRUE(focusInWindow(window, focus));
    return window;
  }

  // A script of tests/desktop, kept until the test ends; started once it says "ready".
  HelperProcess& startScript(const char* path) {
    HelperProcess& script = others.emplace_back(startChild("/usr/bin/python3", {path}, desktop.environment));
    EXPECT_EQ(readLines(script, 1, 15000), Lines{"ready"}) << path;
    return script;
  }

  std::string checkFocus(int timeoutMs = 5000) { return askFocus(helper, timeoutMs); }

  bool answersWithin(const std::string& expected, int withinMs) { return focusAnswerWithin(helper, expected, withinMs); }

  long residentOfHelperAndItsProcess() {
    const pid_t process = accessibilityProcessOf(helper.pid);
    return residentKiB(helper.pid, "VmRSS:") + (process > 0 ? residentKiB(process, "VmRSS:") : 0);
  }

  // Stops a peer until the test continues it, or until the test ends.
  void stop(pid_t pid) {
    stopped = pid;
    kill(pid, SIGSTOP);
  }

  Desktop desktop;
  HelperProcess helper;
  pid_t stopped = -1;
  std::deque<HelperProcess> others;  // windows and scripts; a deque keeps references to them valid
};

TEST_F(AccessibilityPeers, NewAccessibilityBusIsFoundWithoutRestartingTheHelper) {
  startWindow("entry");
  startTheHelper();
  ASSERT_TRUE(answersWithin("focus:editable", 15000)) << "the helper never saw the window's entry";
  const std::string firstBus = accessibilityBusAddress(desktop.bus.address);
  const pid_t daemon = busNameOwner(firstBus, "org.freedesktop.DBus");
  ASSERT_GT(daemon, 0);

  // Its launcher ends with it; the window's toolkit never joins another bus.
  kill(daemon, SIGKILL);
  stopChild(others.front());
  EXPECT_EQ(checkFocus(), "focus:none");

  // A new window starts a new bus through the session bus, as a desktop would.
  startWindow("entry");
  EXPECT_NE(accessibilityBusAddress(desktop.bus.address), firstBus);
  EXPECT_TRUE(answersWithin("focus:editable", 5000)) << "the helper kept to the bus that died";
}

enum class Peer { accessibilityBus, registry, xServer };

struct StoppedPeerCase {
  const char* name;
  Peer peer;
};

void PrintTo(const StoppedPeerCase& stoppedCase, std::ostream* out) { *out << stoppedCase.name; }

class StoppedPeer : public AccessibilityPeers, public testing::WithParamInterface<StoppedPeerCase> {
 protected:
  pid_t peerProcess() {
    if (GetParam().peer == Peer::xServer) return desktop.server.pid;
    const std::string name =
        GetParam().peer == Peer::accessibilityBus ? "org.freedesktop.DBus" : "org.a11y.atspi.Registry";
    // The registry is started on demand, and the window may not have asked for it yet.
    for (int attempt = 0; attempt < 50; ++attempt) {
      const pid_t owner = busNameOwner(accessibilityBusAddress(desktop.bus.address), name);
      if (owner > 0) return owner;
      sleepMs(100);
    }
    return -1;
  }
};

// The peer stops after the helper has started and before it has asked
// anything, so the query that starts AT-SPI meets it.
TEST_P(StoppedPeer, EveryAnswerTheFirstIncludedComesInTimeAndInputClosingEndsTheHelper) {
  startWindow("entry");  // which starts the accessibility bus and its registry
  const pid_t peer = peerProcess();
  ASSERT_GT(peer, 0);

  startTheHelper();
  stop(peer);
  for (int query = 0; query < 2; ++query) {
    const auto start = Clock::now();
    EXPECT_EQ(checkFocus(), "focus:none") << "query " << query;
    EXPECT_LT(millisecondsSince(start), answerBoundMs) << "query " << query;
  }
  kill(peer, SIGCONT);
  EXPECT_TRUE(answersWithin("focus:editable", 8000)) << "no answer once the peer ran again";
  expectCleanEnd(helper);

  // A parent that gives up while its first queries wait.
  startTheHelper();
  stop(peer);
  ASSERT_TRUE(writeAll(helper.input, "check-focus\ncheck-focus\n"));
  pid_t process = -1;
  for (int waited = 0; waited < 500 && process < 0; waited += 10) {
    process = accessibilityProcessOf(helper.pid);
    sleepMs(10);
  }
  const auto start = Clock::now();
  HelperRun end = finishHelper(helper, 10000);
  helper = {};
  EXPECT_LT(millisecondsSince(start), answerBoundMs) << "closing the input did not end the helper in time";
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.standardError, "");
  EXPECT_EQ(end.lines, (Lines{"focus:none", "focus:none"}));
  // Stuck or not, the accessibility process ends with the helper.
  if (process > 0) {
    for (int waited = 0; waited < 1000 && !hasEnded(process); waited += 10) sleepMs(10);
    EXPECT_TRUE(hasEnded(process)) << "the accessibility process outlived the helper";
  }
  kill(peer, SIGCONT);
}

const StoppedPeerCase stoppedPeerCases[] = {
    {"accessibility bus", Peer::accessibilityBus},
    {"registry", Peer::registry},
    {"X server", Peer::xServer},
};

INSTANTIATE_TEST_SUITE_P(Peers, StoppedPeer, testing::ValuesIn(stoppedPeerCases), CaseName());

// Even stuck where it cannot see its requests end (the X server it reads the
// bus address from is stopped), and with the helper killed outright.
TEST_F(AccessibilityPeers, AccessibilityProcessNeverOutlivesTheHelper) {
  startTheHelper();
  stop(desktop.server.pid);
  ASSERT_TRUE(writeAll(helper.input, "check-focus\n"));
  pid_t process = -1;
  for (int waited = 0; waited < 500 && process < 0; waited += 10) {
    process = accessibilityProcessOf(helper.pid);
    sleepMs(10);
  }
  ASSERT_GT(process, 0);
  kill(helper.pid, SIGKILL);
  for (int waited = 0; waited < 1000 && !hasEnded(process); waited += 10) sleepMs(10);
  EXPECT_TRUE(hasEnded(process)) << "the accessibility process outlived the helper";
  kill(desktop.server.pid, SIGCONT);
  stopChild(helper);
}

// An application that sends state and name changes as fast as it can, as a
// busy one does whether or not anyone listens.
TEST_F(AccessibilityPeers, BusyApplicationLeavesMemoryFlatAndTheHelperAsleep) {
  HelperProcess& window = startWindow("entry");
  ASSERT_TRUE(writeAll(window.input, "busy\n"));
  ASSERT_EQ(readLines(window, 1), Lines{"busy"});
  startTheHelper();
  ASSERT_TRUE(answersWithin("focus:editable", 15000)) << "the helper never saw the busy window's entry";
  const pid_t daemon = busNameOwner(accessibilityBusAddress(desktop.bus.address), "org.freedesktop.DBus");
  const pid_t process = accessibilityProcessOf(helper.pid);
  ASSERT_GT(daemon, 0);
  EXPECT_GT(process, 0) << "no accessibility process";

  // Idle.
  const long busAtStart = residentKiB(daemon, "VmRSS:");
  const long oursAtStart = residentOfHelperAndItsProcess();
  const long wakeUpsAtStart = wakeUps(process);
  sleepMs(5000);
  EXPECT_LT(residentKiB(daemon, "VmRSS:") - busAtStart, 1024) << "the bus queued the application's events";
  if (process > 0) {
    EXPECT_LT(wakeUps(process) - wakeUpsAtStart, 10) << "the accessibility process woke for the events";
  }

  // A query every 50 ms.
  const auto start = Clock::now();
  int queries = 0;
  while (millisecondsSince(start) < 5000) {
    EXPECT_EQ(checkFocus(), "focus:editable");
    ++queries;
    sleepMs(50);
  }
  EXPECT_LT(residentKiB(daemon, "VmRSS:") - busAtStart, 1024) << "the bus grew over " << queries << " queries";
  // A sanitizer's allocator holds on to what is freed; the plain build's run tells.
  if (!helperIsSanitized()) {
    EXPECT_LT(residentOfHelperAndItsProcess() - oursAtStart, 1024) << "the helper grew over " << queries << " queries";
  }
}

TEST_F(AccessibilityPeers, StoppedApplicationsArePassedOverAndAskedAgainOnceTheyAnswer) {
  // Three applications on the desktop before the focused one, then stopped.
  std::vector<pid_t> stoppedWindows;
  for (int window = 0; window < 3; ++window) stoppedWindows.push_back(startWindow("entry").pid);
  for (pid_t pid : stoppedWindows) kill(pid, SIGSTOP);
  HelperProcess& focused = startWindow("entry");
  startTheHelper();

  // The first queries meet them, each at the cost of one call that times out.
  bool editable = false;
  for (int query = 0; query < 3 && !editable; ++query) {
    const auto start = Clock::now();
    editable = checkFocus() == "focus:editable";
    EXPECT_LT(millisecondsSince(start), answerBoundMs) << "query " << query;
  }
  EXPECT_TRUE(editable) << "the stopped applications hid the focused one";
  // Later queries pass them over without waiting for them.
  for (int query = 0; query < 5; ++query) {
    const auto start = Clock::now();
    EXPECT_EQ(checkFocus(), "focus:editable") << "query " << query;
    EXPECT_LT(millisecondsSince(start), 500) << "query " << query;
  }

  // Once they run again they are asked again: only the first has an editable focus now.
  for (pid_t pid : stoppedWindows) kill(pid, SIGCONT);
  ASSERT_TRUE(focusInWindow(focused, "button"));
  HelperProcess& first = others.front();
  ASSERT_TRUE(activateWindow(first));
  ASSERT_TRUE(awaitInactive(focused));
  ASSERT_TRUE(focusInWindow(first, "entry"));
  EXPECT_TRUE(answersWithin("focus:editable", 3000)) << "an application that answers again stayed passed over";
}

TEST_F(AccessibilityPeers, MemoryStaysBoundedOverThousandsOfApplicationsComingAndGoing) {
  HelperProcess& applications = startScript(ORTEL_CHURN_APPS);
  startTheHelper();
  EXPECT_EQ(checkFocus(), "focus:none");
  const long oursAtStart = residentOfHelperAndItsProcess();

  for (int round = 0; round < 48; ++round) {
    ASSERT_TRUE(writeAll(applications.input, "open 25\n"));
    ASSERT_EQ(readLines(applications, 1, 15000), Lines{"opened"});
    const auto start = Clock::now();
    EXPECT_EQ(checkFocus(), "focus:none") << "round " << round;
    EXPECT_LT(millisecondsSince(start), answerBoundMs) << "round " << round;
    ASSERT_TRUE(writeAll(applications.input, "close\n"));
    ASSERT_EQ(readLines(applications, 1, 15000), Lines{"closed"});
  }
  if (!helperIsSanitized()) {
    EXPECT_LT(residentOfHelperAndItsProcess() - oursAtStart, 3 * 1024) << "the helper kept what 1200 applications left";
  }

  // And it still answers right.
  startWindow("entry");
  EXPECT_TRUE(answersWithin("focus:editable", 5000));
}

}  // namespace
