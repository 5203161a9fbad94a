// Keyboards read from the kernel's event devices: the records each sends,
// told to the key state (key_state.h) as its keys and its Caps Lock light,
// each keyboard a source of its own. The event loop, the device files and
// hotplug are evdev_monitor.cpp's; the ioctls are asked through
// evdev_device.h. Main thread only.
#pragma once

#include <cstddef>

// A keyboard has the letter keys or a key that stands for a modifier.
bool evdevIsKeyboard(int fd);

// Starts reading the keyboard, from the keys held on it now and its Caps
// Lock light.
void evdevAddKeyboard(int fd);
// Reads and handles what the keyboard has sent, in pieces of any size.
// False once it is gone (unplugged): then remove it.
bool evdevReadKeyboard(int fd);
// Forgets the keyboard, as if its keys were let go: a hold it took part in
// ends as a release would. Does not close fd.
void evdevRemoveKeyboard(int fd);
std::size_t evdevKeyboardCount();

