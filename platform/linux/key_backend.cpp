// Which key monitor serves this process, and so what trust means. Picked
// once: a Wayland session shows its keys to no X client (XWayland hears only
// what is typed into its own windows), so there the keys come from the
// kernel's event devices, and trust is a keyboard the user may read. Any
// other session is X11's, where watching keys takes only a working
// connection with XInput 2.2 and XKB, and there is nothing to grant.
#include <cstdlib>
#include <cstring>

#include "accessibility/ax.h"
#include "platform/linux/evdev_monitor.h"
#include "platform/linux/main_context.h"
#include "platform/linux/x11_display.h"
#include "platform/platform.h"

namespace {

bool isWaylandSession() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  const char* sessionType = std::getenv("XDG_SESSION_TYPE");
  return (display != nullptr && *display != '\0') ||
         (sessionType != nullptr && std::strcmp(sessionType, "wayland") == 0);
}

// First asked by the trust check at start-up, before the reader thread exists.
bool readsEventDevices() {
  static const bool waylandSession = isWaylandSession();
  return waylandSession;
}

}  // namespace

// No prompt on either: a dialog of the helper's cannot put the user in a
// group or give a seat's access.
AxRef axCreateString(const char*) { return nullptr; }
AxRef axCreateTrueOptions(AxRef) { return nullptr; }

// Called from the main thread, at start-up and by the trust poll, which is
// also what brings a lost display back or finds a keyboard made readable.
// Keys are heard only through the main loop.
bool axIsProcessTrusted(AxRef) {
  if (!mainLoopUsable()) return false;
  return readsEventDevices() ? evdevKeyboardsReadable() : x11DisplayUsable();
}

MonitorHandle addGlobalMonitor(std::uint64_t eventMask, MonitorHandler handler) {
  return readsEventDevices() ? evdevAddGlobalMonitor(eventMask, handler) : x11AddGlobalMonitor(eventMask, handler);
}
