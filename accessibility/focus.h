// Whether keyboard focus is in an element that takes typed text.
#pragma once

#include <string_view>

inline constexpr std::string_view focusEditable = "editable";
inline constexpr std::string_view focusNone = "none";

// Returns focusEditable or focusNone. Holds no state; runs on the reader thread.
std::string_view checkFocus();
