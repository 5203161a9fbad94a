// Hostile and heavy input through the built helper: nothing lost, nothing
// torn, no growth, and never a byte on standard error.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/expected_lines.h"
#include "tests/helper_process.h"

namespace {

using Lines = std::vector<std::string>;

const Lines opening = openingLines(false);

std::string repeated(const std::string& line, int times) {
  std::string bytes;
  for (int i = 0; i < times; ++i) bytes += line;
  return bytes;
}

TEST(HostileInput, BinaryGarbageIsIgnoredAndTheNextCommandAnswered) {
  const std::string garbage = std::string("check-focus\0\n", 13) + "\xff\xfe\xfd\n" + "check-\xc3" "\x28" "focus\n" +
                              "\xed\xa0\x80\n" + std::string(3, '\0') + "\n" + "\x1b[2Jcheck-focus\n" +
                              "check-focus\n";
  const HelperRun run = runHelperToEnd({}, garbage);
  Lines expected = opening;
  expected.push_back("focus:none");
  EXPECT_EQ(run.lines, expected);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.standardError, "");
}

TEST(HostileInput, TenThousandCommandsAtOnceAreEachAnsweredInOrder) {
  HelperProcess helper = startHelper({});
  ASSERT_EQ(readLines(helper, 3), opening);
  // Written from a thread: the replies fill the output pipe while the
  // commands are still going in.
  std::thread writer([fd = helper.input] { writeAll(fd, repeated("check-focus\n", 10000)); });
  const Lines replies = readLines(helper, 10000, 60000);
  writer.join();
  EXPECT_EQ(replies, Lines(10000, "focus:none"));
  expectCleanEnd(helper);
}

TEST(HostileInput, AParentThatStopsReadingLosesNothing) {
  HelperProcess helper = startHelper({});
  ASSERT_EQ(readLines(helper, 3), opening);
  const int commands = 40000;
  std::thread writer([fd = helper.input] { writeAll(fd, repeated("check-focus\n", commands)); });
  // The helper blocks on its full output pipe meanwhile.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const long stalledKiB = residentKiB(helper.pid, "VmRSS:");
  const Lines replies = readLines(helper, commands, 120000);
  writer.join();
  EXPECT_EQ(replies.size(), static_cast<std::size_t>(commands));
  EXPECT_EQ(replies, Lines(static_cast<std::size_t>(commands), "focus:none"));
  if (!helperIsSanitized()) {
    EXPECT_LT(stalledKiB, 16 * 1024);
    EXPECT_LT(residentKiB(helper.pid, "VmHWM:"), 16 * 1024);
  }
  const HelperRun end = finishHelper(helper);
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.standardError, "");
}

}  // namespace
