// GLib and the libraries on it (libatspi among them) report trouble through
// GLib's logging, which writes to stderr; neither of the helper's processes
// ever does.
#pragma once

#include <glib.h>

inline void discardGLibLog() {
  g_log_set_writer_func([](GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; },
                        nullptr, nullptr);
  g_log_set_default_handler([](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
}
