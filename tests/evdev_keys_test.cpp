// Keyboards' records as the event devices' monitor reads them: kernel
// records fed through pipes, whole and in pieces, with the device's ioctls
// answered from a table, heard through the key state (key_state_test.cpp
// has what that makes of each change).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/key_events.h"
#include "platform/linux/evdev_keys.h"
#include "platform/linux/key_state.h"
#include "tests/case_names.h"
#include "tests/heard_events.h"
#include "tests/doubles/fake_evdev_device.h"

namespace {

struct Record {
  unsigned short type;
  unsigned short code;
  std::int32_t value;
};

std::string bytesOf(const std::vector<Record>& records) {
  std::string bytes;
  for (const Record& record : records) {
    input_event event{};
    event.type = record.type;
    event.code = record.code;
    event.value = record.value;
    bytes.append(reinterpret_cast<const char*>(&event), sizeof event);
  }
  return bytes;
}

// A key event and the report that ends its frame, as a keyboard sends them.
std::vector<Record> key(unsigned short code, std::int32_t value) {
  return {{EV_KEY, code, value}, {EV_SYN, SYN_REPORT, 0}};
}

std::vector<Record> light(bool on) { return {{EV_LED, LED_CAPSL, on ? 1 : 0}, {EV_SYN, SYN_REPORT, 0}}; }

std::vector<Record> operator+(std::vector<Record> first, const std::vector<Record>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// A keyboard is a pipe: the test writes the kernel's records into one end,
// the helper's code reads the other.
struct PipeKeyboard {
  int readEnd = -1;
  int writeEnd = -1;
};

class EvdevKeys : public testing::Test {
 protected:
  void SetUp() override {
    resetFakeEventDevices();
    takeHeard();
  }

  void TearDown() override {
    for (PipeKeyboard& keyboard : keyboards) {
      evdevRemoveKeyboard(keyboard.readEnd);
      close(keyboard.readEnd);
      if (keyboard.writeEnd >= 0) close(keyboard.writeEnd);
    }
    keyStateListen(nullptr);
  }

  PipeKeyboard& plug(const FakeEventDevice& device = fakeKeyboard()) {
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    keyboards.push_back({fds[0], fds[1]});
    setFakeEventDevice(fds[0], device);
    evdevAddKeyboard(fds[0]);
    return keyboards.back();
  }

  // Writes the records, then has them read in pieces of chunkBytes.
  static void send(const PipeKeyboard& keyboard, const std::vector<Record>& records, std::size_t chunkBytes = 0) {
    const std::string bytes = bytesOf(records);
    if (chunkBytes == 0) chunkBytes = bytes.size();
    for (std::size_t offset = 0; offset < bytes.size(); offset += chunkBytes) {
      const std::size_t length = std::min(chunkBytes, bytes.size() - offset);
      ASSERT_EQ(write(keyboard.writeEnd, bytes.data() + offset, length), static_cast<ssize_t>(length));
      ASSERT_TRUE(evdevReadKeyboard(keyboard.readEnd));
    }
  }

  // A deque, so that a keyboard stays where it is while more are plugged.
  std::deque<PipeKeyboard> keyboards;
};

struct DecodingCase {
  const char* name;
  std::vector<Record> records;
  Events expected;
};

void PrintTo(const DecodingCase& decoding, std::ostream* out) { *out << decoding.name; }

const DecodingCase decodingCases[] = {
    {"a modifier pressed and released", key(KEY_LEFTALT, 1) + key(KEY_LEFTALT, 0),
     {flags(optionFlag), flags(0)}},
    {"each modifier on its own bit",
     key(KEY_LEFTSHIFT, 1) + key(KEY_RIGHTCTRL, 1) + key(KEY_LEFTALT, 1) + key(KEY_RIGHTMETA, 1) + key(KEY_FN, 1) +
         key(KEY_LEFTSHIFT, 0),
     {flags(shiftFlag), flags(shiftFlag | controlFlag), flags(shiftFlag | controlFlag | optionFlag),
      flags(shiftFlag | controlFlag | optionFlag | commandFlag),
      flags(shiftFlag | controlFlag | optionFlag | commandFlag | functionFlag),
      flags(controlFlag | optionFlag | commandFlag | functionFlag)}},
    // Every press and release is told, also when the flags stay.
    {"left and right count alike",
     key(KEY_LEFTALT, 1) + key(KEY_RIGHTALT, 1) + key(KEY_LEFTALT, 0) + key(KEY_RIGHTALT, 0),
     {flags(optionFlag), flags(optionFlag), flags(optionFlag), flags(0)}},
    {"a typed key is a key down, its release nothing",
     key(KEY_LEFTCTRL, 1) + key(KEY_A, 1) + key(KEY_A, 0) + key(KEY_ENTER, 1), {flags(controlFlag), keyDown, keyDown}},
    {"the kernel's repeats are no presses",
     key(KEY_LEFTALT, 1) + key(KEY_LEFTALT, 2) + key(KEY_A, 1) + key(KEY_A, 2) + key(KEY_A, 2) + key(KEY_LEFTALT, 2),
     {flags(optionFlag), keyDown}},
    // The light shows the desktop's lock, whatever the key is mapped to.
    {"Caps Lock types; the light gives the flag",
     key(KEY_CAPSLOCK, 1) + key(KEY_CAPSLOCK, 0) + light(true) + light(true) + key(KEY_LEFTALT, 1) + light(false),
     {keyDown, flags(capsLockFlag), flags(capsLockFlag | optionFlag), flags(optionFlag)}},
    {"buttons are no keys",
     key(BTN_LEFT, 1) + key(BTN_TOUCH, 1) + key(BTN_DPAD_UP, 1) + key(BTN_TRIGGER_HAPPY1, 1) + key(KEY_OK, 1) +
         key(KEY_VOLUMEUP, 1),
     {keyDown, keyDown}},
    {"other events change nothing",
     std::vector<Record>{{EV_MSC, MSC_SCAN, 0x70004}, {EV_REL, REL_X, 3}, {EV_LED, LED_NUML, 1}, {EV_SW, 0, 1},
                         {EV_SYN, SYN_REPORT, 0}} +
         key(KEY_LEFTMETA, 1),
     {flags(commandFlag)}},
};

class Decoding : public EvdevKeys, public testing::WithParamInterface<DecodingCase> {};

// The kernel hands out whole records; a pipe may split them anywhere, and
// the result must not depend on where.
TEST_P(Decoding, GivesTheSameEventsInPiecesOfAnySize) {
  const DecodingCase& decoding = GetParam();
  for (std::size_t chunkBytes : {std::size_t{0}, std::size_t{1}, std::size_t{5}, sizeof(input_event) - 1,
                                 sizeof(input_event), sizeof(input_event) + 1, 2 * sizeof(input_event) + 7}) {
    PipeKeyboard& keyboard = plug();
    keyStateListen(recordEvent);
    send(keyboard, decoding.records, chunkBytes);
    EXPECT_EQ(takeHeard(), decoding.expected) << "in pieces of " << chunkBytes << " bytes";
    TearDown();
    keyboards.clear();
    takeHeard();
  }
}

INSTANTIATE_TEST_SUITE_P(Records, Decoding, testing::ValuesIn(decodingCases), CaseName());

TEST_F(EvdevKeys, AfterADropTheQueueIsReadToTheEndAndTheStateAskedOnce) {
  PipeKeyboard& keyboard = plug();
  keyStateListen(recordEvent);
  send(keyboard, key(KEY_LEFTALT, 1));
  EXPECT_EQ(takeHeard(), Events{flags(optionFlag)});

  // What follows the drop is more than one read takes, and describes
  // changes to a state the helper no longer knows.
  std::vector<Record> burst = {{EV_SYN, SYN_DROPPED, 0}};
  for (int letter = 0; letter < 60; ++letter) burst = burst + key(KEY_A, letter % 2 == 0 ? 1 : 0);
  burst = burst + key(KEY_LEFTALT, 0) + key(KEY_LEFTSHIFT, 1);
  FakeEventDevice now = fakeKeyboard();
  now.held.set(KEY_RIGHTSHIFT);
  now.capsLockLit = true;
  setFakeEventDevice(keyboard.readEnd, now);
  const int askedBefore = fakeStateAsked();
  send(keyboard, burst);

  EXPECT_EQ(takeHeard(), Events{flags(shiftFlag | capsLockFlag)}) << "the true state, once";
  EXPECT_EQ(fakeStateAsked() - askedBefore, 1);
  EXPECT_EQ(fakeStateAskedWhileQueued(), 0) << "asked before the queue was read to its end";

  // From there on, records count again.
  send(keyboard, key(KEY_RIGHTSHIFT, 0) + key(KEY_B, 1));
  EXPECT_EQ(takeHeard(), (Events{flags(capsLockFlag), keyDown}));
}

TEST_F(EvdevKeys, ADropThatChangedNothingIsNotTold) {
  PipeKeyboard& keyboard = plug();
  keyStateListen(recordEvent);
  send(keyboard, std::vector<Record>{{EV_SYN, SYN_DROPPED, 0}} + key(KEY_A, 0) + key(KEY_LEFTALT, 1));
  EXPECT_EQ(takeHeard(), Events{});
}

// The same key held on two keyboards is two keys, and so are the lights.
TEST_F(EvdevKeys, EachKeyboardIsASourceOfItsOwn) {
  PipeKeyboard& first = plug();
  PipeKeyboard& second = plug();
  keyStateListen(recordEvent);
  send(first, key(KEY_LEFTALT, 1) + light(true));
  send(second, key(KEY_LEFTALT, 1) + light(true));
  send(first, key(KEY_LEFTALT, 0) + light(false));
  EXPECT_EQ(takeHeard(), (Events{flags(optionFlag), flags(optionFlag | capsLockFlag), flags(optionFlag | capsLockFlag),
                                 flags(optionFlag | capsLockFlag)}));
  // Gone, it takes its keys and its light with it, as one event.
  evdevRemoveKeyboard(second.readEnd);
  EXPECT_EQ(takeHeard(), Events{flags(0)});
  evdevRemoveKeyboard(second.readEnd);
  EXPECT_EQ(takeHeard(), Events{}) << "removed twice";
}

TEST_F(EvdevKeys, KeysHeldWhenAKeyboardComesCount) {
  FakeEventDevice holding = fakeKeyboard();
  holding.held.set(KEY_LEFTSHIFT);
  plug(holding);
  // Known before the monitor is there: taken as known, as X11 does.
  keyStateListen(recordEvent);
  EXPECT_EQ(takeHeard(), Events{});
  EXPECT_EQ(keyStateFlags(), shiftFlag);
  // Plugged while it listens: told at once.
  holding.held.reset().set(KEY_RIGHTMETA);
  holding.capsLockLit = true;
  plug(holding);
  EXPECT_EQ(takeHeard(), Events{flags(shiftFlag | commandFlag | capsLockFlag)});
  plug();
  EXPECT_EQ(takeHeard(), Events{});
}

TEST_F(EvdevKeys, AKeyboardThatIsGoneReadsFalse) {
  PipeKeyboard& keyboard = plug();
  close(keyboard.writeEnd);
  keyboard.writeEnd = -1;
  EXPECT_FALSE(evdevReadKeyboard(keyboard.readEnd));
  EXPECT_FALSE(evdevReadKeyboard(-1)) << "not a keyboard it keeps";
}

struct DeviceCase {
  const char* name;
  std::vector<int> types;
  std::vector<int> keys;
  bool keyboard;
};

void PrintTo(const DeviceCase& device, std::ostream* out) { *out << device.name; }

const DeviceCase deviceCases[] = {
    {"letters", {EV_KEY}, {KEY_A, KEY_Z, KEY_SPACE}, true},
    {"modifiers only, as a pedal", {EV_KEY}, {KEY_LEFTSHIFT}, true},
    {"an Fn key only", {EV_KEY}, {KEY_FN}, true},
    {"a power button", {EV_KEY}, {KEY_POWER}, false},
    {"media keys", {EV_KEY}, {KEY_VOLUMEUP, KEY_PLAYPAUSE}, false},
    {"a mouse", {EV_KEY, EV_REL}, {BTN_LEFT, BTN_RIGHT}, false},
    {"keys without EV_KEY", {EV_SW}, {KEY_A, KEY_Z}, false},
};

class Classification : public testing::TestWithParam<DeviceCase> {};

TEST_P(Classification, TellsKeyboardsFromOtherDevices) {
  resetFakeEventDevices();
  FakeEventDevice device;
  for (int type : GetParam().types) device.types.set(static_cast<std::size_t>(type));
  for (int code : GetParam().keys) device.keys.set(static_cast<std::size_t>(code));
  setFakeEventDevice(3, device);
  EXPECT_EQ(evdevIsKeyboard(3), GetParam().keyboard);
}

INSTANTIATE_TEST_SUITE_P(Devices, Classification, testing::ValuesIn(deviceCases), CaseName());

}  // namespace
