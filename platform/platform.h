// The services of the host platform that the helper's logic runs on.
// Exactly one backend implements this header per build (GLib on Linux,
// AppKit and Dispatch on macOS); tests link a double that runs main-thread
// work in virtual time instead.
#pragma once

#include <cstdint>

// An opaque handle to a delayed task or an installed monitor; nullptr means none.
struct PlatformTask;
struct PlatformMonitor;
using TaskHandle = PlatformTask*;
using MonitorHandle = PlatformMonitor*;

using PlatformCallback = void (*)();
// Receives each monitored event's type and its modifier flags, on the main thread.
using MonitorHandler = void (*)(std::uint64_t eventType, std::uint64_t modifierFlags);

// Takes the accessory role (no Dock icon, no menu bar) and runs the main
// thread's event loop. Timer firings, delayed tasks and monitor events are
// delivered from here on, one at a time. Returns only if the loop ever stops.
void runApplicationLoop();

// Runs body on the main thread every intervalMs, the first time one interval
// from now, for the life of the process.
void scheduleRepeatingTimer(std::int64_t intervalMs, PlatformCallback body);

// Runs body once on the main thread, never before now + delayMs on a
// monotonic clock. Never returns nullptr.
TaskHandle scheduleDelayedTask(std::int64_t delayMs, PlatformCallback body);

// A task cancelled before it started never runs. Call it only for a task
// that has not run yet.
void cancelDelayedTask(TaskHandle task);

// Runs body once on a thread of its own, concurrently with the event loop.
void startBackgroundWorker(PlatformCallback body);

// Asks for a monitor of the other applications' events whose types are in
// eventMask. Returns nullptr when the system gives none. The monitor is
// never removed.
MonitorHandle addGlobalMonitor(std::uint64_t eventMask, MonitorHandler handler);

// Ends the whole process from any thread, at once. No static destructors
// run, so the other thread can never see module state torn down under it.
[[noreturn]] void exitProcess(int status);
