// The key events a global monitor delivers, in AppKit's numbers on every
// platform: the event types of NSEventType, the masks of NSEventMask and the
// modifier flags in the bit positions of NSEventModifierFlags. The macOS
// backend passes its events on as they come; the Linux ones make the same
// numbers from what their devices send. sdk_constants.mm holds every value
// here to the SDK's own.
#pragma once

#include <cstdint>

using ModifierFlags = std::uint64_t;

inline constexpr ModifierFlags capsLockFlag = 1ULL << 16;
inline constexpr ModifierFlags shiftFlag = 1ULL << 17;
inline constexpr ModifierFlags controlFlag = 1ULL << 18;
inline constexpr ModifierFlags optionFlag = 1ULL << 19;
inline constexpr ModifierFlags commandFlag = 1ULL << 20;
inline constexpr ModifierFlags functionFlag = 1ULL << 23;

inline constexpr std::uint64_t keyDownEventType = 10;
inline constexpr std::uint64_t flagsChangedEventType = 12;

inline constexpr std::uint64_t keyDownEventMask = 1ULL << keyDownEventType;
inline constexpr std::uint64_t flagsChangedEventMask = 1ULL << flagsChangedEventType;
