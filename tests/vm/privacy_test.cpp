// What the helper does with the keyboards beyond its lines: it tells no key
// apart in them, holds nothing open but the event devices (read-only) and
// its own plumbing, takes no keyboard away from other programs, and sleeps
// between its trust polls.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/vm/evdev_session.h"

namespace {

using Lines = std::vector<std::string>;

std::string readFile(const std::string& path) {
  std::ifstream file(path);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Key events another reader of the node received, repeats counted apart.
struct Received {
  int presses = 0;
  int repeats = 0;
};

Received drain(int fd) {
  Received received;
  input_event events[64];
  pollfd ready{fd, POLLIN, 0};
  while (poll(&ready, 1, 100) > 0) {
    const ssize_t got = read(fd, events, sizeof events);
    if (got <= 0) break;
    for (std::size_t index = 0; index < static_cast<std::size_t>(got) / sizeof(input_event); ++index) {
      if (events[index].type != EV_KEY) continue;
      received.presses += events[index].value == 1 ? 1 : 0;
      received.repeats += events[index].value == 2 ? 1 : 0;
    }
  }
  return received;
}

class PrivacyInVm : public testing::Test {
 protected:
  void SetUp() override {
    keyboard = plugKeyboard("ortel private keyboard");
    grantAccess(keyboard);
  }
  void TearDown() override { unplugKeyboard(keyboard); }

  VirtualKeyboard keyboard;
};

TEST_F(PrivacyInVm, TypedKeysNeverAppearAndNothingElseIsOpen) {
  HelperProcess helper = startHelperAsUser({});
  ASSERT_EQ(readLines(helper, 4), openingLines(true));
  // Another program reading the same keyboard, as the desktop does.
  const int desktop = open(keyboard.node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(desktop, 0);

  // The other reader got every press: the helper never grabs. In two
  // halves, so that the reader's own queue of 64 events never overflows.
  playSteps({&keyboard}, {"S", "E", "C", "+LEFTSHIFT", "R", "E", "-LEFTSHIFT", "T"});
  EXPECT_EQ(drain(desktop).presses, 7);
  playSteps({&keyboard}, {"DIGIT1", "SPACE", "ENTER", "+LEFTCTRL", "A", "-LEFTCTRL", "+LEFTALT", "B", "-LEFTALT"});
  EXPECT_EQ(drain(desktop).presses, 7);
  close(desktop);

  // Event devices read-only, and the loop's own descriptors: pipes to the
  // parent, the inotify watch, the arm timer and GLib's wake-up eventfd.
  const std::string fdDirectory = "/proc/" + std::to_string(helper.pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(fdDirectory)) {
    const std::string target = std::filesystem::read_symlink(entry.path()).string();
    if (target.rfind("/dev/input/event", 0) == 0) {
      const std::string info = readFile("/proc/" + std::to_string(helper.pid) + "/fdinfo/" +
                                        entry.path().filename().string());
      const std::size_t flags = info.find("flags:");
      ASSERT_NE(flags, std::string::npos);
      EXPECT_EQ(std::stoul(info.substr(flags + 6), nullptr, 8) & O_ACCMODE, static_cast<unsigned long>(O_RDONLY))
          << target << " is open for writing";
    } else {
      EXPECT_TRUE(target.rfind("pipe:", 0) == 0 || target == "anon_inode:inotify" ||
                  target == "anon_inode:[timerfd]" || target == "anon_inode:[eventfd]")
          << "open: " << target;
    }
  }

  HelperRun end = finishHelper(helper);
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.standardError, "");
  for (const std::string& line : end.lines) {
    EXPECT_TRUE(std::regex_match(line, protocolLine())) << "not a protocol line: " << line;
  }
}

TEST_F(PrivacyInVm, TheKernelsRepeatsOfAHeldKeyAreNoPresses) {
  HelperProcess helper = startHelperAsUser({});
  ASSERT_EQ(readLines(helper, 4), openingLines(true));
  const int watcher = open(keyboard.node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(watcher, 0);
  playSteps({&keyboard}, {"+LEFTALT", "800", "-LEFTALT"});
  EXPECT_EQ(readLines(helper, 4), (Lines{flagsLine(524288, true, false), "option:down", flagsLine(0, false, false),
                                         "option:up"}));
  EXPECT_GE(drain(watcher).repeats, 5) << "the kernel did not repeat the key";
  close(watcher);
  expectCleanEnd(helper);
}

// Context switches, summed over the helper's threads.
long wakeUps(pid_t pid) { return static_cast<long>(readProcessCost(pid).contextSwitches); }

TEST_F(PrivacyInVm, IdleTheHelperWakesOnlyForItsTrustPoll) {
  HelperProcess helper = startHelperAsUser({});
  ASSERT_EQ(readLines(helper, 4), openingLines(true));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const long before = wakeUps(helper.pid);
  std::this_thread::sleep_for(std::chrono::seconds(6));
  // Four polls in 6 s, and a little room for the machine.
  EXPECT_LE(wakeUps(helper.pid) - before, 6);
  expectCleanEnd(helper);
}

}  // namespace
