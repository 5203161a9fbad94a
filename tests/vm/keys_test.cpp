// Keys typed on a real kernel's keyboards reach the built helper's tracker:
// uinput keyboards in the test machine, the helper reading their event
// devices as a Wayland session's user does, checked line by line.
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

constexpr unsigned long capsLock = 65536, shift = 131072, control = 262144, option = 524288, command = 1048576,
                        function = 8388608;

// Holds are 500 ms against the 150 ms arm delay, taps and typing within the
// delay 20 ms: wide margins under a software CPU. Every hold also outlasts
// the kernel's 250 ms repeat delay, so the held key repeats in each.
const KeyScenario keyScenarios[] = {
    {"hold", "option", {"+LEFTALT", "500", "-LEFTALT"},
     {flagsLine(option, true, false), "option:down", flagsLine(0, false, false), "option:up"}},
    {"tap", "option", {"+LEFTALT", "20", "-LEFTALT"}, {flagsLine(option, true, false), flagsLine(0, false, false)}},
    {"combination while down", "option", {"+LEFTALT", "500", "+LEFTMETA", "50", "-LEFTMETA", "50", "-LEFTALT"},
     {flagsLine(option, true, false), "option:down", flagsLine(option | command, true, true), "option:up",
      flagsLine(option, true, false), flagsLine(0, false, false)}},
    {"typing during the delay", "option", {"+LEFTALT", "20", "A", "500", "-LEFTALT"},
     {flagsLine(option, true, false), flagsLine(0, false, false)}},
    {"typing while down", "option", {"+LEFTALT", "500", "A", "B", "50", "-LEFTALT"},
     {flagsLine(option, true, false), "option:down", "option:up", flagsLine(0, false, false)}},
    // The flag follows the light, which the desktop sets from its keymap
    // after the key. The key itself types.
    {"Caps Lock engaged", "option", {"CAPSLOCK", "LIGHT+", "+LEFTALT", "500", "-LEFTALT", "CAPSLOCK", "LIGHT-"},
     {flagsLine(capsLock, false, true), flagsLine(capsLock | option, true, true), flagsLine(capsLock, false, true),
      flagsLine(0, false, false)}},
    {"Caps Lock pressed during the delay", "option",
     {"+LEFTALT", "20", "CAPSLOCK", "LIGHT+", "500", "-LEFTALT", "CAPSLOCK", "LIGHT-"},
     {flagsLine(option, true, false), flagsLine(capsLock | option, true, true), flagsLine(capsLock, false, true),
      flagsLine(0, false, false)}},
    // Right Alt is also AltGr.
    {"both option keys", "option", {"+LEFTALT", "500", "+RIGHTALT", "50", "-RIGHTALT", "50", "-LEFTALT"},
     {flagsLine(option, true, false), "option:down", flagsLine(option, true, false), flagsLine(option, true, false),
      flagsLine(0, false, false), "option:up"}},
    {"other modifiers held first", "option",
     {"+LEFTSHIFT", "+LEFTCTRL", "+RIGHTMETA", "+LEFTALT", "500", "-LEFTALT", "-RIGHTMETA", "-LEFTCTRL", "-LEFTSHIFT"},
     {flagsLine(shift, false, true), flagsLine(shift | control, false, true),
      flagsLine(shift | control | command, false, true), flagsLine(shift | control | command | option, true, true),
      flagsLine(shift | control | command, false, true), flagsLine(shift | control, false, true),
      flagsLine(shift, false, true), flagsLine(0, false, false)}},
    {"a letter held and repeating while option arms", "option", {"+A", "+LEFTALT", "500", "-LEFTALT", "-A"},
     {flagsLine(option, true, false), "option:down", flagsLine(0, false, false), "option:up"}},
    {"watching command", "command", {"+RIGHTMETA", "500", "-RIGHTMETA"},
     {flagsLine(command, true, false), "command:down", flagsLine(0, false, false), "command:up"}},
    {"watching control", "control", {"+RIGHTCTRL", "500", "-RIGHTCTRL"},
     {flagsLine(control, true, false), "control:down", flagsLine(0, false, false), "control:up"}},
    {"watching shift", "shift", {"+RIGHTSHIFT", "500", "-RIGHTSHIFT"},
     {flagsLine(shift, true, false), "shift:down", flagsLine(0, false, false), "shift:up"}},
    // Unlike X11, the kernel passes on an Fn key where the keyboard reports one.
    {"watching function", "function", {"+FN", "500", "-FN"},
     {flagsLine(function, true, false), "function:down", flagsLine(0, false, false), "function:up"}},
    {"watching function, option pressed", "function", {"+LEFTALT", "500", "-LEFTALT"},
     {flagsLine(option, false, true), flagsLine(0, false, false)}},

    // Two keyboards make one set of flags.
    {"option on one keyboard, command on the other", "option",
     {"+LEFTALT", "500", "second:+LEFTMETA", "50", "second:-LEFTMETA", "50", "-LEFTALT"},
     {flagsLine(option, true, false), "option:down", flagsLine(option | command, true, true), "option:up",
      flagsLine(option, true, false), flagsLine(0, false, false)}},
    {"option held on both keyboards, let go one at a time", "option",
     {"+LEFTALT", "500", "second:+RIGHTALT", "50", "-LEFTALT", "50", "second:-RIGHTALT"},
     {flagsLine(option, true, false), "option:down", flagsLine(option, true, false), flagsLine(option, true, false),
      flagsLine(0, false, false), "option:up"}},
    {"typing on the other keyboard while down", "option", {"+LEFTALT", "500", "second:A", "50", "-LEFTALT"},
     {flagsLine(option, true, false), "option:down", "option:up", flagsLine(0, false, false)}},
    // The desktop lights both; the flag changes once each way.
    {"Caps Lock on both keyboards", "option",
     {"CAPSLOCK", "LIGHT+", "second:LIGHT+", "+LEFTALT", "500", "-LEFTALT", "second:CAPSLOCK", "LIGHT-",
      "second:LIGHT-"},
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
  ASSERT_EQ(readLines(helper, 4), listeningLines(scenario.watchedName));

  playSteps({&first, &second}, scenario.steps);
  // And nothing more: no late down line, no second up line.
  EXPECT_EQ(readAllLines(helper, scenario.expected.size()), scenario.expected);

  expectQuietEnd(helper);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, KeysOnEventDevices, testing::ValuesIn(keyScenarios), CaseName());

}  // namespace
