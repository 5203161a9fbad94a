// The tracker as start-up leaves it, watching name, on the fake platform's
// virtual clock with its lines captured: where every tracker test begins.
#pragma once

#include <string>

#include "hotkey/modifier.h"
#include "hotkey/tracker.h"
#include "tests/doubles/captured_output.h"
#include "tests/doubles/fake_platform.h"

inline void startFreshTracker(const std::string& name) {
  resetFakePlatform();
  startCapturingOutput();
  setUpModifiers(name);
  setUpArmDelay();
  setUpTracker(name);
}
