// Connects the tracker to every application's key events, once.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Flags changed (1 << 12) and key down (1 << 10), by NSEventMask.
inline constexpr std::uint64_t monitorEventMask = 0x1400;

extern MonitorHandle monitor;

void installMonitor();
