// Platform services on GLib. The main thread runs its loop on a context of
// its own, and no main-thread source ever lands on the global default
// context (g_timeout_add, g_idle_add and g_unix_fd_add would put it there):
// libraries such as libatspi bind themselves to that one and dispatch on
// whichever thread calls them. None runs in the helper today (AT-SPI has a
// process of its own), but none can then steal the key path's sources.
#include <glib.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "platform/linux/glib_log.h"
#include "platform/linux/main_context.h"
#include "platform/platform.h"

namespace {

GMainContext* helperContext = nullptr;

gboolean runRepeating(gpointer body) {
  reinterpret_cast<PlatformCallback>(body)();
  return G_SOURCE_CONTINUE;
}

gpointer runWorker(gpointer body) {
  reinterpret_cast<PlatformCallback>(body)();
  return nullptr;
}

guint attachTimeout(std::int64_t intervalMs, GSourceFunc function, PlatformCallback body) {
  // g_timeout_source_new measures on the monotonic clock.
  GSource* source = g_timeout_source_new(static_cast<guint>(intervalMs));
  g_source_set_callback(source, function, reinterpret_cast<gpointer>(body), nullptr);
  const guint id = g_source_attach(source, mainThreadContext());
  g_source_unref(source);
  return id;
}

// The arm task's deadline is 150 ms after the key event was handled, and its
// line should follow as closely as the key lines do. A GLib timeout cannot:
// the loop turns the time left into a poll() timeout in whole milliseconds,
// rounded up, so it fires up to 1 ms late (0.5 ms on average) plus the
// kernel's timer slack. A timerfd on the monotonic clock, armed for the
// absolute deadline, wakes the same poll() on the microsecond and never
// before the deadline.
//
// A task comes and goes with every press of the watched key; its timer does
// not. Each source attached to the loop or taken from it changes the poll
// set, and GLib wakes its own loop for every such change (an eventfd write,
// then a second pass of poll() to read it), right behind the key event's
// line. So a timer, once made, stays attached with its descriptor in the
// poll set and is armed and disarmed in place: one timerfd_settime to
// schedule a task, one to cancel it. Idle timers wait in sparedTimers.
struct TimerSource {
  GSource base;
  int fd;                   // -1 when the kernel gave no timerfd (out of descriptors, say)
  PlatformCallback body;    // the task's; nullptr while the timer is idle
  std::int64_t deadlineNs;  // on CLOCK_MONOTONIC
};

std::vector<TimerSource*> sparedTimers;

std::int64_t monotonicNowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Arms the timer for the absolute deadline, or disarms it with 0.
void setDeadline(TimerSource* timer, std::int64_t deadlineNs) {
  timer->deadlineNs = deadlineNs;
  itimerspec expiry{};  // all zero disarms
  expiry.it_value.tv_sec = static_cast<time_t>(deadlineNs / 1'000'000'000);
  expiry.it_value.tv_nsec = static_cast<long>(deadlineNs % 1'000'000'000);
  const bool armed = timer->fd >= 0 && timerfd_settime(timer->fd, TFD_TIMER_ABSTIME, &expiry, nullptr) == 0;
  // Without a timerfd, GLib's ready time (the same clock, in µs) keeps the
  // deadline too, only less closely. Unchanged, it costs nothing.
  g_source_set_ready_time(&timer->base, armed || deadlineNs == 0 ? -1 : (deadlineNs + 999) / 1000);
}

void spareTimer(TimerSource* timer) {
  setDeadline(timer, 0);
  timer->body = nullptr;
  sparedTimers.push_back(timer);
}

// A one-shot timerfd that has expired is disarmed already: disarming it
// again would be one more system call per hold, for nothing. Only GLib's
// ready time, where it stood in for the descriptor, needs clearing.
void spareFiredTimer(TimerSource* timer) {
  timer->deadlineNs = 0;
  timer->body = nullptr;
  if (timer->fd < 0) g_source_set_ready_time(&timer->base, -1);
  sparedTimers.push_back(timer);
}

gboolean dispatchTimer(GSource* source, GSourceFunc, gpointer) {
  auto* timer = reinterpret_cast<TimerSource*>(source);
  if (timer->fd >= 0) {
    // Clears the descriptor. A timer cancelled or armed anew since it polled
    // ready reads nothing: timerfd_settime forgets past expirations.
    std::uint64_t expirations = 0;
    static_cast<void>(read(timer->fd, &expirations, sizeof expirations));
  }
  // So whether a task is due is told by its own deadline, not by the poll.
  if (timer->body == nullptr || monotonicNowNs() < timer->deadlineNs) return G_SOURCE_CONTINUE;
  const PlatformCallback body = timer->body;
  spareFiredTimer(timer);
  body();
  return G_SOURCE_CONTINUE;
}

// No prepare or check: GLib dispatches a source once its fd polled ready or
// its ready time has come.
GSourceFuncs timerSourceFuncs = {nullptr, nullptr, dispatchTimer, nullptr, nullptr, nullptr};

TimerSource* takeTimer() {
  if (!sparedTimers.empty()) {
    TimerSource* timer = sparedTimers.back();
    sparedTimers.pop_back();
    return timer;
  }
  GSource* source = g_source_new(&timerSourceFuncs, sizeof(TimerSource));
  auto* timer = reinterpret_cast<TimerSource*>(source);
  timer->fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  timer->body = nullptr;
  timer->deadlineNs = 0;
  if (timer->fd >= 0) g_source_add_unix_fd(source, timer->fd, G_IO_IN);
  // As for the display source: no wake-ups of the loop around the dispatch.
  g_source_set_can_recurse(source, TRUE);
  g_source_attach(source, mainThreadContext());
  g_source_unref(source);  // the context keeps it, for the life of the process
  return timer;
}

// GLib makes two descriptors for the loop, the wake-ups of the helper's
// context and of the global default one (made as the helper's is pushed),
// and ends the process by SIGTRAP when it cannot. Under an open-file limit
// that leaves fewer, the helper runs without a loop instead. They are tried
// for and given back just before GLib takes them, so nothing else can take
// them in between: nothing else runs yet.
bool wakeUpsAvailable() {
  const int first = eventfd(0, EFD_CLOEXEC);
  const int second = eventfd(0, EFD_CLOEXEC);
  for (int fd : {first, second}) {
    if (fd >= 0) close(fd);
  }
  return first >= 0 && second >= 0;
}

bool loopChecked = false;
bool loopUsable = false;

}  // namespace

bool mainLoopUsable() {
  if (!loopChecked) {
    // First use comes from start-up on the main thread, before any other
    // thread exists, which is when the log handlers must be in place.
    loopChecked = true;
    discardGLibLog();
    loopUsable = wakeUpsAvailable();
    if (loopUsable) {
      helperContext = g_main_context_new();
      g_main_context_push_thread_default(helperContext);
    }
  }
  return loopUsable;
}

GMainContext* mainThreadContext() {
  mainLoopUsable();
  return helperContext;
}

void runApplicationLoop() {
  if (!mainLoopUsable()) {
    // Nothing for the main thread to do: no keys, no poll. The reader goes
    // on answering and ends the process at the end of its input.
    for (;;) pause();
  }
  GMainLoop* loop = g_main_loop_new(mainThreadContext(), FALSE);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
}

// Without a loop the only timer, the trust poll, would never run, and would
// find nothing to change: trust stays false (key_backend.cpp).
void scheduleRepeatingTimer(std::int64_t intervalMs, PlatformCallback body) {
  if (mainLoopUsable()) attachTimeout(intervalMs, runRepeating, body);
}

TaskHandle scheduleDelayedTask(std::int64_t delayMs, PlatformCallback body) {
  TimerSource* timer = takeTimer();
  timer->body = body;
  setDeadline(timer, monotonicNowNs() + delayMs * 1'000'000);
  return reinterpret_cast<TaskHandle>(timer);
}

// The timer of a task that has run is already spared, maybe already serving
// another task: hence only tasks that have not run may be cancelled.
void cancelDelayedTask(TaskHandle task) { spareTimer(reinterpret_cast<TimerSource*>(task)); }

void startBackgroundWorker(PlatformCallback body) {
  g_thread_unref(g_thread_new("command-reader", runWorker, reinterpret_cast<gpointer>(body)));
}

void exitProcess(int status) { _exit(status); }
