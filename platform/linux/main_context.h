// The GLib context of the main thread's loop, for the Linux backends'
// own sources. Created on first use, from the main thread only.
#pragma once

#include <glib.h>

GMainContext* mainThreadContext();
