// The key monitor for Wayland sessions: keyboards read from the kernel's
// event devices, where a Wayland desktop shows its keys to no other client.
// Main thread only.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Whether at least one keyboard can be read: what trust means here. Finds
// the keyboards that became readable or appeared without being noticed.
bool evdevKeyboardsReadable();

// Hands every keyboard's events to handler from now on, including the
// keyboards that come later. Only reached while trusted.
MonitorHandle evdevAddGlobalMonitor(std::uint64_t eventMask, MonitorHandler handler);
