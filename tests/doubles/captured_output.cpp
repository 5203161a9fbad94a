#include "tests/doubles/captured_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "protocol/emit.h"

namespace {

int readEnd = -1;

}  // namespace

void startCapturingOutput() {
  if (readEnd < 0) {
    int fds[2];
    // pipe and fcntl rather than pipe2, which macOS lacks.
    if (pipe(fds) != 0) std::abort();
    readEnd = fds[0];
    setOutputFd(fds[1]);
    fcntl(readEnd, F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    fcntl(readEnd, F_SETFL, O_NONBLOCK);
  }
  takeOutputBytes();
}

std::string takeOutputBytes() {
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(readEnd, buffer, sizeof buffer);
    if (got <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

std::vector<std::string> takeOutputLines() {
  const std::string bytes = takeOutputBytes();
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = bytes.find('\n'); end != std::string::npos; end = bytes.find('\n', start)) {
    lines.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}
