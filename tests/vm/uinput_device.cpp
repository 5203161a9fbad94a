#include "tests/vm/uinput_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/kd.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The event node the kernel made for a uinput device: its input device in
// sysfs lists it. devtmpfs has made the node by the time UI_DEV_CREATE returns.
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

bool writeEvents(int fd, unsigned short type, int code, int value) {
  input_event events[2] = {};
  events[0].type = type;
  events[0].code = static_cast<unsigned short>(code);
  events[0].value = value;
  events[1].type = EV_SYN;
  events[1].code = SYN_REPORT;
  return write(fd, events, sizeof events) == static_cast<ssize_t>(sizeof events);
}

}  // namespace

std::vector<int> keyboardKeys() {
  std::vector<int> keys;
  for (int code = KEY_ESC; code <= KEY_MICMUTE; ++code) keys.push_back(code);
  keys.push_back(KEY_FN);
  return keys;
}

VirtualKeyboard plugKeyDevice(const std::string& name, const std::vector<int>& keys) {
  VirtualKeyboard device;
  const int uinput = open("/dev/uinput", O_WRONLY | O_CLOEXEC);
  if (uinput < 0) return device;
  bool made = ioctl(uinput, UI_SET_EVBIT, EV_KEY) == 0 && ioctl(uinput, UI_SET_EVBIT, EV_LED) == 0 &&
              ioctl(uinput, UI_SET_EVBIT, EV_REP) == 0 && ioctl(uinput, UI_SET_LEDBIT, LED_CAPSL) == 0 &&
              ioctl(uinput, UI_SET_LEDBIT, LED_NUML) == 0;
  for (int code : keys) made = made && ioctl(uinput, UI_SET_KEYBIT, code) == 0;
  uinput_setup setup{};
  setup.id.bustype = BUS_VIRTUAL;
  setup.id.vendor = 0x1d6b;
  setup.id.product = 0x0104;
  std::strncpy(setup.name, name.c_str(), UINPUT_MAX_NAME_SIZE - 1);
  made = made && ioctl(uinput, UI_DEV_SETUP, &setup) == 0 && ioctl(uinput, UI_DEV_CREATE) == 0;
  if (made) device.node = eventNode(uinput);
  if (device.node.empty()) {
    const int failure = errno;
    close(uinput);
    errno = failure;
    return device;
  }
  device.uinput = uinput;
  return device;
}

void unplugKeyDevice(VirtualKeyboard& device) {
  if (device.uinput < 0) return;
  ioctl(device.uinput, UI_DEV_DESTROY);
  close(device.uinput);
  device.uinput = -1;
}

bool sendKeyEvent(const VirtualKeyboard& device, int code, int value) {
  return writeEvents(device.uinput, EV_KEY, code, value);
}

bool setCapsLockLight(const VirtualKeyboard& device, bool on) {
  const int node = open(device.node.c_str(), O_WRONLY | O_CLOEXEC);
  if (node < 0) return false;
  const bool written = writeEvents(node, EV_LED, LED_CAPSL, on ? 1 : 0);
  close(node);
  return written;
}

bool turnConsoleKeyboardOff() {
  const int console = open("/dev/tty0", O_RDWR | O_CLOEXEC);
  const bool off = console >= 0 && ioctl(console, KDSKBMODE, K_OFF) == 0;
  if (console >= 0) close(console);
  return off;
}
