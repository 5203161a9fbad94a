#include "protocol/emit.h"

#include <cerrno>
#include <mutex>
#include <string>

#include <unistd.h>

int outputFd = STDOUT_FILENO;

namespace {

// A line longer than the pipe's atomic size can be split across write calls;
// the lock keeps the other thread's lines from landing inside it.
std::mutex writeLock;

void writeAll(int fd, const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, bytes, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // nobody is left to tell
    }
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
}

}  // namespace

void emit(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 1);
  line.append(text);
  line.push_back('\n');
  const std::lock_guard<std::mutex> hold(writeLock);
  writeAll(outputFd, line.data(), line.size());
}

void setOutputFd(int fd) {
  const std::lock_guard<std::mutex> hold(writeLock);
  outputFd = fd;
}
