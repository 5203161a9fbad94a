// The GLib context of the main thread's loop, for the Linux backends'
// own sources. Created on first use, from the main thread only.
#pragma once

#include <glib.h>

// Whether the loop could be made: not when the open-file limit leaves no
// room for GLib's own descriptors. Without it nothing is heard and trust
// stays false, so no backend attaches a source.
bool mainLoopUsable();

// Only while mainLoopUsable().
GMainContext* mainThreadContext();
