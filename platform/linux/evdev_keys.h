// Keyboards read from the kernel's event devices: the records each sends,
// the modifier keys held on each and its Caps Lock light, and the flags they
// all make together. This turns them into the monitor's two kinds of event
// and writes nothing itself. The event loop, the device files and hotplug are
// evdev_monitor.cpp's; the ioctls are asked through evdev_device.h.
// Main thread only.
#pragma once

#include <cstddef>

#include "hotkey/modifier.h"
#include "platform/platform.h"

// A keyboard has the letter keys or a key that stands for a modifier.
bool evdevIsKeyboard(int fd);

// Starts keeping the keyboard's state, from the keys held on it now and its
// Caps Lock light. If that changes the flags, the handler hears of it.
void evdevAddKeyboard(int fd);
// Reads and handles what the keyboard has sent, in pieces of any size.
// False once it is gone (unplugged): then remove it.
bool evdevReadKeyboard(int fd);
// Forgets the keyboard, as if its keys were let go: a hold it took part in
// ends as a release would. Does not close fd.
void evdevRemoveKeyboard(int fd);
std::size_t evdevKeyboardCount();

// Events go to handler from now on. The flags as they stand are taken as
// known, as they would be on X11 when listening starts.
void evdevSetMonitorHandler(MonitorHandler handler);
// The modifier keys held on all keyboards, and caps lock while a light shows it.
ModifierFlags evdevCurrentFlags();
