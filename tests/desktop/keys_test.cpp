// Keys typed on a real X server reach the built helper's tracker: XTest
// presses on a private Xvfb, the helper listening through its pipes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/case_names.h"
#include "tests/desktop/desktop_session.h"

namespace {

using Lines = std::vector<std::string>;

struct KeyScenario {
  const char* name;
  const char* watchedName;
  std::vector<std::string> steps;  // for the injector
  Lines expected;
};

void PrintTo(const KeyScenario& scenario, std::ostream* out) { *out << scenario.name; }

constexpr unsigned long capsLock = 65536, shift = 131072, control = 262144, option = 524288, command = 1048576;

// Holds are 300 ms against the 150 ms arm delay, taps and typing within the
// delay 20 ms: wide margins either way.
const KeyScenario keyScenarios[] = {
    {"hold", "option", {"+Alt_L", "300", "-Alt_L"},
     {flagsLine(option, true, false), "option:down", flagsLine(0, false, false), "option:up"}},
    {"tap", "option", {"+Alt_L", "20", "-Alt_L"}, {flagsLine(option, true, false), flagsLine(0, false, false)}},
    {"combination while down", "option", {"+Alt_L", "300", "+Super_L", "50", "-Super_L", "50", "-Alt_L"},
     {flagsLine(option, true, false), "option:down", flagsLine(option | command, true, true), "option:up",
      flagsLine(option, true, false), flagsLine(0, false, false)}},
    {"typing during the delay", "option", {"+Alt_L", "20", "a", "300", "-Alt_L"},
     {flagsLine(option, true, false), flagsLine(0, false, false)}},
    {"typing while down", "option", {"+Alt_L", "300", "a", "b", "50", "-Alt_L"},
     {flagsLine(option, true, false), "option:down", "option:up", flagsLine(0, false, false)}},
    // The lock engages on the first press and lets go on the second release.
    {"Caps Lock engaged", "option", {"Caps_Lock", "+Alt_L", "300", "-Alt_L", "Caps_Lock"},
     {flagsLine(capsLock, false, true), flagsLine(capsLock, false, true), flagsLine(capsLock | option, true, true),
      flagsLine(capsLock, false, true), flagsLine(capsLock, false, true), flagsLine(0, false, false)}},
    {"both option keys", "option", {"+Alt_L", "300", "+Alt_R", "50", "-Alt_R", "50", "-Alt_L"},
     {flagsLine(option, true, false), "option:down", flagsLine(option, true, false), flagsLine(option, true, false),
      flagsLine(0, false, false), "option:up"}},
    {"AltGr is option", "option", {"+ISO_Level3_Shift", "300", "-ISO_Level3_Shift"},
     {flagsLine(option, true, false), "option:down", flagsLine(0, false, false), "option:up"}},
    // Each flag on its own bit, also when several keys are held at once.
    {"other modifiers held first", "option",
     {"+Shift_L", "+Control_L", "+Super_R", "+Alt_L", "300", "-Alt_L", "-Super_R", "-Control_L", "-Shift_L"},
     {flagsLine(shift, false, true), flagsLine(shift | control, false, true),
      flagsLine(shift | control | command, false, true), flagsLine(shift | control | command | option, true, true),
      flagsLine(shift | control | command, false, true), flagsLine(shift | control, false, true),
      flagsLine(shift, false, true), flagsLine(0, false, false)}},
    {"watching command", "command", {"+Super_R", "300", "-Super_R"},
     {flagsLine(command, true, false), "command:down", flagsLine(0, false, false), "command:up"}},
    {"watching control", "control", {"+Control_R", "300", "-Control_R"},
     {flagsLine(control, true, false), "control:down", flagsLine(0, false, false), "control:up"}},
    {"watching shift", "shift", {"+Shift_R", "300", "-Shift_R"},
     {flagsLine(shift, true, false), "shift:down", flagsLine(0, false, false), "shift:up"}},
    // X11 never sees an Fn key, so a helper watching function never arms.
    {"watching function", "function", {"+Alt_L", "300", "-Alt_L"},
     {flagsLine(option, false, true), flagsLine(0, false, false)}},
    // A key comes up as what it went down as, whatever the keymap says by
    // then (Alt_L is keycode 64 on Xvfb, a is 38): the hold ends at its
    // release, and once the key is a modifier again nothing of it is left
    // held to spoil or keep up the next hold.
    {"keymap changed under a held key, and back", "option",
     {"+#64", "300", "#64=a", "50", "-#64", "50", "#64=Alt_L", "+Alt_R", "300", "-Alt_R"},
     {flagsLine(option, true, false), "option:down", flagsLine(0, false, false), "option:up",
      flagsLine(option, true, false), "option:down", flagsLine(0, false, false), "option:up"}},
    {"typing key made a modifier while held", "option", {"+#38", "50", "#38=Alt_L", "50", "-#38"}, {}},
};

class KeysOnX11 : public testing::TestWithParam<KeyScenario> {
 protected:
  void SetUp() override {
    server = startXServer();
    ASSERT_GT(server.pid, 0) << "Xvfb did not start";
  }
  void TearDown() override { stopXServer(server); }

  XServer server;
};

TEST_P(KeysOnX11, WritesExactlyTheExpectedLines) {
  const KeyScenario& scenario = GetParam();
  HelperProcess helper = startHelper({scenario.watchedName}, {displayVariable(server.number)});
  ASSERT_EQ(readLines(helper, 4), (Lines{"ready", std::string("debug:watching ") + scenario.watchedName,
                                         "trusted:true", "debug:monitor-installed"}));

  ASSERT_TRUE(injectKeys(server.number, scenario.steps));
  Lines seen = readLines(helper, scenario.expected.size());
  // Then nothing more: no late down line, no second up line.
  const Lines late = readLines(helper, 1, 400);
  seen.insert(seen.end(), late.begin(), late.end());
  EXPECT_EQ(seen, scenario.expected);

  expectCleanEnd(helper);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, KeysOnX11, testing::ValuesIn(keyScenarios), CaseName());

}  // namespace
