// Opens the helper's X connection off the main thread. Main thread only.
#pragma once

#include <X11/Xlib.h>

// Takes a connection that is open with XInput 2.2 and XKB, with XInput's
// opcode and XKB's event type, once one is; from then on Xlib sets *lost
// when the connection is lost. While there is none and no attempt is under
// way, starts one on a thread of its own and waits a little for it; an
// attempt that takes longer is picked up by a later call. So a server that
// never answers costs the caller that short wait once, and nothing after.
bool takeOpenedDisplay(bool* lost, Display** display, int* xinputOpcode, int* xkbEventType);
