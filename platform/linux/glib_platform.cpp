// Platform services on GLib. The main thread runs its loop on a context of
// its own, and no main-thread source may ever land on the global default
// context (g_timeout_add, g_idle_add and g_unix_fd_add would put it there):
// libraries such as libatspi bind themselves to that one and dispatch on
// whichever thread calls them. (AT-SPI now runs in a process of its own.)
#include <glib.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include "platform/linux/main_context.h"
#include "platform/platform.h"

namespace {

GMainContext* helperContext = nullptr;

gboolean runRepeating(gpointer body) {
  reinterpret_cast<PlatformCallback>(body)();
  return G_SOURCE_CONTINUE;
}

gboolean runOnce(gpointer body) {
  reinterpret_cast<PlatformCallback>(body)();
  return G_SOURCE_REMOVE;
}

// GLib and the libraries on it (libatspi among them) report trouble
// through GLib's logging, which writes to stderr; the helper never does.
void discardLogMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}
GLogWriterOutput discardLogRecord(GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; }

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
struct TimerSource {
  GSource base;
  int fd;
};

gboolean dispatchTimer(GSource*, GSourceFunc callback, gpointer body) { return callback(body); }

void finalizeTimer(GSource* source) { close(reinterpret_cast<TimerSource*>(source)->fd); }

// No prepare or check: GLib dispatches a source once one of its fds polled ready.
GSourceFuncs timerSourceFuncs = {nullptr, nullptr, dispatchTimer, finalizeTimer, nullptr, nullptr};

// -1 when the kernel gives no timer (out of descriptors, say).
int armedTimerFd(std::int64_t delayMs) {
  const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd < 0) return -1;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const std::int64_t deadlineNs =
      static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec + delayMs * 1'000'000;
  itimerspec expiry{};
  expiry.it_value.tv_sec = static_cast<time_t>(deadlineNs / 1'000'000'000);
  expiry.it_value.tv_nsec = static_cast<long>(deadlineNs % 1'000'000'000);
  if (timerfd_settime(fd, TFD_TIMER_ABSTIME, &expiry, nullptr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

guint attachPreciseTask(std::int64_t delayMs, PlatformCallback body) {
  const int fd = armedTimerFd(delayMs);
  // GLib's timeout keeps the deadline too, only less closely.
  if (fd < 0) return attachTimeout(delayMs, runOnce, body);
  GSource* source = g_source_new(&timerSourceFuncs, sizeof(TimerSource));
  reinterpret_cast<TimerSource*>(source)->fd = fd;
  g_source_add_unix_fd(source, fd, G_IO_IN);
  // As for the display source: no wake-ups of the loop around the dispatch.
  g_source_set_can_recurse(source, TRUE);
  g_source_set_callback(source, runOnce, reinterpret_cast<gpointer>(body), nullptr);
  const guint id = g_source_attach(source, mainThreadContext());
  g_source_unref(source);
  return id;
}

}  // namespace

GMainContext* mainThreadContext() {
  if (helperContext == nullptr) {
    // First use comes from start-up on the main thread, before the reader
    // thread exists, which is when the log handlers must be in place.
    g_log_set_writer_func(discardLogRecord, nullptr, nullptr);
    g_log_set_default_handler(discardLogMessage, nullptr);
    helperContext = g_main_context_new();
    g_main_context_push_thread_default(helperContext);
  }
  return helperContext;
}

void runApplicationLoop() {
  GMainLoop* loop = g_main_loop_new(mainThreadContext(), FALSE);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
}

void scheduleRepeatingTimer(std::int64_t intervalMs, PlatformCallback body) {
  attachTimeout(intervalMs, runRepeating, body);
}

TaskHandle scheduleDelayedTask(std::int64_t delayMs, PlatformCallback body) {
  const guint id = attachPreciseTask(delayMs, body);
  return static_cast<TaskHandle>(GUINT_TO_POINTER(id));
}

void cancelDelayedTask(TaskHandle task) {
  GSource* source = g_main_context_find_source_by_id(mainThreadContext(), GPOINTER_TO_UINT(task));
  if (source != nullptr) g_source_destroy(source);
}

void startBackgroundWorker(PlatformCallback body) {
  g_thread_unref(g_thread_new("command-reader", runWorker, reinterpret_cast<gpointer>(body)));
}

void exitProcess(int status) { _exit(status); }
