// What the event devices send, told to the key state (key_state.h). What
// the helper can know differs from X11 in three ways: there is no keymap, so
// keys count by the kernel's codes (the keymap only remaps them, rarely a
// modifier); the Caps Lock state is the desktop's, shown by the keyboard's
// light; and the kernel repeats held keys itself, which are not presses.
#include "platform/linux/evdev_keys.h"

#include <errno.h>
#include <linux/input.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/key_events.h"
#include "platform/linux/evdev_device.h"
#include "platform/linux/key_state.h"

namespace {

struct ModifierKey {
  unsigned short code;
  ModifierFlags flag;
};

// Left and right count alike, as on X11. Right Alt is AltGr on many layouts,
// and X11 counts that as option too. Caps Lock is not here: its flag comes
// from the light, which follows the lock and not the key.
constexpr std::array<ModifierKey, 9> modifierKeys = {{
    {KEY_LEFTSHIFT, shiftFlag},
    {KEY_RIGHTSHIFT, shiftFlag},
    {KEY_LEFTCTRL, controlFlag},
    {KEY_RIGHTCTRL, controlFlag},
    {KEY_LEFTALT, optionFlag},
    {KEY_RIGHTALT, optionFlag},
    {KEY_LEFTMETA, commandFlag},
    {KEY_RIGHTMETA, commandFlag},
    {KEY_FN, functionFlag},  // only the keyboards whose firmware reports it
}};

// What is read from a keyboard; what its keys hold is the key state's, the
// keyboard's descriptor its source.
struct Keyboard {
  int fd = -1;
  // Since the kernel said it dropped events, until the state is read again.
  bool discarding = false;
  // A record split across reads (only a pipe splits them; the kernel never does).
  std::array<unsigned char, sizeof(input_event)> partial{};
  std::size_t partialBytes = 0;
};

std::vector<Keyboard> keyboards;

ModifierFlags modifierFlag(unsigned code) {
  for (const ModifierKey& key : modifierKeys) {
    if (key.code == code) return key.flag;
  }
  return 0;
}

// EV_KEY also carries the buttons of mice, pads and joysticks, which are
// not keys anyone types.
bool isKeyboardKey(unsigned code) {
  if (code < BTN_MISC) return true;
  if (code < KEY_OK) return false;
  if (code >= BTN_DPAD_UP && code <= BTN_DPAD_RIGHT) return false;
  return code < BTN_TRIGGER_HAPPY;
}

std::vector<HeldKey> heldModifiers(const KeyBits& keys) {
  std::vector<HeldKey> held;
  for (const ModifierKey& key : modifierKeys) {
    if (keys.test(key.code)) held.push_back({key.code, key.flag});
  }
  return held;
}

Keyboard* findKeyboard(int fd) {
  const auto found = std::find_if(keyboards.begin(), keyboards.end(), [fd](const Keyboard& k) { return k.fd == fd; });
  return found == keyboards.end() ? nullptr : &*found;
}

void onKey(const Keyboard& keyboard, unsigned code, std::int32_t value) {
  // 2 is the kernel repeating a key that is held.
  if (value == 0) {
    keyStateUp(keyboard.fd, code);
  } else if (value == 1) {
    const ModifierFlags flag = modifierFlag(code);
    if (flag != 0 || isKeyboardKey(code)) keyStateDown(keyboard.fd, code, flag);
  }
}

void onRecord(Keyboard& keyboard, const input_event& record) {
  if (record.type == EV_SYN && record.code == SYN_DROPPED) keyboard.discarding = true;
  if (keyboard.discarding) return;
  if (record.type == EV_KEY) {
    onKey(keyboard, record.code, record.value);
  } else if (record.type == EV_LED && record.code == LED_CAPSL) {
    keyStateLock(keyboard.fd, record.value != 0);
  }
}

// After a drop, the records still queued describe changes to a state the
// helper no longer knows, and the state ioctls describe the state after
// them, so those records have all been read and thrown away by now. Asking
// first would be worse: the kernel drops the queued key events when asked,
// but what arrives between the answer and the end of the reading would be
// thrown away without being counted in the state. Asked last, whatever
// arrives meanwhile is in the answer, and whatever comes after it is queued
// on top of it. The transitions in the gap are lost either way; the state
// is not.
void resync(Keyboard& keyboard) {
  keyboard.discarding = false;
  const std::vector<HeldKey> held = heldModifiers(evdevKeysHeld(keyboard.fd));
  keyStateResync(keyboard.fd, held, evdevCapsLockLit(keyboard.fd));
}

}  // namespace

bool evdevIsKeyboard(int fd) {
  if (!evdevEventTypes(fd).test(EV_KEY)) return false;
  const KeyBits keys = evdevKeysPresent(fd);
  if (keys.test(KEY_A) && keys.test(KEY_Z)) return true;
  return std::any_of(modifierKeys.begin(), modifierKeys.end(), [&keys](const ModifierKey& key) { return keys.test(key.code); });
}

void evdevAddKeyboard(int fd) {
  Keyboard keyboard;
  keyboard.fd = fd;
  keyboards.push_back(keyboard);
  const std::vector<HeldKey> held = heldModifiers(evdevKeysHeld(fd));
  keyStateResync(fd, held, evdevCapsLockLit(fd));
}

bool evdevReadKeyboard(int fd) {
  Keyboard* keyboard = findKeyboard(fd);
  if (keyboard == nullptr) return false;
  // The handler only feeds the tracker, which never adds or removes a
  // keyboard, so keyboard stays valid throughout.
  constexpr std::size_t recordSize = sizeof(input_event);
  std::array<unsigned char, recordSize * 64> bytes;
  for (;;) {
    const std::size_t carried = keyboard->partialBytes;
    std::memcpy(bytes.data(), keyboard->partial.data(), carried);
    const std::size_t wanted = bytes.size() - carried;
    const ssize_t got = read(fd, bytes.data() + carried, wanted);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) break;
    if (got <= 0) return false;  // ENODEV once unplugged
    const std::size_t available = carried + static_cast<std::size_t>(got);
    const std::size_t records = available / recordSize;
    for (std::size_t index = 0; index < records; ++index) {
      input_event record;
      std::memcpy(&record, bytes.data() + index * recordSize, recordSize);
      onRecord(*keyboard, record);
    }
    keyboard->partialBytes = available - records * recordSize;
    std::memcpy(keyboard->partial.data(), bytes.data() + records * recordSize, keyboard->partialBytes);
    // Less than asked for means the queue was empty: no second read just to
    // hear that, except to empty it before a resync.
    if (static_cast<std::size_t>(got) < wanted && !keyboard->discarding) break;
  }
  if (keyboard->discarding) resync(*keyboard);
  return true;
}

void evdevRemoveKeyboard(int fd) {
  const auto gone = std::remove_if(keyboards.begin(), keyboards.end(), [fd](const Keyboard& k) { return k.fd == fd; });
  if (gone == keyboards.end()) return;
  keyboards.erase(gone, keyboards.end());
  keyStateForget(fd);
}

std::size_t evdevKeyboardCount() { return keyboards.size(); }

