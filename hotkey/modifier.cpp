#include "hotkey/modifier.h"

ModifierFlags watchedFlag = optionFlag;
ModifierFlags allModifierFlags = 0;

ModifierFlags flagForName(std::string_view name) {
  if (name == "option") return optionFlag;
  if (name == "command") return commandFlag;
  if (name == "control") return controlFlag;
  if (name == "shift") return shiftFlag;
  if (name == "function") return functionFlag;
  return optionFlag;
}

void setUpModifiers(std::string_view name) {
  watchedFlag = flagForName(name);
  allModifierFlags = commandFlag | optionFlag | controlFlag | shiftFlag | capsLockFlag;
  allModifierFlags |= functionFlag;
}
