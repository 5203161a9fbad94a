// The flags-changed line as the parent reads it, written out independently
// of the helper's own line catalogue so that a change there shows in tests.
#pragma once

#include <cstdint>
#include <string>

inline std::string flagsLine(std::uint64_t raw, bool watched, bool others) {
  return "debug:flagsChanged raw=" + std::to_string(raw) + " watched=" + (watched ? "true" : "false") +
         " others=" + (others ? "true" : "false");
}
