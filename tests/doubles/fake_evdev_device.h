// The event devices' ioctls answered from a table the test fills, keyed by
// descriptor, so that the key state can be tested on pipes.
#pragma once

#include "platform/linux/evdev_device.h"

struct FakeEventDevice {
  EventTypeBits types;
  KeyBits keys;
  KeyBits held;
  bool capsLockLit = false;
};

void resetFakeEventDevices();
// A keyboard with the letters, the modifiers and EV_KEY, nothing held.
FakeEventDevice fakeKeyboard();
void setFakeEventDevice(int fd, const FakeEventDevice& device);
// How often the held keys or the light were asked while records were still
// queued on the descriptor: on a real device those queued key events would
// be dropped by the asking.
int fakeStateAskedWhileQueued();
// How often the held keys were asked.
int fakeStateAsked();
