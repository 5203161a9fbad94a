// Connects the tracker to every application's key events, once.
#pragma once

#include <cstdint>

#include "platform/key_events.h"
#include "platform/platform.h"

// Flags changed and key down.
inline constexpr std::uint64_t monitorEventMask = flagsChangedEventMask | keyDownEventMask;

extern MonitorHandle monitor;

void setUpMonitor();  // not installed
void installMonitor();
