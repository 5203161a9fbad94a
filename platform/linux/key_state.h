// Which modifier keys are held and whether Caps Lock is engaged, as the
// Linux key monitors learn it, and the monitor's two kinds of event made
// from that. Both monitors feed it, each only translating what its devices
// send: X11 (x11_monitor.cpp) keycodes and XKB's lock from its connection,
// the event devices (evdev_keys.cpp) kernel key codes and the Caps Lock
// light from each keyboard.
//
// A source is the descriptor a monitor reads keys from: the X connection, or
// one keyboard. Each source has its own keys and its own lock; the flags are
// those of all sources together. Main thread only.
#pragma once

#include <span>

#include "platform/key_events.h"
#include "platform/platform.h"

using KeySource = int;

// A key held, with the modifier it went down as.
struct HeldKey {
  unsigned key;
  ModifierFlags flag;
};

// Events go to handler from now on (nullptr: to nobody). The flags as they
// stand are taken as known: the keys held before anyone listened start
// nothing, as their presses were nobody's to hear.
void keyStateListen(MonitorHandler handler);

// A key went down as flag, the modifier it stands for now, or 0 for a key
// that types. A modifier's press is a flags-changed event, also when the
// flags stay (the other side's key, say), and the key comes up as what it
// went down as, whatever it stands for by then. Any other press is a key
// down. A key that goes down as caps lock engages the lock, as XKB's Caps
// Lock action does, until the source says otherwise.
void keyStateDown(KeySource source, unsigned key, ModifierFlags flag);
// A key came up: a flags-changed event if it went down as a modifier, else
// nothing. A caps lock key lets go of the lock only if the lock was already
// engaged before its press.
void keyStateUp(KeySource source, unsigned key);

// The source's own word on the lock (XKB's state, a keyboard's light).
void keyStateLock(KeySource source, bool locked);
// The source's state read afresh: the modifier keys held on it and its lock,
// as at the start or after it dropped events.
void keyStateResync(KeySource source, std::span<const HeldKey> held, bool locked);
// The source is gone (the connection lost, a keyboard unplugged or made
// unreadable): its keys count as let go and its lock as off.
//
// These three tell no key: they are one flags-changed event, and only when
// the flags change. A hold they end, ends as a release would.
void keyStateForget(KeySource source);

// The modifier keys held on all sources, and caps lock while any source's
// lock is engaged.
ModifierFlags keyStateFlags();
