// Keys typed on a real X server, as the built helper's X11 monitor
// translates them: XTest presses on a private Xvfb, the helper listening
// through its pipes.
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

constexpr unsigned long capsLock = 65536, option = 524288;

// What X11 adds to the key state: keysyms, XKB's Caps Lock and keymap
// changes. What the tracker makes of the events is its own table's
// (tests/tracker_test.cpp); a whole hold through X is display_test.cpp's.
// Rows press nothing that could arm unless they mean to, so that no timing
// decides them.
const KeyScenario keyScenarios[] = {
    {"each modifier key on its own bit, on both sides", "option",
     {"+Shift_L", "+Shift_R", "+Control_L", "+Control_R", "+Super_L", "+Super_R", "-Shift_L", "-Shift_R", "-Control_L",
      "-Control_R", "-Super_L", "-Super_R"},
     eachModifierInTurnLines()},
    // AltGr: the option key of a Mac keyboard's right side.
    {"both Alt keys and AltGr are option", "shift",
     {"+Alt_L", "+ISO_Level3_Shift", "+Alt_R", "-Alt_L", "-ISO_Level3_Shift", "-Alt_R"},
     {flagsLine(option, false, true), flagsLine(option, false, true), flagsLine(option, false, true),
      flagsLine(option, false, true), flagsLine(option, false, true), flagsLine(0, false, false)}},
    // Were it not a key down, option would arm while it is held.
    {"a typed key is a key down, its release nothing", "option", {"+Alt_L", "a", "300", "-Alt_L"},
     {flagsLine(option, true, false), flagsLine(0, false, false)}},
    // The lock engages on the first press and lets go on the second release,
    // before the server's state event says so.
    {"Caps Lock engaged by its key", "option", {"Caps_Lock", "+Alt_L", "-Alt_L", "Caps_Lock"},
     {flagsLine(capsLock, false, true), flagsLine(capsLock, false, true), flagsLine(capsLock | option, true, true),
      flagsLine(capsLock, false, true), flagsLine(capsLock, false, true), flagsLine(0, false, false)}},
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
  ASSERT_EQ(readLines(helper, 4), openingLines(true, scenario.watchedName));

  ASSERT_TRUE(injectKeys(server.number, scenario.steps));
  // Then nothing more: no late down line, no second up line.
  EXPECT_EQ(readLinesThenQuiet(helper, scenario.expected.size(), 400), scenario.expected);

  expectCleanEnd(helper);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, KeysOnX11, testing::ValuesIn(keyScenarios), CaseName());

}  // namespace
