#include "hotkey/tracker.h"

#include <string>

#include "protocol/emit.h"
#include "protocol/lines.h"

std::int64_t armDelayMs = 0;  // given at start-up
bool isDown = false;
TaskHandle pendingArm = nullptr;
bool armBlocked = false;

namespace {

// Made once at start-up from the name the parent gave, which never changes.
std::string downLine;
std::string upLine;

std::string_view boolText(bool value) { return value ? "true" : "false"; }

void emitFlagsChanged(ModifierFlags masked, bool watched, bool others) {
  std::string line(lineFlagsChangedPrefix);
  line += std::to_string(masked);
  line += lineWatchedField;
  line += boolText(watched);
  line += lineOthersField;
  line += boolText(others);
  emit(line);
}

void onFlagsChanged(ModifierFlags modifierFlags) {
  const ModifierFlags masked = modifierFlags & allModifierFlags;
  const bool watched = (masked & watchedFlag) != 0;
  const bool others = (masked & ~watchedFlag) != 0;
  emitFlagsChanged(masked, watched, others);

  if (!watched) {
    cancelPendingArm();
    emitUpIfDown();
    armBlocked = false;
    return;
  }
  if (others) {
    cancelPendingArm();
    emitUpIfDown();
    armBlocked = true;
    return;
  }
  // The watched key alone. Repeats of it (the other side's key, say) change
  // nothing: at most one task, one down line per hold.
  if (!isDown && pendingArm == nullptr && !armBlocked) {
    pendingArm = scheduleDelayedTask(armDelayMs, fireArm);
  }
}

void onKeyDown() {
  if (pendingArm == nullptr && !isDown) return;
  cancelPendingArm();
  emitUpIfDown();
  armBlocked = true;
}

}  // namespace

void setUpArmDelay() { armDelayMs = 150; }

void setUpTracker(std::string_view name) {
  downLine.assign(name).append(lineDownSuffix);
  upLine.assign(name).append(lineUpSuffix);
  isDown = false;
  pendingArm = nullptr;
  armBlocked = false;
}

void onMonitorEvent(std::uint64_t eventType, ModifierFlags modifierFlags) {
  if (eventType == flagsChangedEventType) {
    onFlagsChanged(modifierFlags);
  } else if (eventType == keyDownEventType) {
    onKeyDown();
  }
}

void cancelPendingArm() {
  if (pendingArm != nullptr) cancelDelayedTask(pendingArm);
  pendingArm = nullptr;
}

void emitUpIfDown() {
  if (!isDown) return;
  emit(upLine);
  isDown = false;
}

void fireArm() {
  pendingArm = nullptr;
  if (isDown || armBlocked) return;
  emit(downLine);
  isDown = true;
}
