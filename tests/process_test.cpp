// The built helper driven through pipes, as the parent application drives it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/expected_lines.h"
#include "tests/helper_process.h"

namespace {

using Lines = std::vector<std::string>;

TEST(Process, OpeningLinesCarryTheNameExactlyAsGiven) {
  const std::pair<std::vector<std::string>, std::string> table[] = {
      {{}, "option"},
      {{"Command"}, "Command"},
      {{""}, ""},
      {{"shift", "extra", "more"}, "shift"},
      {{"wählen ⌥ 選択"}, "wählen ⌥ 選択"},
      {{"\xff\xfe not utf-8"}, "\xff\xfe not utf-8"},
  };
  for (const auto& [arguments, name] : table) {
    HelperRun run = runHelperToEnd(arguments, "");
    EXPECT_EQ(run.lines, openingLines(false, name)) << name;
    EXPECT_EQ(run.exitStatus, 0) << name;
    EXPECT_EQ(run.standardError, "") << name;
  }
}

TEST(Process, AnswersCheckFocusLinesInOrderThenExitsAtEndOfInput) {
  HelperRun run = runHelperToEnd({}, "check-focus\r\ncheck-focus \nCheck-Focus\n\ncheck-focus\ncheck-focus\ncheck-focus");
  Lines expected = openingLines(false);
  for (int i = 0; i < 4; ++i) expected.push_back("focus:none");
  EXPECT_EQ(run.lines, expected);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.standardError, "");
  EXPECT_EQ(run.rawOutput.find('\r'), std::string::npos);
}

TEST(Process, HugeLineWithoutLineFeedDoesNotGrowMemory) {
  HelperProcess helper = startHelper({});
  ASSERT_EQ(readLines(helper, 3), openingLines(false));
  const long startKiB = residentKiB(helper.pid, "VmRSS:");

  const std::string block(1 << 20, 'z');
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(writeAll(helper.input, block));
  ASSERT_TRUE(writeAll(helper.input, "\ncheck-focus\n"));
  EXPECT_EQ(readLines(helper, 1), Lines{"focus:none"});
  const long peakKiB = residentKiB(helper.pid, "VmHWM:");
  EXPECT_LT(peakKiB - startKiB, 8192) << "grew from " << startKiB << " KiB to a peak of " << peakKiB << " KiB";
  if (!helperIsSanitized()) {
    EXPECT_LT(peakKiB, 16 * 1024);
  }

  HelperRun end = finishHelper(helper);
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.standardError, "");
}

TEST(Process, StaysQuietWhileIdle) {
  // Trust polls and the loop must not write anything on their own.
  HelperProcess helper = startHelper({});
  ASSERT_EQ(readLines(helper, 3), openingLines(false));
  std::this_thread::sleep_for(std::chrono::milliseconds(3200));
  expectCleanEnd(helper);
}

TEST(Process, OutputClosedByTheParentRunsUntilItsInputCloses) {
  HelperProcess helper = startHelper({});
  ASSERT_EQ(readLines(helper, 3), openingLines(false));
  // A parent that no longer wants the lines, and keeps its end of the input.
  close(helper.output);
  helper.output = -1;
  ASSERT_TRUE(writeAll(helper.input, "check-focus\ncheck-focus\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(endsWithin(helper, 0)) << "ended before its input closed";
  HelperRun run = finishHelper(helper);
  EXPECT_EQ(run.exitStatus, 0) << "killed by a signal, or still running";
  EXPECT_EQ(run.standardError, "");
}

// GLib's loop takes two descriptors beyond the three standard ones, and the
// X connection one more. Below that the helper still speaks the protocol.
TEST(Process, OpenFileLimitTooLowForTheLoopStillEndsCleanly) {
  XServer server = startXServer();
  ASSERT_GT(server.pid, 0) << "Xvfb did not start";
  for (const int limit : {4, 5}) {
    HelperProcess helper = startChild("/usr/bin/prlimit", {"--nofile=" + std::to_string(limit), helperPath()},
                                      {displayVariable(server.number)});
    EXPECT_EQ(readLines(helper, 3), openingLines(false)) << "limit " << limit;
    EXPECT_TRUE(writeAll(helper.input, "check-focus\n")) << "limit " << limit;
    EXPECT_EQ(readLines(helper, 1), Lines{"focus:none"}) << "limit " << limit;
    HelperRun run = finishHelper(helper);
    EXPECT_EQ(run.lines, Lines{}) << "limit " << limit;
    EXPECT_EQ(run.exitStatus, 0) << "limit " << limit;
    EXPECT_EQ(run.standardError, "") << "limit " << limit;
  }
  stopXServer(server);
}

// A parent may start the helper with one of its standard descriptors closed.
// Whatever the helper opens first (on a desktop, its X connection) must not
// take that number: lines would go into the X connection, and input be read
// from it.
class ClosedStandardDescriptor : public testing::Test {
 protected:
  void SetUp() override {
    server = startXServer();
    ASSERT_GT(server.pid, 0) << "Xvfb did not start";
  }
  void TearDown() override { stopXServer(server); }

  HelperProcess start(int closedDescriptor) {
    return startHelper({}, {displayVariable(server.number)}, closedDescriptor);
  }

  const Lines openingOnDesktop = openingLines(true);
  XServer server;
};

TEST_F(ClosedStandardDescriptor, InputClosedEndsAtOnceAsAtEndOfInput) {
  HelperProcess helper = start(0);
  ASSERT_TRUE(endsWithin(helper, 5000)) << "still running with no input";
  HelperRun run = finishHelper(helper);
  EXPECT_EQ(run.lines, openingOnDesktop);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.standardError, "");
}

TEST_F(ClosedStandardDescriptor, OutputClosedRunsUntilItsInputCloses) {
  HelperProcess helper = start(1);
  ASSERT_TRUE(writeAll(helper.input, "check-focus\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(endsWithin(helper, 0)) << "ended before its input closed";
  // Its lines go nowhere rather than into another connection.
  EXPECT_EQ(descriptorTarget(helper.pid, 1), "/dev/null");
  HelperRun run = finishHelper(helper);
  EXPECT_EQ(run.rawOutput, "");
  EXPECT_EQ(run.exitStatus, 0) << run.standardError;
  EXPECT_EQ(run.standardError, "");
}

TEST_F(ClosedStandardDescriptor, ErrorClosedChangesNothing) {
  HelperProcess helper = start(2);
  EXPECT_EQ(readLines(helper, 4), openingOnDesktop);
  ASSERT_TRUE(writeAll(helper.input, "check-focus\n"));
  EXPECT_EQ(readLines(helper, 1), Lines{"focus:none"});
  HelperRun run = finishHelper(helper);
  EXPECT_EQ(run.lines, Lines{});
  EXPECT_EQ(run.exitStatus, 0);
}

}  // namespace
