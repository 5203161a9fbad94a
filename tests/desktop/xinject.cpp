// Presses and releases keys on the X display named by DISPLAY, through
// XTest, one fake event per step, so that the helper hears exactly what a
// keyboard would send. xdotool will not do: it presses both Control keys for
// one and can send a release twice.
//
//   ortel_xinject +Alt_L 300 -Alt_L     press, wait 300 ms, release
//   ortel_xinject a                     press and release
//
// Keys are keysym names; a number waits that many milliseconds.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

bool sendKey(Display* display, const std::string& name, bool press) {
  const KeySym keysym = XStringToKeysym(name.c_str());
  const KeyCode keycode = keysym == NoSymbol ? 0 : XKeysymToKeycode(display, keysym);
  if (keycode == 0) {
    std::fprintf(stderr, "ortel_xinject: no key for %s\n", name.c_str());
    return false;
  }
  XTestFakeKeyEvent(display, keycode, press ? True : False, CurrentTime);
  // A round trip per event keeps the steps apart and in order.
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
    } else if (step[0] == '+' || step[0] == '-') {
      ok = sendKey(display, step.substr(1), step[0] == '+');
    } else {
      ok = sendKey(display, step, true) && sendKey(display, step, false);
    }
  }
  XCloseDisplay(display);
  return ok ? 0 : 1;
}
