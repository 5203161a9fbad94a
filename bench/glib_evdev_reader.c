/* The bare reader of bare_evdev_reader.c on GLib's loop, as the helper
 * runs it: a context of its own, the device as a unix fd source, a 1.5 s
 * timeout beside it. What the helper's figures owe to the loop.
 *
 *   ortel-glib-evdev-reader /dev/input/eventN
 */
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <linux/input.h>
#include <stdio.h>
#include <unistd.h>

static gboolean onDevice(gint device, GIOCondition condition, gpointer unused) {
  (void)condition;
  (void)unused;
  struct input_event events[64];
  ssize_t got = read(device, events, sizeof events);
  for (size_t i = 0; got > 0 && i < (size_t)got / sizeof events[0]; ++i) {
    if (events[i].type != EV_KEY || events[i].value == 2) continue;
    char line[32];
    int length = snprintf(line, sizeof line, "key %u %d\n", events[i].code, events[i].value);
    if (write(1, line, (size_t)length) != length) return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

static gboolean onTimeout(gpointer unused) {
  (void)unused;
  return G_SOURCE_CONTINUE;
}

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  int device = open(argv[1], O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (device < 0) return 1;
  GMainContext *context = g_main_context_new();
  g_main_context_push_thread_default(context);
  GSource *source = g_unix_fd_source_new(device, G_IO_IN);
  g_source_set_callback(source, G_SOURCE_FUNC(onDevice), NULL, NULL);
  g_source_set_can_recurse(source, TRUE);
  g_source_attach(source, context);
  GSource *timeout = g_timeout_source_new(1500);
  g_source_set_callback(timeout, onTimeout, NULL, NULL);
  g_source_attach(timeout, context);
  if (write(1, "ready\n", 6) != 6) return 1;
  g_main_loop_run(g_main_loop_new(context, FALSE));
  return 0;
}
