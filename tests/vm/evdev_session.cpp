#include "tests/vm/evdev_session.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/kd.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <thread>

namespace {

void setBit(int fd, unsigned long request, int bit) { ASSERT_EQ(ioctl(fd, request, bit), 0) << std::strerror(errno); }

// The event node the kernel made for a uinput device: its input device in
// sysfs lists it.
std::string eventNode(int uinput) {
  char sysname[64] = {};
  if (ioctl(uinput, UI_GET_SYSNAME(sizeof sysname), sysname) < 0) return "";
  const std::string device = std::string("/sys/devices/virtual/input/") + sysname;
  std::string node;
  if (DIR* directory = opendir(device.c_str())) {
    while (const dirent* entry = readdir(directory)) {
      if (std::strncmp(entry->d_name, "event", 5) == 0) node = std::string("/dev/input/") + entry->d_name;
    }
    closedir(directory);
  }
  return node;
}

// The kernel's console acts on keys itself, and sets the keyboards' lights
// when it toggles its own Caps Lock, at moments of its own. A Wayland
// desktop turns it off and sets the lights from its keymap; the tests do
// both, and the lights with LIGHT+ and LIGHT-, as that desktop would.
bool turnConsoleKeyboardOff() {
  const int console = open("/dev/tty0", O_RDWR | O_CLOEXEC);
  const bool off = console >= 0 && ioctl(console, KDSKBMODE, K_OFF) == 0;
  if (console >= 0) close(console);
  return off;
}

}  // namespace

VirtualKeyboard plugKeyboard(const std::string& name) {
  static const bool consoleOff = turnConsoleKeyboardOff();
  EXPECT_TRUE(consoleOff) << "the console still reads the keyboards";
  VirtualKeyboard keyboard;
  keyboard.uinput = open("/dev/uinput", O_WRONLY | O_CLOEXEC);
  EXPECT_GE(keyboard.uinput, 0) << "/dev/uinput: " << std::strerror(errno);
  if (keyboard.uinput < 0) return keyboard;
  setBit(keyboard.uinput, UI_SET_EVBIT, EV_KEY);
  setBit(keyboard.uinput, UI_SET_EVBIT, EV_LED);
  setBit(keyboard.uinput, UI_SET_EVBIT, EV_REP);
  for (int code = KEY_ESC; code <= KEY_MICMUTE; ++code) setBit(keyboard.uinput, UI_SET_KEYBIT, code);
  setBit(keyboard.uinput, UI_SET_KEYBIT, KEY_FN);
  setBit(keyboard.uinput, UI_SET_LEDBIT, LED_CAPSL);
  setBit(keyboard.uinput, UI_SET_LEDBIT, LED_NUML);
  uinput_setup setup{};
  setup.id.bustype = BUS_VIRTUAL;
  setup.id.vendor = 0x1d6b;
  setup.id.product = 0x0104;
  std::strncpy(setup.name, name.c_str(), UINPUT_MAX_NAME_SIZE - 1);
  EXPECT_EQ(ioctl(keyboard.uinput, UI_DEV_SETUP, &setup), 0) << std::strerror(errno);
  EXPECT_EQ(ioctl(keyboard.uinput, UI_DEV_CREATE), 0) << std::strerror(errno);
  // devtmpfs has made the node by the time UI_DEV_CREATE returns.
  keyboard.node = eventNode(keyboard.uinput);
  EXPECT_NE(keyboard.node, "") << "no event node for " << name;
  return keyboard;
}

void unplugKeyboard(VirtualKeyboard& keyboard) {
  if (keyboard.uinput < 0) return;
  ioctl(keyboard.uinput, UI_DEV_DESTROY);
  close(keyboard.uinput);
  keyboard.uinput = -1;
}

void sendKey(const VirtualKeyboard& keyboard, int code, int value) {
  input_event events[2] = {};
  events[0].type = EV_KEY;
  events[0].code = static_cast<unsigned short>(code);
  events[0].value = value;
  events[1].type = EV_SYN;
  events[1].code = SYN_REPORT;
  ASSERT_EQ(write(keyboard.uinput, events, sizeof events), static_cast<ssize_t>(sizeof events)) << std::strerror(errno);
}

