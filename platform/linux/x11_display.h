// The helper's own X connection, which the key monitor listens on and whose
// health is what trust means on X11. Main thread only.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Whether the connection is up with XInput 2.2 and XKB. Opens a new one when
// there is none or the old one was lost, and an installed monitor goes on
// listening on it.
bool x11DisplayUsable();

// The key monitor on that connection; key_backend.cpp picks it or the
// event devices' one.
MonitorHandle x11AddGlobalMonitor(std::uint64_t eventMask, MonitorHandler handler);
