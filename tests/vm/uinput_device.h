// Key devices made through uinput, which the kernel treats as it treats
// real ones: for the tests and the benchmark inside the virtual machine.
#pragma once

#include <string>
#include <vector>

struct VirtualKeyboard {
  int uinput = -1;   // the device's side, where its key events are written
  std::string node;  // /dev/input/eventN
};

// The keys of an ordinary keyboard, and Fn.
std::vector<int> keyboardKeys();
// A device with these keys, a Caps Lock light and the kernel's own key
// repeat. Its node is as the kernel makes it: root's alone. On failure the
// node is empty and errno tells why.
VirtualKeyboard plugKeyDevice(const std::string& name, const std::vector<int>& keys);
void unplugKeyDevice(VirtualKeyboard& device);
// One key event and the report that ends it: value 1 press, 0 release, 2 repeat.
bool sendKeyEvent(const VirtualKeyboard& device, int code, int value);
// The Caps Lock light, set through the event node as a desktop's input
// library sets it.
bool setCapsLockLight(const VirtualKeyboard& device, bool on);

// The kernel's console acts on keys itself, and sets the keyboards' lights
// when it toggles its own Caps Lock, at moments of its own. A Wayland
// desktop turns that off (K_OFF) and sets the lights from its keymap.
bool turnConsoleKeyboardOff();
