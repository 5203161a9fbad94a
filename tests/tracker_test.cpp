// The hold-to-arm tracker, driven by scripted events on a virtual clock.
#include <gtest/gtest.h>

#include "tests/case_names.h"
#include "tests/expected_lines.h"

#include <string>
#include <vector>

#include "hotkey/modifier.h"
#include "hotkey/tracker.h"
#include "tests/doubles/captured_output.h"
#include "tests/doubles/fake_platform.h"
#include "tests/fresh_tracker.h"

namespace {

struct Step {
  enum class Kind { flags, keyDown, wait, otherEvent } kind;
  ModifierFlags flags;
  std::int64_t ms;
};

Step flags(ModifierFlags value) { return {Step::Kind::flags, value, 0}; }
Step keyDown() { return {Step::Kind::keyDown, 0, 0}; }
Step wait(std::int64_t ms) { return {Step::Kind::wait, 0, ms}; }
Step otherEvent(ModifierFlags value) { return {Step::Kind::otherEvent, value, 0}; }

// Device-dependent low bits, as a left or right key sets them.
constexpr ModifierFlags leftOptionBit = 0x20;
constexpr ModifierFlags rightOptionBit = 0x40;
constexpr ModifierFlags numericPadBit = 1ULL << 21;
constexpr ModifierFlags helpBit = 1ULL << 22;

struct Scenario {
  const char* name;
  const char* watchedName;
  std::vector<Step> steps;
  std::vector<std::string> expected;
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

class TrackerScenario : public testing::TestWithParam<Scenario> {};

int statesHeld() { return (isDown ? 1 : 0) + (pendingArm != nullptr ? 1 : 0) + (armBlocked ? 1 : 0); }

TEST_P(TrackerScenario, WritesExactlyTheExpectedLines) {
  const Scenario& scenario = GetParam();
  startFreshTracker(scenario.watchedName);

  for (const Step& step : scenario.steps) {
    switch (step.kind) {
      case Step::Kind::flags: onMonitorEvent(flagsChangedEventType, step.flags); break;
      case Step::Kind::keyDown: onMonitorEvent(keyDownEventType, 0); break;
      case Step::Kind::otherEvent: onMonitorEvent(11, step.flags); break;
      case Step::Kind::wait: advanceFakeClock(step.ms); break;
    }
    ASSERT_LE(statesHeld(), 1) << "down, pending and blocked are exclusive";
    ASSERT_LE(fakeTasksPending(), 1) << "at most one arm task";
  }
  EXPECT_EQ(takeOutputLines(), scenario.expected);
  for (const std::string& call : fakePlatformCalls()) EXPECT_NE(call, "stale-cancel");
}

const ModifierFlags opt = optionFlag | leftOptionBit;

INSTANTIATE_TEST_SUITE_P(
    Tracker, TrackerScenario,
    testing::Values(
        Scenario{"tap shorter than the delay writes no down line",
                 "option",
                 {flags(opt), wait(149), flags(0), wait(1000)},
                 {flagsLine(524288, true, false), flagsLine(0, false, false)}},
        Scenario{"hold of exactly the delay arms",
                 "option",
                 {flags(opt), wait(150), wait(500), flags(0)},
                 {flagsLine(524288, true, false), "option:down", flagsLine(0, false, false), "option:up"}},
        Scenario{"combination while down ends the hold and blocks until release",
                 "option",
                 {flags(opt), wait(200), flags(opt | commandFlag), flags(opt), wait(300), flags(0), flags(opt),
                  wait(150)},
                 {flagsLine(524288, true, false), "option:down", flagsLine(1572864, true, true), "option:up",
                  flagsLine(524288, true, false), flagsLine(0, false, false), flagsLine(524288, true, false),
                  "option:down"}},
        Scenario{"typing during the delay cancels the arm and blocks until release",
                 "option",
                 {flags(opt), wait(100), keyDown(), wait(500), flags(0), flags(opt), wait(150)},
                 {flagsLine(524288, true, false), flagsLine(0, false, false), flagsLine(524288, true, false),
                  "option:down"}},
        Scenario{"typing while down writes the up line once, without a debug line",
                 "option",
                 {flags(opt), wait(150), keyDown(), keyDown(), keyDown(), flags(0)},
                 {flagsLine(524288, true, false), "option:down", "option:up", flagsLine(0, false, false)}},
        Scenario{"an engaged caps lock never arms",
                 "option",
                 {flags(opt | capsLockFlag), wait(300), flags(capsLockFlag), flags(opt | capsLockFlag), wait(300)},
                 {flagsLine(589824, true, true), flagsLine(65536, false, true), flagsLine(589824, true, true)}},
        Scenario{"the second option key during a hold neither re-arms nor ends it",
                 "option",
                 {flags(opt), wait(100), flags(opt | rightOptionBit), wait(50), flags(opt), wait(300),
                  flags(optionFlag | rightOptionBit), flags(0)},
                 {flagsLine(524288, true, false), flagsLine(524288, true, false), "option:down",
                  flagsLine(524288, true, false), flagsLine(524288, true, false), flagsLine(0, false, false),
                  "option:up"}},
        Scenario{"a key-down while idle or blocked changes nothing",
                 "option",
                 {keyDown(), flags(opt | shiftFlag), keyDown(), flags(opt), wait(300), flags(0), flags(opt),
                  wait(150)},
                 {flagsLine(655360, true, true), flagsLine(524288, true, false), flagsLine(0, false, false),
                  flagsLine(524288, true, false), "option:down"}},
        Scenario{"bits outside the mask read as a release",
                 "option",
                 {flags(opt), wait(100), flags(numericPadBit | helpBit | 0xFF), wait(300)},
                 {flagsLine(524288, true, false), flagsLine(0, false, false)}},
        Scenario{"another modifier held first blocks the watched key",
                 "option",
                 {flags(controlFlag), flags(controlFlag | opt), wait(300), flags(opt), wait(300), flags(0)},
                 {flagsLine(262144, false, true), flagsLine(786432, true, true), flagsLine(524288, true, false),
                  flagsLine(0, false, false)}},
        Scenario{"a re-press after a quick release arms from its own press",
                 "option",
                 {flags(opt), wait(100), flags(0), wait(20), flags(opt), wait(100), flags(opt), wait(49), wait(1)},
                 {flagsLine(524288, true, false), flagsLine(0, false, false), flagsLine(524288, true, false),
                  flagsLine(524288, true, false), "option:down"}},
        Scenario{"events of other types are ignored",
                 "option",
                 {flags(opt), otherEvent(0), otherEvent(commandFlag), wait(150)},
                 {flagsLine(524288, true, false), "option:down"}},
        Scenario{"function is watched at bit 23",
                 "function",
                 {flags(functionFlag), wait(150), flags(0)},
                 {flagsLine(8388608, true, false), "function:down", flagsLine(0, false, false), "function:up"}},
        Scenario{"option under a name the table does not know keeps that name",
                 "Command",
                 {flags(commandFlag), wait(200), flags(0), flags(opt), wait(150), flags(0)},
                 {flagsLine(1048576, false, true), flagsLine(0, false, false), flagsLine(524288, true, false),
                  "Command:down", flagsLine(0, false, false), "Command:up"}},
        Scenario{"an empty name watches option and writes bare suffixes",
                 "",
                 {flags(opt), wait(150), flags(0)},
                 {flagsLine(524288, true, false), ":down", flagsLine(0, false, false), ":up"}},
        Scenario{"option counts as another modifier when shift is watched",
                 "shift",
                 {flags(shiftFlag | opt), wait(200), flags(shiftFlag), wait(150), flags(0)},
                 {flagsLine(655360, true, true), flagsLine(131072, true, false), flagsLine(0, false, false)}}),
    CaseName());

TEST(Tracker, ArmTaskIsScheduledForTheDelayFromThePress) {
  startFreshTracker("option");
  advanceFakeClock(1000);
  onMonitorEvent(flagsChangedEventType, optionFlag);
  advanceFakeClock(149);
  EXPECT_FALSE(isDown);
  EXPECT_NE(pendingArm, nullptr);
  advanceFakeClock(1);
  EXPECT_TRUE(isDown);
  EXPECT_EQ(pendingArm, nullptr);
}

}  // namespace
