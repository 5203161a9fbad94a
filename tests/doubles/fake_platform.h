// A platform double: main-thread work runs in virtual time, only when a test
// advances the clock, so no test ever sleeps through a delay.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

void resetFakePlatform();

// Runs every timer and delayed task that falls due within the next ms, in
// order of their due times.
void advanceFakeClock(std::int64_t ms);
std::int64_t fakeNowMs();

// Whether addGlobalMonitor hands out a monitor.
void setFakeMonitorAvailable(bool available);
// Delivers an event to the installed monitor's handler, if there is one.
bool deliverFakeEvent(std::uint64_t eventType, std::uint64_t modifierFlags);

int fakeTasksPending();
PlatformCallback fakeBackgroundWorker();

// The platform calls in the order they were made, e.g. "timer 1500",
// "monitor 5120", "worker", "loop".
const std::vector<std::string>& fakePlatformCalls();
