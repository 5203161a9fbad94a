// Presses and releases keys on the X display named by DISPLAY, through
// XTest, one fake event per step, so that the helper hears exactly what a
// keyboard would send. xdotool will not do: it presses both Control keys for
// one and can send a release twice.
//
//   ortel_xinject +Alt_L 300 -Alt_L     press, wait 300 ms, release
//   ortel_xinject a                     press and release
//   ortel_xinject +#64 #64=a -#64       press keycode 64, make it type a, release it
//
// Keys are keysym names, or keycodes after #; a number waits that many
// milliseconds; KEY=KEYSYM changes the keymap so that KEY's keycode stands
// for KEYSYM alone, as xmodmap would.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

KeyCode keycodeOf(Display* display, const std::string& name) {
  if (name.size() > 1 && name[0] == '#') return static_cast<KeyCode>(std::stoi(name.substr(1)));
  const KeySym keysym = XStringToKeysym(name.c_str());
  const KeyCode keycode = keysym == NoSymbol ? 0 : XKeysymToKeycode(display, keysym);
  if (keycode == 0) std::fprintf(stderr, "ortel_xinject: no key for %s\n", name.c_str());
  return keycode;
}

// A round trip per step keeps the steps apart and in order.
bool sendKey(Display* display, const std::string& name, bool press) {
  const KeyCode keycode = keycodeOf(display, name);
  if (keycode == 0) return false;
  XTestFakeKeyEvent(display, keycode, press ? True : False, CurrentTime);
  XSync(display, False);
  return true;
}

bool remapKey(Display* display, const std::string& name, const std::string& symbol) {
  const KeyCode keycode = keycodeOf(display, name);
  KeySym keysym = XStringToKeysym(symbol.c_str());
  if (keycode == 0 || keysym == NoSymbol) return false;
  XChangeKeyboardMapping(display, keycode, 1, &keysym, 1);
  XSync(display, False);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "ortel_xinject: cannot open the display\n");
    return 1;
  }
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
    std::fprintf(stderr, "ortel_xinject: the display has no XTEST\n");
    XCloseDisplay(display);
    return 1;
  }
  bool ok = true;
  for (int i = 1; i < argc && ok; ++i) {
    const std::string step = argv[i];
    if (step.empty()) continue;
    if (step.find_first_not_of("0123456789") == std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(step)));
    } else if (const std::size_t equals = step.find('='); equals != std::string::npos) {
      ok = remapKey(display, step.substr(0, equals), step.substr(equals + 1));
    } else if (step[0] == '+' || step[0] == '-') {
      ok = sendKey(display, step.substr(1), step[0] == '+');
    } else {
      ok = sendKey(display, step, true) && sendKey(display, step, false);
    }
  }
  XCloseDisplay(display);
  return ok ? 0 : 1;
}
