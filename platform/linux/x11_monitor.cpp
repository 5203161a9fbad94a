// The global key monitor on X11. The helper only observes: XInput raw key
// events on the root window and XKB state events, with no grab and nothing
// injected. It asks for XInput 2.2 because a 2.0 client hears no raw events
// while another client holds a keyboard grab.
//
// Everything here runs on the main thread: the connection is read by a GLib
// source on the main thread's own context, and the trust poll checks it and
// takes a new one from there too, once x11_opener.cpp has opened it.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <glib.h>

#include <array>
#include <vector>

#include "platform/key_events.h"
#include "platform/linux/key_state.h"
#include "platform/linux/main_context.h"
#include "platform/linux/x11_display.h"
#include "platform/linux/x11_opener.h"
#include "platform/platform.h"

namespace {

constexpr int keycodeCount = 256;  // X keycodes are 8 bits

Display* display = nullptr;
bool displayLost = false;  // set by Xlib's I/O error exit handler (x11_opener.cpp)
int xinputOpcode = 0;
int xkbEventType = 0;
GSource* displaySource = nullptr;
gpointer displayFdTag = nullptr;

// Set once by addGlobalMonitor and kept across connections: the monitor is
// installed once per process, while the X server may come and go under it.
bool listening = false;
char monitorMarker;

// The modifier flag each keycode's key stands for in the keymap now, 0 for a
// key that types. The key state keeps what each held key went down as.
std::array<ModifierFlags, keycodeCount> keyFlags{};

ModifierFlags flagForKeysym(KeySym keysym) {
  switch (keysym) {
    case XK_Shift_L:
    case XK_Shift_R:
      return shiftFlag;
    case XK_Control_L:
    case XK_Control_R:
      return controlFlag;
    case XK_Alt_L:
    case XK_Alt_R:
    case XK_Meta_L:
    case XK_Meta_R:
    case XK_ISO_Level3_Shift:  // AltGr: the option key of a Mac keyboard's right side
      return optionFlag;
    case XK_Super_L:
    case XK_Super_R:
      return commandFlag;
    case XK_Caps_Lock:
      return capsLockFlag;
    default:
      return 0;  // X11 never sees an Fn key: it stops at the keyboard's firmware
  }
}

void classifyKeys() {
  keyFlags.fill(0);
  for (int keycode = 8; keycode < keycodeCount; ++keycode) {
    // Level 1 as well: some maps put a modifier only above another keysym
    // (Xvfb's has Meta_L over Alt_L).
    for (int level = 0; level < 2 && keyFlags[static_cast<std::size_t>(keycode)] == 0; ++level) {
      const KeySym keysym = XkbKeycodeToKeysym(display, static_cast<KeyCode>(keycode), 0, level);
      keyFlags[static_cast<std::size_t>(keycode)] = flagForKeysym(keysym);
    }
  }
}

// The keys are the connection's, one source of the key state.
KeySource keySource() { return ConnectionNumber(display); }

bool readCapsLock() {
  XkbStateRec state{};
  return XkbGetState(display, XkbUseCoreKbd, &state) == Success && (state.locked_mods & LockMask) != 0;
}

// Modifier keys already held when listening starts count as held.
std::vector<HeldKey> readKeysDown() {
  char keys[keycodeCount / 8] = {};
  XQueryKeymap(display, keys);
  std::vector<HeldKey> held;
  for (unsigned keycode = 0; keycode < keycodeCount; ++keycode) {
    const bool down = (static_cast<unsigned char>(keys[keycode / 8]) >> (keycode % 8) & 1) != 0;
    if (down && keyFlags[keycode] != 0) held.push_back({keycode, keyFlags[keycode]});
  }
  return held;
}

void startListening() {
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawKeyPress);
  XISetMask(bits, XI_RawKeyRelease);
  XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
  XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
  XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbModifierLockMask, XkbModifierLockMask);
  const unsigned long keymapEvents = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
  XkbSelectEvents(display, XkbUseCoreKbd, keymapEvents, keymapEvents);
  classifyKeys();
  keyStateResync(keySource(), readKeysDown(), readCapsLock());
  // A round trip, so the selection is in force before anyone is told the
  // monitor is there.
  XSync(display, False);
}

// The server sends the new lock state only after the raw event, and asking
// it would be no better: by the time it answers it may have handled the
// release too. So the key state follows XKB's Caps Lock action for the key
// (a Caps_Lock keysym goes down as caps lock) until the state event comes.
void onRawKey(int eventType, int keycode) {
  if (keycode < 0 || keycode >= keycodeCount) return;
  const auto key = static_cast<unsigned>(keycode);
  if (eventType == XI_RawKeyPress) {
    keyStateDown(keySource(), key, keyFlags[key]);
  } else {
    keyStateUp(keySource(), key);
  }
}

