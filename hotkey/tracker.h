// The hold-to-arm tracker: one down line per hold of the watched key alone,
// one up line when that hold ends or is spoiled. Main thread only.
#pragma once

#include <cstdint>
#include <string_view>

#include "hotkey/modifier.h"
#include "platform/key_events.h"
#include "platform/platform.h"

extern std::int64_t armDelayMs;
extern bool isDown;
extern TaskHandle pendingArm;
extern bool armBlocked;

void setUpArmDelay();  // 150 ms
// Idle, its down and up lines named after the watched key as given.
void setUpTracker(std::string_view name);
void onMonitorEvent(std::uint64_t eventType, ModifierFlags modifierFlags);
void cancelPendingArm();
void emitUpIfDown();
void fireArm();
