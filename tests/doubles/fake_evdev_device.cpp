#include "tests/doubles/fake_evdev_device.h"

#include <poll.h>

#include <map>

namespace {

std::map<int, FakeEventDevice> devices;
int askedWhileQueued = 0;
int asked = 0;

void noteStateAsked(int fd) {
  pollfd queued{fd, POLLIN, 0};
  if (poll(&queued, 1, 0) > 0 && (queued.revents & POLLIN) != 0) ++askedWhileQueued;
}

}  // namespace

void resetFakeEventDevices() {
  devices.clear();
  askedWhileQueued = 0;
  asked = 0;
}

FakeEventDevice fakeKeyboard() {
  FakeEventDevice device;
  device.types.set(EV_SYN).set(EV_KEY).set(EV_LED).set(EV_REP);
  for (int code = KEY_ESC; code <= KEY_MICMUTE; ++code) device.keys.set(static_cast<std::size_t>(code));
  return device;
}

void setFakeEventDevice(int fd, const FakeEventDevice& device) { devices[fd] = device; }

int fakeStateAskedWhileQueued() { return askedWhileQueued; }
int fakeStateAsked() { return asked; }

EventTypeBits evdevEventTypes(int fd) { return devices[fd].types; }

KeyBits evdevKeysPresent(int fd) { return devices[fd].keys; }

KeyBits evdevKeysHeld(int fd) {
  ++asked;
  noteStateAsked(fd);
  return devices[fd].held;
}

bool evdevCapsLockLit(int fd) {
  noteStateAsked(fd);
  return devices[fd].capsLockLit;
}
