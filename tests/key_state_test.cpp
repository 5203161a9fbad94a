// The key state both Linux monitors feed: what each kind of change is told
// as, over one table of named cases. The monitors' own translation of what
// their devices send is tested apart (evdev_keys_test.cpp, and X11's under
// Xvfb in tests/desktop/keys_test.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/key_events.h"
#include "platform/linux/key_state.h"
#include "tests/case_names.h"
#include "tests/heard_events.h"

namespace {

struct Step {
  enum class Kind { down, up, lock, resync, forget, listen } kind;
  KeySource source;
  unsigned key;
  ModifierFlags flag;
  bool locked;
  std::vector<HeldKey> held;
};

// Sources 1 and 2 stand for two keyboards, or a connection; keys for codes.
Step down(KeySource source, unsigned key, ModifierFlags flag) { return {Step::Kind::down, source, key, flag, false, {}}; }
Step up(KeySource source, unsigned key) { return {Step::Kind::up, source, key, 0, false, {}}; }
Step lock(KeySource source, bool locked) { return {Step::Kind::lock, source, 0, 0, locked, {}}; }
Step resync(KeySource source, std::vector<HeldKey> held, bool locked) {
  return {Step::Kind::resync, source, 0, 0, locked, std::move(held)};
}
Step forget(KeySource source) { return {Step::Kind::forget, source, 0, 0, false, {}}; }
Step listen() { return {Step::Kind::listen, 0, 0, 0, false, {}}; }

constexpr unsigned leftAlt = 64, rightAlt = 108, leftShift = 50, controlKey = 37, capsKey = 66, letterA = 38;

struct KeyStateCase {
  const char* name;
  bool listeningAtStart;
  std::vector<Step> steps;
  Events expected;
};

void PrintTo(const KeyStateCase& keyStateCase, std::ostream* out) { *out << keyStateCase.name; }

const KeyStateCase keyStateCases[] = {
    {"a modifier's press and release, each with the flags after it", true,
     {down(1, leftAlt, optionFlag), down(1, leftShift, shiftFlag), up(1, leftAlt), up(1, leftShift)},
     {flags(optionFlag), flags(optionFlag | shiftFlag), flags(shiftFlag), flags(0)}},
    {"a typing key's press is a key down, its release nothing", true,
     {down(1, leftShift, shiftFlag), down(1, letterA, 0), up(1, letterA)}, {flags(shiftFlag), keyDown}},
    // The tracker must hear the other side's key, which changes no flag.
    {"the second key of a flag is told though the flags stay", true,
     {down(1, leftAlt, optionFlag), down(1, rightAlt, optionFlag), up(1, leftAlt), up(1, rightAlt)},
     {flags(optionFlag), flags(optionFlag), flags(optionFlag), flags(0)}},
    {"a release never seen pressed is nothing", true, {up(1, leftAlt), up(2, capsKey)}, {}},
    // XKB's Caps Lock action: a press engages the lock, a release lets go
    // only of a lock that was engaged before that press.
    {"Caps Lock key: engaged at the first press, let go at the second release", true,
     {down(1, capsKey, capsLockFlag), up(1, capsKey), down(1, capsKey, capsLockFlag), up(1, capsKey)},
     {flags(capsLockFlag), flags(capsLockFlag), flags(capsLockFlag), flags(0)}},
    {"the source's word agreeing with the Caps Lock key is not told again", true,
     {down(1, capsKey, capsLockFlag), lock(1, true), up(1, capsKey), lock(1, true)},
     {flags(capsLockFlag), flags(capsLockFlag)}},
    {"the source's word overrules the Caps Lock key", true,
     {down(1, capsKey, capsLockFlag), lock(1, false), up(1, capsKey)},
     {flags(capsLockFlag), flags(0), flags(0)}},
    {"a lock changed without a key is told once each way", true,
     {lock(1, true), lock(1, true), down(1, leftAlt, optionFlag), lock(1, false), lock(1, false)},
     {flags(capsLockFlag), flags(capsLockFlag | optionFlag), flags(optionFlag)}},
    {"sources make one set of flags", true,
     {down(1, leftAlt, optionFlag), down(2, controlKey, controlFlag), lock(2, true), lock(1, true), up(1, leftAlt),
      lock(2, false), lock(1, false)},
     {flags(optionFlag), flags(optionFlag | controlFlag), flags(optionFlag | controlFlag | capsLockFlag),
      flags(controlFlag | capsLockFlag), flags(controlFlag)}},
    {"the same key on two sources is two keys", true,
     {down(1, leftAlt, optionFlag), down(2, leftAlt, optionFlag), up(1, leftAlt), up(2, leftAlt)},
     {flags(optionFlag), flags(optionFlag), flags(optionFlag), flags(0)}},
    {"a source lost mid-hold is one release, and its keys stay let go", true,
     {down(1, leftAlt, optionFlag), forget(1), up(1, leftAlt), forget(1)}, {flags(optionFlag), flags(0)}},
    {"a source forgotten takes its keys and its lock, the others stay", true,
     {down(1, leftAlt, optionFlag), down(2, rightAlt, optionFlag), down(2, leftShift, shiftFlag), lock(2, true),
      forget(2), forget(1)},
     {flags(optionFlag), flags(optionFlag), flags(optionFlag | shiftFlag), flags(optionFlag | shiftFlag | capsLockFlag),
      flags(optionFlag), flags(0)}},
    {"a source forgotten that changes no flag is not told", true,
     {down(1, leftAlt, optionFlag), down(2, rightAlt, optionFlag), forget(2)}, {flags(optionFlag), flags(optionFlag)}},
    {"a lock alone lost with its source is told", true, {lock(1, true), forget(1)}, {flags(capsLockFlag), flags(0)}},
    // After dropped events: what the source says now, once, and from there on
    // its keys as the resync left them.
    {"a resync tells the new state once", true,
     {down(1, leftAlt, optionFlag), resync(1, {{leftShift, shiftFlag}}, true), resync(1, {{leftShift, shiftFlag}}, true),
      up(1, leftAlt), up(1, leftShift)},
     {flags(optionFlag), flags(shiftFlag | capsLockFlag), flags(capsLockFlag)}},
    {"a resync that changes nothing is not told", true,
     {down(1, leftAlt, optionFlag), resync(1, {{leftAlt, optionFlag}}, false), up(1, leftAlt)},
     {flags(optionFlag), flags(0)}},
    {"a resync of one source leaves the others' keys", true,
     {down(2, controlKey, controlFlag), resync(1, {{leftAlt, optionFlag}}, false), resync(1, {}, false)},
     {flags(controlFlag), flags(controlFlag | optionFlag), flags(controlFlag)}},
    {"a source that comes holding keys is told at once", true, {resync(2, {{rightAlt, optionFlag}}, true)},
     {flags(optionFlag | capsLockFlag)}},
    // Their presses were nobody's to hear, so they start nothing; they still
    // spoil a hold, and come up as any held key.
    {"keys held before anyone listened count, untold", false,
     {down(1, leftShift, shiftFlag), resync(2, {{controlKey, controlFlag}}, true), listen(), down(1, leftAlt, optionFlag),
      up(1, leftShift)},
     {flags(shiftFlag | controlFlag | capsLockFlag | optionFlag), flags(controlFlag | capsLockFlag | optionFlag)}},
};

class KeyState : public testing::TestWithParam<KeyStateCase> {
 protected:
  // The sources' state goes with them, untold.
  void SetUp() override {
    keyStateListen(nullptr);
    keyStateForget(1);
    keyStateForget(2);
    takeHeard();
  }
  void TearDown() override { SetUp(); }
};

TEST_P(KeyState, TellsExactlyTheExpectedEvents) {
  const KeyStateCase& keyStateCase = GetParam();
  if (keyStateCase.listeningAtStart) keyStateListen(recordEvent);
  for (const Step& step : keyStateCase.steps) {
    switch (step.kind) {
      case Step::Kind::down: keyStateDown(step.source, step.key, step.flag); break;
      case Step::Kind::up: keyStateUp(step.source, step.key); break;
      case Step::Kind::lock: keyStateLock(step.source, step.locked); break;
      case Step::Kind::resync: keyStateResync(step.source, step.held, step.locked); break;
      case Step::Kind::forget: keyStateForget(step.source); break;
      case Step::Kind::listen: keyStateListen(recordEvent); break;
    }
  }
  const Events heard = takeHeard();
  EXPECT_EQ(heard, keyStateCase.expected);
  // Every change of the flags is told: what the tracker heard last is what
  // is held.
  std::string lastTold = flags(0);
  for (const std::string& event : heard) {
    if (event != keyDown) lastTold = event;
  }
  EXPECT_EQ(flags(keyStateFlags()), lastTold);
}

INSTANTIATE_TEST_SUITE_P(Changes, KeyState, testing::ValuesIn(keyStateCases), CaseName());

}  // namespace
