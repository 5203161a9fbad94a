#include "main/standard_descriptors.h"

#include <fcntl.h>
#include <signal.h>
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

namespace {

void dropSignal(int) {}

}  // namespace

// Caught rather than ignored: an ignored signal stays ignored in every
// process the helper starts (its accessibility process, and whatever that
// starts in turn), while exec resets a caught one to its default.
void outliveClosedOutput() {
  struct sigaction action {};
  action.sa_handler = dropSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);
}
