// Keyboards coming and going, becoming readable and unreadable, and a
// kernel queue overflowing, against the built helper in the test machine.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <fstream>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include "tests/case_names.h"
#include "tests/vm/evdev_session.h"

namespace {

using Lines = std::vector<std::string>;

constexpr unsigned long capsLock = 65536, shift = 131072, option = 524288;

const Lines holdLines = {flagsLine(option, true, false), "option:down"};
const Lines releaseLines = {flagsLine(0, false, false), "option:up"};

// A poll is 1.5 s; a trust line within 4 s leaves a software CPU room.
constexpr int withinAPollMs = 4000;

class KeyboardsInVm : public testing::Test {
 protected:
  void TearDown() override {
    for (VirtualKeyboard& keyboard : keyboards) unplugKeyboard(keyboard);
  }

  VirtualKeyboard& plug(bool readable = true) {
    keyboards.push_back(plugKeyboard("ortel keyboard " + std::to_string(keyboards.size() + 1)));
    if (readable) grantAccess(keyboards.back());
    return keyboards.back();
  }

  // Whether the helper has the node open, so that what is typed on it now is heard.
  static bool helperReads(const HelperProcess& helper, const std::string& node) {
    const std::string fds = "/proc/" + std::to_string(helper.pid) + "/fd/";
    for (int fd = 0; fd < 64; ++fd) {
      char target[256] = {};
      const ssize_t length = readlink((fds + std::to_string(fd)).c_str(), target, sizeof target - 1);
      if (length > 0 && node == target) return true;
    }
    return false;
  }

