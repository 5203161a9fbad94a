#include "tests/vm/evdev_session.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <thread>

VirtualKeyboard plugKeyboard(const std::string& name) {
  // The tests set the lights with LIGHT+ and LIGHT-, as the desktop would.
  static const bool consoleOff = turnConsoleKeyboardOff();
  EXPECT_TRUE(consoleOff) << "the console still reads the keyboards";
  VirtualKeyboard keyboard = plugKeyDevice(name, keyboardKeys());
  EXPECT_NE(keyboard.node, "") << name << ": " << std::strerror(errno);
  return keyboard;
}

void unplugKeyboard(VirtualKeyboard& keyboard) { unplugKeyDevice(keyboard); }

void sendKey(const VirtualKeyboard& keyboard, int code, int value) {
  ASSERT_TRUE(sendKeyEvent(keyboard, code, value)) << std::strerror(errno);
}

void setLight(const VirtualKeyboard& keyboard, bool on) {
  ASSERT_TRUE(setCapsLockLight(keyboard, on)) << keyboard.node << ": " << std::strerror(errno);
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