void setLight(const VirtualKeyboard& keyboard, bool on) {
  // Through the event node, as the desktop's input library sets it.
  const int device = open(keyboard.node.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(device, 0) << keyboard.node << ": " << std::strerror(errno);
  input_event events[2] = {};
  events[0].type = EV_LED;
  events[0].code = LED_CAPSL;
  events[0].value = on ? 1 : 0;
  events[1].type = EV_SYN;
  events[1].code = SYN_REPORT;
  EXPECT_EQ(write(device, events, sizeof events), static_cast<ssize_t>(sizeof events)) << std::strerror(errno);
  close(device);
}

void grantAccess(const VirtualKeyboard& keyboard) {
  ASSERT_EQ(chown(keyboard.node.c_str(), 0, inputGroup), 0) << std::strerror(errno);
  ASSERT_EQ(chmod(keyboard.node.c_str(), 0660), 0) << std::strerror(errno);
}

void revokeAccess(const VirtualKeyboard& keyboard) {
  ASSERT_EQ(chmod(keyboard.node.c_str(), 0600), 0) << std::strerror(errno);
}

int keyCode(const std::string& name) {
  static const std::map<std::string, int> codes = [] {
    std::map<std::string, int> table = {
        {"LEFTALT", KEY_LEFTALT},     {"RIGHTALT", KEY_RIGHTALT},     {"LEFTMETA", KEY_LEFTMETA},
        {"RIGHTMETA", KEY_RIGHTMETA}, {"LEFTCTRL", KEY_LEFTCTRL},     {"RIGHTCTRL", KEY_RIGHTCTRL},
        {"LEFTSHIFT", KEY_LEFTSHIFT}, {"RIGHTSHIFT", KEY_RIGHTSHIFT}, {"CAPSLOCK", KEY_CAPSLOCK},
        {"FN", KEY_FN},               {"SPACE", KEY_SPACE},           {"ENTER", KEY_ENTER},
        {"DIGIT1", KEY_1},
    };
    // The letters' codes run along the rows of a US keyboard.
    for (const auto& [row, first] : {std::pair{"QWERTYUIOP", KEY_Q}, {"ASDFGHJKL", KEY_A}, {"ZXCVBNM", KEY_Z}}) {
      for (int column = 0; row[column] != '\0'; ++column) table[std::string(1, row[column])] = first + column;
    }
    return table;
  }();
  const auto found = codes.find(name);
  EXPECT_NE(found, codes.end()) << "no key named " << name;
  return found == codes.end() ? KEY_RESERVED : found->second;
}

void playSteps(const std::vector<const VirtualKeyboard*>& keyboards, const std::vector<std::string>& steps) {
  for (std::string step : steps) {
    if (step.find_first_not_of("0123456789") == std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(step)));
      continue;
    }
    const VirtualKeyboard* keyboard = keyboards.at(0);
    if (step.rfind("second:", 0) == 0) {
      keyboard = keyboards.at(1);
      step.erase(0, 7);
    }
    if (step == "LIGHT+" || step == "LIGHT-") {
      setLight(*keyboard, step == "LIGHT+");
    } else if (step[0] == '+' || step[0] == '-') {
      sendKey(*keyboard, keyCode(step.substr(1)), step[0] == '+' ? 1 : 0);
    } else {
      sendKey(*keyboard, keyCode(step), 1);
      sendKey(*keyboard, keyCode(step), 0);
    }
  }
}

HelperProcess startHelperAsUser(const std::vector<std::string>& arguments,
                                const std::vector<std::string>& environment, bool inInputGroup) {
  const std::string user = std::to_string(sessionUser);
  std::vector<std::string> command = {user, user, inInputGroup ? user + "," + std::to_string(inputGroup) : user,
                                      helperPath()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return startChild(ORTEL_AS_USER_PATH, command, environment);
}

std::vector<std::string> listeningLines(const std::string& watchedName) {
  return {"ready", "debug:watching " + watchedName, "trusted:true", "debug:monitor-installed"};
}

void expectQuietEnd(HelperProcess& helper) {
  HelperRun end = finishHelper(helper);
  EXPECT_EQ(end.lines, std::vector<std::string>{});
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.standardError, "");
}
