// Platform services on AppKit and Dispatch. Compiled with ARC: blocks and
// Objective-C objects are released by the compiler, except where a handle
// crosses into the logic as an opaque pointer and ownership is spelled out.
#import <AppKit/AppKit.h>
#include <dispatch/dispatch.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

// A windowless accessory that is never frontmost is what App Nap naps: its
// timers are coalesced, so on an idle machine on battery the 150 ms arm task
// and the 1.5 s trust poll could fire seconds late. The activity, held for
// the life of the process, keeps them on time and still lets the machine
// sleep when idle.
id<NSObject> timelyActivity = nil;

}  // namespace

void runApplicationLoop() {
  @autoreleasepool {
    timelyActivity = [[NSProcessInfo processInfo]
        beginActivityWithOptions:NSActivityUserInitiatedAllowingIdleSystemSleep | NSActivityLatencyCritical
                          reason:@"Reports holds of the dictation key as they happen"];
    NSApplication* app = [NSApplication sharedApplication];
    // An accessory has no Dock icon and no menu bar; should the system
    // refuse, the helper works the same without it.
    (void)[app setActivationPolicy:NSApplicationActivationPolicyAccessory];
    [app run];
  }
}

void scheduleRepeatingTimer(std::int64_t intervalMs, PlatformCallback body) {
  @autoreleasepool {
    // The run loop keeps a scheduled timer alive; nothing here needs to.
    [NSTimer scheduledTimerWithTimeInterval:static_cast<double>(intervalMs) / 1000.0
                                    repeats:YES
                                      block:^(NSTimer*) {
                                        body();
                                      }];
  }
}

// The handle owns one reference to the work item, given up exactly once:
// by the item when it runs, or by cancelDelayedTask, which the tracker calls
// only for an item that has not run. Dispatch keeps its own reference until
// it has dequeued the item, so a cancelled item is freed at its deadline.
TaskHandle scheduleDelayedTask(std::int64_t delayMs, PlatformCallback body) {
  __block void* owned = nullptr;
  dispatch_block_t item = dispatch_block_create(static_cast<dispatch_block_flags_t>(0), ^{
    body();
    CFBridgingRelease(owned);
  });
  owned = (__bridge_retained void*)item;
  const std::int64_t delayNs = delayMs * static_cast<std::int64_t>(NSEC_PER_MSEC);
  // DISPATCH_TIME_NOW counts on the monotonic host clock.
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delayNs), dispatch_get_main_queue(), item);
  return static_cast<TaskHandle>(owned);
}

void cancelDelayedTask(TaskHandle task) {
  dispatch_block_t item = (__bridge_transfer dispatch_block_t)static_cast<void*>(task);
  dispatch_block_cancel(item);
}

void startBackgroundWorker(PlatformCallback body) {
  dispatch_async(dispatch_get_global_queue(QOS_CLASS_DEFAULT, 0), ^{
    body();
  });
}

MonitorHandle addGlobalMonitor(std::uint64_t eventMask, MonitorHandler handler) {
  @autoreleasepool {
    id added = [NSEvent addGlobalMonitorForEventsMatchingMask:static_cast<NSEventMask>(eventMask)
                                                      handler:^(NSEvent* event) {
                                                        handler(static_cast<std::uint64_t>(event.type),
                                                                static_cast<std::uint64_t>(event.modifierFlags));
                                                      }];
    if (added == nil) return nullptr;
    // Held for the life of the process: the monitor is never removed.
    return static_cast<MonitorHandle>((__bridge_retained void*)added);
  }
}

// Not exit(): that would run static destructors while the main thread is
// still handling events with the module state they destroy.
void exitProcess(int status) { _exit(status); }
