#include "platform/linux/key_state.h"

#include <algorithm>
#include <vector>

namespace {

struct SourceKey {
  KeySource source;
  unsigned key;
  ModifierFlags flag;
};

struct SourceLock {
  KeySource source;
  bool locked;
  // The last press of a caps lock key engaged the lock: its release keeps it.
  bool pressEngaged;
};

// A handful at most: the modifier keys a user holds at once.
std::vector<SourceKey> heldKeys;
std::vector<SourceLock> locks;
MonitorHandler monitorHandler = nullptr;
// The flags of the last flags-changed event, so that a change that comes
// without a key (a lock, a source gone, a resync) is told once.
ModifierFlags reportedFlags = 0;

std::vector<SourceKey>::iterator findKey(KeySource source, unsigned key) {
  return std::find_if(heldKeys.begin(), heldKeys.end(),
                      [&](const SourceKey& held) { return held.source == source && held.key == key; });
}

SourceLock& lockOf(KeySource source) {
  const auto found =
      std::find_if(locks.begin(), locks.end(), [source](const SourceLock& lock) { return lock.source == source; });
  if (found != locks.end()) return *found;
  return locks.emplace_back(SourceLock{source, false, false});
}

void dropSource(KeySource source) {
  std::erase_if(heldKeys, [source](const SourceKey& held) { return held.source == source; });
  std::erase_if(locks, [source](const SourceLock& lock) { return lock.source == source; });
}

void report(std::uint64_t eventType) {
  const ModifierFlags flags = keyStateFlags();
  if (eventType == flagsChangedEventType) reportedFlags = flags;
  if (monitorHandler != nullptr) monitorHandler(eventType, flags);
}

void reportIfChanged() {
  if (keyStateFlags() != reportedFlags) report(flagsChangedEventType);
}

}  // namespace

void keyStateListen(MonitorHandler handler) {
  monitorHandler = handler;
  reportedFlags = keyStateFlags();
}

void keyStateDown(KeySource source, unsigned key, ModifierFlags flag) {
  if (flag == 0) {
    report(keyDownEventType);
    return;
  }
  const auto held = findKey(source, key);
  if (held != heldKeys.end()) {
    held->flag = flag;
  } else {
    heldKeys.push_back({source, key, flag});
  }
  if (flag == capsLockFlag) {
    SourceLock& lock = lockOf(source);
    lock.pressEngaged = !lock.locked;
    lock.locked = true;
  }
  report(flagsChangedEventType);
}

void keyStateUp(KeySource source, unsigned key) {
  const auto held = findKey(source, key);
  if (held == heldKeys.end()) return;
  const ModifierFlags flag = held->flag;
  heldKeys.erase(held);
  if (flag == capsLockFlag) {
    SourceLock& lock = lockOf(source);
    if (!lock.pressEngaged) lock.locked = false;
  }
  report(flagsChangedEventType);
}

void keyStateLock(KeySource source, bool locked) {
  lockOf(source).locked = locked;
  reportIfChanged();
}

void keyStateResync(KeySource source, std::span<const HeldKey> held, bool locked) {
  dropSource(source);
  for (const HeldKey& key : held) heldKeys.push_back({source, key.key, key.flag});
  lockOf(source).locked = locked;
  reportIfChanged();
}

void keyStateForget(KeySource source) {
  dropSource(source);
  reportIfChanged();
}

ModifierFlags keyStateFlags() {
  ModifierFlags flags = 0;
  // Caps lock counts by its lock, never by its key being held.
  for (const SourceKey& held : heldKeys) flags |= held.flag & ~capsLockFlag;
  for (const SourceLock& lock : locks) flags |= lock.locked ? capsLockFlag : 0;
  return flags;
}
