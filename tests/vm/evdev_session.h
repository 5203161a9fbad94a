// A Wayland session's input as the helper meets it, inside the test machine:
// keyboards made through uinput, their nodes' permissions as udev and a
// seat set them, and the helper run as the session's user.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/expected_lines.h"
#include "tests/helper_process.h"
#include "tests/vm/uinput_device.h"

// The session's user, and the group that may read the keyboards.
inline constexpr uid_t sessionUser = 1000;
inline constexpr gid_t inputGroup = 104;

// A keyboard (uinput_device.h), with the console's keyboard turned off first.
VirtualKeyboard plugKeyboard(const std::string& name);
void unplugKeyboard(VirtualKeyboard& keyboard);
// One key event and the report that ends it: value 1 press, 0 release, 2 repeat.
void sendKey(const VirtualKeyboard& keyboard, int code, int value);

// The Caps Lock light, which the desktop sets on every keyboard for its lock.
void setLight(const VirtualKeyboard& keyboard, bool on);

// root:input, mode 0660, as udev leaves an input device.
void grantAccess(const VirtualKeyboard& keyboard);
// Root's alone again, as when a seat's access moves to another user.
void revokeAccess(const VirtualKeyboard& keyboard);

// Plays steps on the keyboards: "+LEFTALT" presses, "-LEFTALT" releases,
// "A" presses and releases, "LIGHT+" and "LIGHT-" set the Caps Lock light,
// "500" waits 500 ms; "second:" before a step means the second keyboard.
void playSteps(const std::vector<const VirtualKeyboard*>& keyboards, const std::vector<std::string>& steps);
int keyCode(const std::string& name);  // "LEFTALT" -> KEY_LEFTALT

inline const std::string waylandSession = "XDG_SESSION_TYPE=wayland";
// The helper run by the session's user, in the input group unless told not to.
HelperProcess startHelperAsUser(const std::vector<std::string>& arguments,
                                const std::vector<std::string>& environment = {waylandSession},
                                bool inInputGroup = true);
