// The hold-to-arm tracker: one down line per hold of the watched key alone,
// one up line when that hold ends or is spoiled. Main thread only.
#pragma once

#include <cstdint>

#include "hotkey/modifier.h"
#include "platform/platform.h"

// Event types, by NSEventType.
inline constexpr std::uint64_t keyDownEventType = 10;
inline constexpr std::uint64_t flagsChangedEventType = 12;

extern std::int64_t armDelayMs;
extern bool isDown;
extern TaskHandle pendingArm;
extern bool armBlocked;

void setUpTracker();  // Idle
void onMonitorEvent(std::uint64_t eventType, ModifierFlags modifierFlags);
void cancelPendingArm();
void emitUpIfDown();
void fireArm();
