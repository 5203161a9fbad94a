// Keys typed on a real kernel's keyboards, as the built helper's event
// devices' monitor translates them: uinput keyboards in the test machine,
// the helper reading their event devices as a Wayland session's user does,
// checked line by line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/case_names.h"
#include "tests/vm/evdev_session.h"

namespace {

using Lines = std::vector<std::string>;

struct KeyScenario {
  const char* name;
  const char* watchedName;
  std::vector<std::string> steps;
  Lines expected;
};

void PrintTo(const KeyScenario& scenario, std::ostream* out) { *out << scenario.name; }

constexpr unsigned long capsLock = 65536, option = 524288, function = 8388608;

// What the event devices add to the key state: the kernel's key codes, its
// repeats, the Caps Lock light, two keyboards. What the tracker makes of the
// events is its own table's (tests/tracker_test.cpp). Rows press nothing that
// could arm unless they mean to, so that no timing decides them; where one
// does, the hold is 500 ms against the 150 ms arm delay, a wide margin under
// a software CPU, and outlasts the kernel's 250 ms repeat delay.
const KeyScenario keyScenarios[] = {
    {"each modifier key on its own bit, on both sides", "option",
     {"+LEFTSHIFT", "+RIGHTSHIFT", "+LEFTCTRL", "+RIGHTCTRL", "+LEFTMETA", "+RIGHTMETA", "-LEFTSHIFT", "-RIGHTSHIFT",
      "-LEFTCTRL", "-RIGHTCTRL", "-LEFTMETA", "-RIGHTMETA"},
     eachModifierInTurnLines()},
    // Right Alt is also AltGr. Unlike X11, the kernel passes on an Fn key
    // where the keyboard reports one.
    {"both Alt keys are option, Fn is function", "shift",
     {"+LEFTALT", "+RIGHTALT", "+FN", "-LEFTALT", "-RIGHTALT", "-FN"},
     {flagsLine(option, false, true), flagsLine(option, false, true), flagsLine(option | function, false, true),
      flagsLine(option | function, false, true), flagsLine(function, false, true), flagsLine(0, false, false)}},
    // Were it not a key down, option would arm while it is held.
    {"a typed key is a key down, its release nothing", "option", {"+LEFTALT", "A", "500", "-LEFTALT"},
     {flagsLine(option, true, false), flagsLine(0, false, false)}},
    {"the kernel's repeats are no presses", "option", {"+A", "+LEFTALT", "500", "-LEFTALT", "-A"},
     {flagsLine(option, true, false), "option:down", flagsLine(0, false, false), "option:up"}},
    // The flag follows the light, which the desktop sets from its keymap
    // after the key. The key itself types.
    {"Caps Lock types; the light gives the flag", "option",
     {"CAPSLOCK", "LIGHT+", "+LEFTALT", "-LEFTALT", "CAPSLOCK", "LIGHT-"},
     {flagsLine(capsLock, false, true), flagsLine(capsLock | option, true, true), flagsLine(capsLock, false, true),
      flagsLine(0, false, false)}},
    // Two keyboards make one set of flags.
    {"option held on both keyboards, let go one at a time", "option",
     {"+LEFTALT", "500", "second:+RIGHTALT", "50", "-LEFTALT", "50", "second:-RIGHTALT"},
     {flagsLine(option, true, false), "option:down", flagsLine(option, true, false), flagsLine(option, true, false),
      flagsLine(0, false, false), "option:up"}},
    // The desktop lights both; the flag changes once each way.
    {"Caps Lock lit on both keyboards", "option",
     {"CAPSLOCK", "LIGHT+", "second:LIGHT+", "+LEFTALT", "-LEFTALT", "second:CAPSLOCK", "LIGHT-", "second:LIGHT-"},
     {flagsLine(capsLock, false, true), flagsLine(capsLock | option, true, true), flagsLine(capsLock, false, true),
      flagsLine(0, false, false)}},
};

class KeysOnEventDevices : public testing::TestWithParam<KeyScenario> {
 protected:
  void SetUp() override {
    for (VirtualKeyboard* keyboard : {&first, &second}) {
      *keyboard = plugKeyboard(keyboard == &first ? "ortel test keyboard" : "ortel second keyboard");
      grantAccess(*keyboard);
    }
  }
  void TearDown() override {
    unplugKeyboard(first);
    unplugKeyboard(second);
  }

  VirtualKeyboard first, second;
};

TEST_P(KeysOnEventDevices, WritesExactlyTheExpectedLines) {
  const KeyScenario& scenario = GetParam();
  HelperProcess helper = startHelperAsUser({scenario.watchedName});
  ASSERT_EQ(readLines(helper, 4), openingLines(true, scenario.watchedName));

  playSteps({&first, &second}, scenario.steps);
  // And nothing more: no late down line, no second up line.
  EXPECT_EQ(readLinesThenQuiet(helper, scenario.expected.size()), scenario.expected);

  expectCleanEnd(helper);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, KeysOnEventDevices, testing::ValuesIn(keyScenarios), CaseName());

}  // namespace
