// What a key monitor's handler heard, as the Linux key tests compare it:
// "flags N" for a flags-changed event, "key down" for a key down. Hand
// recordEvent to the monitor (keyStateListen(recordEvent)), then compare
// takeHeard() with a list made of flags(...) and keyDown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/key_events.h"

using Events = std::vector<std::string>;

inline Events heardEvents;

inline void recordEvent(std::uint64_t eventType, std::uint64_t flags) {
  heardEvents.push_back(eventType == keyDownEventType ? "key down" : "flags " + std::to_string(flags));
}

inline Events takeHeard() {
  Events events;
  events.swap(heardEvents);
  return events;
}

inline std::string flags(ModifierFlags value) { return "flags " + std::to_string(value); }
inline const std::string keyDown = "key down";
