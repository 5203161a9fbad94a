// The watched modifier and the modifier flag values, in the bit positions of
// NSEventModifierFlags.
#pragma once

#include <cstdint>
#include <string_view>

using ModifierFlags = std::uint64_t;

inline constexpr ModifierFlags capsLockFlag = 1ULL << 16;
inline constexpr ModifierFlags shiftFlag = 1ULL << 17;
inline constexpr ModifierFlags controlFlag = 1ULL << 18;
inline constexpr ModifierFlags optionFlag = 1ULL << 19;
inline constexpr ModifierFlags commandFlag = 1ULL << 20;
inline constexpr ModifierFlags functionFlag = 1ULL << 23;

extern ModifierFlags watchedFlag;
extern ModifierFlags allModifierFlags;

// Exact, case-sensitive match on the five names; anything else watches option.
ModifierFlags flagForName(std::string_view name);

// Sets watchedFlag from the name and allModifierFlags to its fixed mask.
void setUpModifiers(std::string_view name);
