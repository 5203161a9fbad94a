/* The least a program can do to turn key events into lines: the floor the
 * helper's event devices' latency is measured against. Reads one event
 * device and writes "key CODE VALUE" for each press and release, with one
 * write each, unbuffered.
 *
 *   ortel-bare-evdev-reader /dev/input/eventN
 */
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  int device = open(argv[1], O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (device < 0) return 1;
  if (write(1, "ready\n", 6) != 6) return 1;
  for (;;) {
    struct pollfd ready = {device, POLLIN, 0};
    if (poll(&ready, 1, -1) < 0) continue;
    struct input_event events[64];
    ssize_t got = read(device, events, sizeof events);
    if (got <= 0) continue;
    for (size_t i = 0; i < (size_t)got / sizeof events[0]; ++i) {
      if (events[i].type != EV_KEY || events[i].value == 2) continue;
      char line[32];
      int length = snprintf(line, sizeof line, "key %u %d\n", events[i].code, events[i].value);
      if (write(1, line, (size_t)length) != length) return 0;
    }
  }
}
