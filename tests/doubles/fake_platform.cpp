#include "tests/doubles/fake_platform.h"

#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>

namespace {

struct ScheduledWork {
  std::int64_t dueMs;
  std::int64_t intervalMs;  // 0 for a one-shot task
  PlatformCallback body;
};

std::int64_t nowMs = 0;
std::uint64_t nextId = 1;
// Keyed by creation order, so that equal deadlines run in the order scheduled.
std::map<std::uint64_t, ScheduledWork> scheduled;
bool monitorAvailable = true;
MonitorHandler monitorHandler = nullptr;
PlatformCallback worker = nullptr;
std::vector<std::string> calls;

}  // namespace

void resetFakePlatform() {
  nowMs = 0;
  scheduled.clear();
  monitorAvailable = true;
  monitorHandler = nullptr;
  worker = nullptr;
  calls.clear();
}

void advanceFakeClock(std::int64_t ms) {
  const std::int64_t endMs = nowMs + ms;
  for (;;) {
    auto next = scheduled.end();
    for (auto it = scheduled.begin(); it != scheduled.end(); ++it) {
      if (it->second.dueMs <= endMs && (next == scheduled.end() || it->second.dueMs < next->second.dueMs)) {
        next = it;
      }
    }
    if (next == scheduled.end()) break;
    nowMs = next->second.dueMs;
    const PlatformCallback body = next->second.body;
    if (next->second.intervalMs > 0) {
      next->second.dueMs += next->second.intervalMs;
    } else {
      scheduled.erase(next);
    }
    body();
  }
  nowMs = endMs;
}

std::int64_t fakeNowMs() { return nowMs; }

void setFakeMonitorAvailable(bool available) { monitorAvailable = available; }

bool deliverFakeEvent(std::uint64_t eventType, std::uint64_t modifierFlags) {
  if (monitorHandler == nullptr) return false;
  monitorHandler(eventType, modifierFlags);
  return true;
}

int fakeTasksPending() {
  return static_cast<int>(std::count_if(scheduled.begin(), scheduled.end(),
                                        [](const auto& entry) { return entry.second.intervalMs == 0; }));
}

PlatformCallback fakeBackgroundWorker() { return worker; }

const std::vector<std::string>& fakePlatformCalls() { return calls; }

void runApplicationLoop() { calls.push_back("loop"); }

void scheduleRepeatingTimer(std::int64_t intervalMs, PlatformCallback body) {
  calls.push_back("timer " + std::to_string(intervalMs));
  scheduled[nextId++] = ScheduledWork{nowMs + intervalMs, intervalMs, body};
}

TaskHandle scheduleDelayedTask(std::int64_t delayMs, PlatformCallback body) {
  const std::uint64_t id = nextId++;
  scheduled[id] = ScheduledWork{nowMs + delayMs, 0, body};
  return reinterpret_cast<TaskHandle>(static_cast<std::uintptr_t>(id));
}

void cancelDelayedTask(TaskHandle task) {
  // Cancelling a task that already ran would, on a real platform, be a use
  // of a dead handle: make it visible.
  if (scheduled.erase(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(task))) == 0) {
    calls.push_back("stale-cancel");
  }
}

void startBackgroundWorker(PlatformCallback body) {
  calls.push_back("worker");
  worker = body;
}

MonitorHandle addGlobalMonitor(std::uint64_t eventMask, MonitorHandler handler) {
  calls.push_back("monitor " + std::to_string(eventMask));
  if (!monitorAvailable) return nullptr;
  monitorHandler = handler;
  static int handle;
  return reinterpret_cast<MonitorHandle>(&handle);
}

void exitProcess(int status) { _exit(status); }