void onXkbEvent(const XkbEvent& event) {
  switch (event.any.xkb_type) {
    case XkbStateNotify:
      keyStateLock(keySource(), (event.state.locked_mods & LockMask) != 0);
      break;
    // Only keys pressed from now on go by the new map; held keys come up as
    // what they went down as.
    case XkbMapNotify:
    case XkbNewKeyboardNotify:
      classifyKeys();
      break;
    default:
      break;
  }
}

void onEvent(XEvent& event) {
  if (event.type == GenericEvent && event.xcookie.extension == xinputOpcode) {
    if (!XGetEventData(display, &event.xcookie)) return;
    const int eventType = event.xcookie.evtype;
    if (eventType == XI_RawKeyPress || eventType == XI_RawKeyRelease) {
      onRawKey(eventType, static_cast<const XIRawEvent*>(event.xcookie.data)->detail);
    }
    XFreeEventData(display, &event.xcookie);
  } else if (event.type == xkbEventType) {
    onXkbEvent(reinterpret_cast<const XkbEvent&>(event));
  }
}

// Without the connection no release can be heard, so the keys held are let
// go here as their release would be. Whatever they began ends, and nothing
// of them is left to begin anything once the connection is back.
void closeDisplay() {
  keyStateForget(keySource());
  if (displaySource != nullptr) {
    g_source_destroy(displaySource);
    g_source_unref(displaySource);
    displaySource = nullptr;
    displayFdTag = nullptr;
  }
  XCloseDisplay(display);
  display = nullptr;
  displayLost = false;
}

// A plain watch on the socket is not enough: any round trip (the trust
// poll's, reading the lock state) moves waiting events into Xlib's queue,
// after which the socket is quiet while events are still to be handled.
gboolean prepareDisplay(GSource*, gint* timeoutMs) {
  *timeoutMs = -1;
  return XEventsQueued(display, QueuedAlready) > 0;
}

gboolean checkDisplay(GSource* source) {
  const GIOCondition ready = g_source_query_unix_fd(source, displayFdTag);
  return (ready & (G_IO_IN | G_IO_HUP | G_IO_ERR)) != 0 || XEventsQueued(display, QueuedAlready) > 0;
}

gboolean dispatchDisplay(GSource*, GSourceFunc, gpointer) {
  // One read of the socket, then every event it brought: asking XPending
  // after each event would read the socket again for each, in vain. What
  // arrives meanwhile makes the socket readable for the next poll. At the
  // end of the stream Xlib reports an I/O error, which only sets displayLost.
  XEventsQueued(display, QueuedAfterFlush);
  while (!displayLost && XEventsQueued(display, QueuedAlready) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    onEvent(event);
  }
  if (!displayLost) return G_SOURCE_CONTINUE;
  closeDisplay();
  return G_SOURCE_REMOVE;
}

GSourceFuncs displaySourceFuncs = {prepareDisplay, checkDisplay, dispatchDisplay, nullptr, nullptr, nullptr};

void attachDisplaySource() {
  displaySource = g_source_new(&displaySourceFuncs, sizeof(GSource));
  // GLib takes a source that may not recurse out of the poll set for its
  // dispatch and puts it back after, and each change wakes the loop through
  // its eventfd: two writes, a read and a second poll per key event. The
  // handler never runs the loop itself, so there is nothing to guard against.
  g_source_set_can_recurse(displaySource, TRUE);
  displayFdTag = g_source_add_unix_fd(displaySource, ConnectionNumber(display),
                                      static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
  // Never the global default context: that one belongs to the reader thread.
  g_source_attach(displaySource, mainThreadContext());
}

// The connection is opened off the main thread (x11_opener.cpp) and taken
// here once it is up; listening on it costs a few round trips to a server
// that has just answered.
bool openDisplay() {
  if (!takeOpenedDisplay(&displayLost, &display, &xinputOpcode, &xkbEventType)) return false;
  attachDisplaySource();
  if (listening) startListening();
  if (displayLost) {
    closeDisplay();
    return false;
  }
  return true;
}

}  // namespace

// No round trip to check a live connection: a server that goes away closes
// the socket, the display source wakes on it and closes the connection at
// once. So the poll costs nothing while the display is up, and the helper
// stays at one wake-up per poll.
bool x11DisplayUsable() {
  if (display != nullptr && !displayLost) return true;
  if (display != nullptr) closeDisplay();
  return openDisplay();
}

// Only reached once trust is true, so with a live connection. Both event
// types the logic asks for come from the same raw events, so the mask adds
// nothing here.
MonitorHandle x11AddGlobalMonitor(std::uint64_t, MonitorHandler handler) {
  if (display == nullptr) return nullptr;
  listening = true;
  startListening();
  keyStateListen(handler);
  return reinterpret_cast<MonitorHandle>(&monitorMarker);
}