  static bool awaitReading(const HelperProcess& helper, const std::string& node, bool reading = true) {
    for (int attempt = 0; attempt < 300; ++attempt) {
      if (helperReads(helper, node) == reading) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // A list, so that a keyboard stays where it is while more are plugged.
  std::list<VirtualKeyboard> keyboards;
};

TEST_F(KeyboardsInVm, AKeyboardPluggedInWhileRunningIsHeard) {
  plug();
  HelperProcess helper = startHelperAsUser({});
  ASSERT_EQ(readLines(helper, 4), openingLines(true));

  // As udev does: the kernel makes the node, then its group and mode follow.
  VirtualKeyboard& late = plug(false);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(helperReads(helper, late.node)) << "read before it was readable";
  grantAccess(late);
  ASSERT_TRUE(awaitReading(helper, late.node));
  playSteps({&late}, {"+LEFTALT", "500", "-LEFTALT"});
  Lines expected = holdLines;
  expected.insert(expected.end(), releaseLines.begin(), releaseLines.end());
  EXPECT_EQ(readLines(helper, 4), expected);
  expectCleanEnd(helper);
}

TEST_F(KeyboardsInVm, UnpluggedMidHoldTheHoldEndsAsAReleaseWould) {
  VirtualKeyboard& keyboard = plug();
  HelperProcess helper = startHelperAsUser({});
  ASSERT_EQ(readLines(helper, 4), openingLines(true));
  playSteps({&keyboard}, {"+LEFTALT", "500"});
  ASSERT_EQ(readLines(helper, 2), holdLines);
  unplugKeyboard(keyboard);
  EXPECT_EQ(readLines(helper, 2), releaseLines);
  // With no keyboard left there is nothing to read: trust goes at the next poll.
  EXPECT_EQ(readLines(helper, 1, withinAPollMs), Lines{"trusted:false"});

  // A new keyboard brings it back, without a second monitor.
  VirtualKeyboard& next = plug();
  EXPECT_EQ(readLines(helper, 1, withinAPollMs), Lines{"trusted:true"});
  ASSERT_TRUE(awaitReading(helper, next.node));
  playSteps({&next}, {"+LEFTALT", "500"});
  EXPECT_EQ(readLines(helper, 2), holdLines);
  playSteps({&next}, {"-LEFTALT"});
  EXPECT_EQ(readLines(helper, 2), releaseLines);
  expectCleanEnd(helper);
}

TEST_F(KeyboardsInVm, UnpluggingOneOfTwoKeyboardsHoldingTheKeyChangesNothing) {
  VirtualKeyboard& stays = plug();
  VirtualKeyboard& goes = plug();
  HelperProcess helper = startHelperAsUser({});
  ASSERT_EQ(readLines(helper, 4), openingLines(true));
  playSteps({&stays, &goes}, {"+LEFTALT", "500", "second:+RIGHTALT"});
  Lines expected = holdLines;
  expected.push_back(flagsLine(option, true, false));
  ASSERT_EQ(readLines(helper, 3), expected);
  unplugKeyboard(goes);
  // The kernel may let go of the keys of a keyboard it removes before the
  // helper hears it is gone: that is a release of a key, told like any
  // other. Nothing else comes: the flags did not change.
  for (const std::string& line : readLines(helper, 2, 1000)) EXPECT_EQ(line, flagsLine(option, true, false));
  playSteps({&stays}, {"-LEFTALT"});
  EXPECT_EQ(readLines(helper, 2), releaseLines);
  expectCleanEnd(helper);
}

TEST_F(KeyboardsInVm, KeysHeldWhenTheHelperStartsCount) {
  VirtualKeyboard& keyboard = plug();
  playSteps({&keyboard}, {"+LEFTSHIFT"});
  HelperProcess helper = startHelperAsUser({});
  ASSERT_EQ(readLines(helper, 4), openingLines(true));
  playSteps({&keyboard}, {"+LEFTALT", "500", "-LEFTSHIFT", "500", "-LEFTALT"});
  // A combination, which never arms.
  EXPECT_EQ(readLinesThenQuiet(helper, 3), (Lines{flagsLine(shift | option, true, true), flagsLine(option, true, false),
                                            flagsLine(0, false, false)}));
  expectCleanEnd(helper);
}

TEST_F(KeyboardsInVm, AnUnreadableKeyboardIsNotTrustedUntilAChmodMakesItReadable) {
  VirtualKeyboard& keyboard = plug(false);
  HelperProcess helper = startHelperAsUser({});
  ASSERT_EQ(readLines(helper, 3), openingLines(false));
  EXPECT_EQ(readLines(helper, 1, 2000), Lines{}) << "polls go on quietly";
  grantAccess(keyboard);
  EXPECT_EQ(readLines(helper, 2, withinAPollMs), (Lines{"trusted:true", "debug:monitor-installed"}));
  playSteps({&keyboard}, {"+LEFTALT", "500", "-LEFTALT"});
  Lines expected = holdLines;
  expected.insert(expected.end(), releaseLines.begin(), releaseLines.end());
  EXPECT_EQ(readLines(helper, 4), expected);
  expectCleanEnd(helper);
}

TEST_F(KeyboardsInVm, AUserOutsideTheInputGroupIsNotTrusted) {
  plug();
  HelperProcess helper = startHelperAsUser({}, {waylandSession}, false);
  EXPECT_EQ(readLines(helper, 3), openingLines(false));
  EXPECT_EQ(readLines(helper, 1, 2000), Lines{});
  expectCleanEnd(helper);
}

// As when a seat's access moves to the user of another session: the helper
// lets go of the keyboard at once, instead of hearing that user's keys
// through the descriptor it opened before.
TEST_F(KeyboardsInVm, AccessTakenBackMidHoldEndsTheHoldAndTrust) {
  VirtualKeyboard& keyboard = plug();
  HelperProcess helper = startHelperAsUser({});
  ASSERT_EQ(readLines(helper, 4), openingLines(true));
  playSteps({&keyboard}, {"+LEFTALT", "500"});
  ASSERT_EQ(readLines(helper, 2), holdLines);
  revokeAccess(keyboard);
  EXPECT_EQ(readLines(helper, 2), releaseLines);
  EXPECT_TRUE(awaitReading(helper, keyboard.node, false));
  EXPECT_EQ(readLines(helper, 1, withinAPollMs), Lines{"trusted:false"});
  playSteps({&keyboard}, {"-LEFTALT", "+LEFTALT", "500", "-LEFTALT"});
  EXPECT_EQ(readLines(helper, 1, 500), Lines{}) << "keys heard without access";

  grantAccess(keyboard);
  EXPECT_EQ(readLines(helper, 1, withinAPollMs), Lines{"trusted:true"});
  expectCleanEnd(helper);
}

// The helper stopped while a keyboard sends more than the kernel queues for
// it: once it runs again it reports the state the keyboards are in, once,
// and goes on from there.
struct Burst {
  const char* name;
  std::vector<std::string> before;  // played before the stop
  Lines beforeLines;                // and what they write
  std::vector<std::string> during;  // around a hundred letters typed while stopped
  Lines resumeLines;                // once it runs again
  std::vector<std::string> after;   // played once those lines are read
  Lines afterLines;
};

void PrintTo(const Burst& burst, std::ostream* out) { *out << burst.name; }

const Burst bursts[] = {
    {"a modifier held in the burst", {}, {}, {"+LEFTSHIFT", "+LEFTALT", "letters", "-LEFTALT"},
     {flagsLine(shift, false, true)}, {"-LEFTSHIFT"}, {flagsLine(0, false, false)}},
    {"a burst that ends as it began", {}, {}, {"letters"}, {}, {}, {}},
    {"a hold ended in the burst", {"+LEFTALT", "500"}, holdLines, {"letters", "-LEFTALT"}, releaseLines, {}, {}},
    {"a hold begun in the burst", {}, {}, {"letters", "+LEFTALT"}, holdLines, {"-LEFTALT"}, releaseLines},
    {"Caps Lock engaged in the burst", {}, {}, {"letters", "CAPSLOCK", "LIGHT+"}, {flagsLine(capsLock, false, true)},
     {"CAPSLOCK", "LIGHT-"}, {flagsLine(0, false, false)}},
};

class OverflowInVm : public KeyboardsInVm, public testing::WithParamInterface<Burst> {
 protected:
  static char processState(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
  }

  static std::vector<std::string> withLetters(const std::vector<std::string>& steps) {
    std::vector<std::string> played;
    for (const std::string& step : steps) {
      if (step != "letters") {
        played.push_back(step);
        continue;
      }
      // 200 key events and as many reports, against a queue of 64 events.
      for (int letter = 0; letter < 100; ++letter) played.push_back(letter % 2 == 0 ? "A" : "B");
    }
    return played;
  }
};

TEST_P(OverflowInVm, ReportsTheTrueStateOnce) {
  const Burst& burst = GetParam();
  VirtualKeyboard& keyboard = plug();
  HelperProcess helper = startHelperAsUser({});
  ASSERT_EQ(readLines(helper, 4), openingLines(true));
  playSteps({&keyboard}, burst.before);
  ASSERT_EQ(readLines(helper, burst.beforeLines.size()), burst.beforeLines);

  ASSERT_EQ(kill(helper.pid, SIGSTOP), 0);
  for (int attempt = 0; attempt < 200 && processState(helper.pid) != 'T'; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(processState(helper.pid), 'T');
  playSteps({&keyboard}, withLetters(burst.during));
  ASSERT_EQ(kill(helper.pid, SIGCONT), 0);
  EXPECT_EQ(readLinesThenQuiet(helper, burst.resumeLines.size(), 1000), burst.resumeLines);
  playSteps({&keyboard}, burst.after);
  EXPECT_EQ(readLinesThenQuiet(helper, burst.afterLines.size(), 1000), burst.afterLines);
  expectCleanEnd(helper);
}

INSTANTIATE_TEST_SUITE_P(Bursts, OverflowInVm, testing::ValuesIn(bursts), CaseName());

// Which monitor a session gets: the event devices only where the session
// says it is Wayland's. Elsewhere X11's, which without an X server here is
// not trusted.
struct SessionCase {
  const char* name;
  std::vector<std::string> environment;
  bool eventDevices;
};

void PrintTo(const SessionCase& session, std::ostream* out) { *out << session.name; }

const SessionCase sessions[] = {
    {"WAYLAND_DISPLAY set", {"WAYLAND_DISPLAY=wayland-0"}, true},
    {"XDG_SESSION_TYPE wayland", {"XDG_SESSION_TYPE=wayland"}, true},
    {"both", {"WAYLAND_DISPLAY=wayland-1", "XDG_SESSION_TYPE=wayland", "DISPLAY=:0"}, true},
    {"an X11 session", {"XDG_SESSION_TYPE=x11", "DISPLAY=:0"}, false},
    {"WAYLAND_DISPLAY empty", {"WAYLAND_DISPLAY="}, false},
    {"no session at all", {}, false},
};

class SessionsInVm : public KeyboardsInVm, public testing::WithParamInterface<SessionCase> {};

TEST_P(SessionsInVm, PickTheMonitorByTheSessionType) {
  plug();
  HelperProcess helper = startHelperAsUser({}, GetParam().environment);
  const Lines expected = GetParam().eventDevices ? openingLines(true)
                                                 : openingLines(false);
  EXPECT_EQ(readLines(helper, expected.size()), expected);
  expectCleanEnd(helper);
}

INSTANTIATE_TEST_SUITE_P(Sessions, SessionsInVm, testing::ValuesIn(sessions), CaseName());

}  // namespace
