// The watched modifier, and the mask of the modifiers that take part in the
// tracker's decisions. The flag values themselves are the platform's
// (platform/key_events.h).
#pragma once

#include <string_view>

#include "platform/key_events.h"

extern ModifierFlags watchedFlag;
extern ModifierFlags allModifierFlags;

// Exact, case-sensitive match on the five names; anything else watches option.
ModifierFlags flagForName(std::string_view name);

// Sets watchedFlag from the name and allModifierFlags to its fixed mask.
void setUpModifiers(std::string_view name);
