// The helper among peers that go away or never answer: X servers that die
// under load, missing buses, a stopped application, a parent that leaves
// mid-query. It never dies, never hangs past its bounds, never writes to
// stderr, and reports trust as it is.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/desktop/desktop_session.h"

namespace {

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

// One 1.5 s trust poll, with room for a loaded machine.
constexpr int withinOnePollMs = 1500 + 2500;

const Lines hold = {flagsLine(524288, true, false), "option:down", flagsLine(0, false, false), "option:up"};

// Reads count lines that are not focus replies, counting the replies passed over.
Lines readSkippingReplies(HelperProcess& helper, std::size_t count, int timeoutMs, int& replies) {
  Lines lines;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (lines.size() < count && Clock::now() < deadline) {
    const int leftMs =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    for (const std::string& line : readLines(helper, 1, leftMs)) {
      if (line == "focus:none") {
        ++replies;
      } else {
        lines.push_back(line);
      }
    }
  }
  return lines;
}

int millisecondsSince(Clock::time_point start) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string freshDirectory() {
  char pattern[] = "/tmp/ortel-home-XXXXXX";
  const char* made = mkdtemp(pattern);
  return made != nullptr ? made : "";
}

TEST(LostPeers, XServerKilledAndRestartedUnderLoad) {
  const int number = unusedDisplayNumber();
  XServer server = startXServer(number);
  ASSERT_GT(server.pid, 0);
  HelperProcess helper = startHelper({}, {displayVariable(number)});
  ASSERT_EQ(readLines(helper, 4), openingLines(true));

  // A steady stream of focus queries the whole time.
  std::atomic<bool> loading{true};
  std::atomic<int> sent{0};
  std::thread load([&] {
    while (loading) {
      if (!writeAll(helper.input, "check-focus\n")) break;
      ++sent;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });

  int replies = 0;
  for (int round = 0; round < 4; ++round) {
    stopXServer(server);
    EXPECT_EQ(readSkippingReplies(helper, 1, withinOnePollMs, replies), Lines{"trusted:false"}) << "round " << round;
    server = startXServer(number);
    ASSERT_GT(server.pid, 0);
    EXPECT_EQ(readSkippingReplies(helper, 1, withinOnePollMs, replies), Lines{"trusted:true"}) << "round " << round;
    ASSERT_TRUE(injectKeys(number, {"+Alt_L", "300", "-Alt_L"}));
    EXPECT_EQ(readSkippingReplies(helper, hold.size(), 5000, replies), hold) << "round " << round;
  }
  loading = false;
  load.join();
  // Every query still gets its reply.
  EXPECT_EQ(readSkippingReplies(helper, 0, 0, replies), Lines{});
  while (replies < sent) {
    const Lines rest = readLines(helper, static_cast<std::size_t>(sent - replies), 5000);
    if (rest.empty()) break;
    for (const std::string& line : rest) EXPECT_EQ(line, "focus:none");
    replies += static_cast<int>(rest.size());
  }
  EXPECT_EQ(replies, sent.load());
  expectCleanEnd(helper);
  stopXServer(server);
}

TEST(LostPeers, NoSessionBusMeansNoneAndNoBusOfItsOwn) {
  XServer server = startXServer();
  ASSERT_GT(server.pid, 0);
  const std::string home = freshDirectory();
  // No bus address and no runtime directory: the helper has no bus to find,
  // and must not start one (libdbus would, through X11, into the home).
  HelperProcess helper = startHelper({}, {displayVariable(server.number), "HOME=" + home, "XDG_RUNTIME_DIR="});
  ASSERT_EQ(readLines(helper, 4), openingLines(true));
  for (int query = 0; query < 3; ++query) {
    ASSERT_TRUE(writeAll(helper.input, "check-focus\n"));
    EXPECT_EQ(readLines(helper, 1, 2500), Lines{"focus:none"});
  }
  expectCleanEnd(helper);
  stopXServer(server);
  EXPECT_TRUE(std::filesystem::is_empty(home)) << home << " gained files";
  std::filesystem::remove_all(home);
}

TEST(LostPeers, SessionBusWithoutAccessibilityMeansNonePromptly) {
  Desktop desktop = startDesktop(ORTEL_NO_A11Y_BUS_CONFIG);
  ASSERT_EQ(desktop.failure, "");
  HelperProcess helper = startHelper({}, desktop.environment);
  ASSERT_EQ(readLines(helper, 4), openingLines(true));
  for (int query = 0; query < 3; ++query) {
    const auto start = Clock::now();
    ASSERT_TRUE(writeAll(helper.input, "check-focus\n"));
    EXPECT_EQ(readLines(helper, 1, 5000), Lines{"focus:none"});
    EXPECT_LT(millisecondsSince(start), 2500) << "query " << query;
  }
  expectCleanEnd(helper);
  stopDesktop(desktop);
}

class StoppedApplication : public testing::Test {
 protected:
  void SetUp() override {
    desktop = startDesktop();
    ASSERT_EQ(desktop.failure, "");
    window = startTestWindow(desktop.environment);
    ASSERT_GT(window.pid, 0);
    helper = startHelper({}, desktop.environment);
    ASSERT_EQ(readLines(helper, 4), openingLines(true));
    ASSERT_TRUE(focusInWindow(window, "entry"));
    // Wait until the window is on the accessibility bus.
    ASSERT_TRUE(focusAnswerWithin(helper, "focus:editable", 15000));
  }

  void TearDown() override {
    if (helper.pid > 0) expectCleanEnd(helper);
    stopChild(window);
    stopDesktop(desktop);
  }

  Desktop desktop;
  HelperProcess window;
  HelperProcess helper;
};

TEST_F(StoppedApplication, ParentLeavingMidQueryEndsTheHelperPromptly) {
  kill(window.pid, SIGSTOP);
  const auto start = Clock::now();
  ASSERT_TRUE(writeAll(helper.input, "check-focus\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the query is under way
  HelperRun end = finishHelper(helper, 5000);
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.standardError, "");
  // The query in flight is answered, within its bound, and nothing else.
  EXPECT_EQ(end.lines, Lines{"focus:none"});
  EXPECT_LT(millisecondsSince(start), 2500);
}

TEST_F(StoppedApplication, KeysAreHeardWhileAQueryWaits) {
  kill(window.pid, SIGSTOP);
  ASSERT_TRUE(writeAll(helper.input, "check-focus\n"));
  ASSERT_TRUE(injectKeys(desktop.server.number, {"+Alt_L", "300", "-Alt_L"}));
  Lines lines = readLines(helper, hold.size() + 1, 5000);
  // The reply may come anywhere among the key lines; the key lines keep their order.
  Lines keyLines;
  int replies = 0;
  for (const std::string& line : lines) {
    if (line == "focus:none") {
      ++replies;
    } else {
      keyLines.push_back(line);
    }
  }
  EXPECT_EQ(keyLines, hold);
  EXPECT_EQ(replies, 1);
}

}  // namespace
