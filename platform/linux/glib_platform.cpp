// Platform services on GLib. The main thread runs its loop on a context of
// its own: libatspi binds itself to GLib's global default context and
// dispatches on whichever thread calls it, and that thread is the command
// reader. So no main-thread source may ever land on the default context
// (g_timeout_add, g_idle_add and g_unix_fd_add would put it there).
#include <glib.h>
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
  const guint id = attachTimeout(delayMs, runOnce, body);
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
