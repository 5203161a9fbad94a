// The catalogue of the helper's output lines, in one place.
#pragma once

#include <string_view>

inline constexpr std::string_view lineReady = "ready";
inline constexpr std::string_view lineWatchingPrefix = "debug:watching ";
inline constexpr std::string_view lineTrustedTrue = "trusted:true";
inline constexpr std::string_view lineTrustedFalse = "trusted:false";
inline constexpr std::string_view lineMonitorInstalled = "debug:monitor-installed";
inline constexpr std::string_view lineMonitorInstallFailed = "debug:monitor-install-failed";
inline constexpr std::string_view lineFlagsChangedPrefix = "debug:flagsChanged raw=";
inline constexpr std::string_view lineWatchedField = " watched=";
inline constexpr std::string_view lineOthersField = " others=";
inline constexpr std::string_view lineDownSuffix = ":down";
inline constexpr std::string_view lineUpSuffix = ":up";
inline constexpr std::string_view lineFocusPrefix = "focus:";

inline constexpr std::string_view commandCheckFocus = "check-focus";
