#include "main/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

void openStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lower ones are open by now, so this takes fd itself: input that
    // ends at once, output that goes nowhere. Should /dev/null be missing,
    // there is nothing better to put there and the helper goes on as before.
    const int opened = open("/dev/null", O_RDWR);
    static_cast<void>(opened);
  }
}
