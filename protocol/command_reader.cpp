#include "protocol/command_reader.h"

#include <cerrno>
#include <string>

#include <unistd.h>

#include "platform/platform.h"
#include "protocol/emit.h"
#include "protocol/lines.h"

namespace {

FocusQuery focusQuery = nullptr;

// The line read so far, up to maxCommandBytes; past that the rest of the
// line is skipped up to its line feed rather than kept.
std::string partialLine;
bool skippingLongLine = false;

void endLine() {
  if (!skippingLongLine) {
    std::string_view line = partialLine;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    handleCommand(line);
  }
  partialLine.clear();
  skippingLongLine = false;
}

void appendToLine(std::string_view piece) {
  if (skippingLongLine) return;
  if (partialLine.size() + piece.size() > maxCommandBytes) {
    partialLine.clear();
    skippingLongLine = true;
    return;
  }
  partialLine.append(piece);
}

}  // namespace

void setUpCommandReader(FocusQuery query) { focusQuery = query; }

void handleCommand(std::string_view line) {
  if (line != commandCheckFocus) return;
  std::string reply(lineFocusPrefix);
  reply.append(focusQuery());
  emit(reply);
}

void consumeInput(std::string_view chunk) {
  while (!chunk.empty()) {
    const std::size_t lineFeed = chunk.find('\n');
    if (lineFeed == std::string_view::npos) {
      appendToLine(chunk);
      return;
    }
    appendToLine(chunk.substr(0, lineFeed));
    endLine();
    chunk.remove_prefix(lineFeed + 1);
  }
}

void finishInput() {
  // A last line without a line feed counts; its CR is kept, as only a CR
  // directly before a line feed belongs to the terminator.
  if (!skippingLongLine && !partialLine.empty()) handleCommand(partialLine);
  partialLine.clear();
  skippingLongLine = false;
}

void readCommandsFrom(int fd) {
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    consumeInput(std::string_view(buffer, static_cast<std::size_t>(got)));
  }
  finishInput();
}

void readCommands() {
  readCommandsFrom(STDIN_FILENO);
  exitProcess(0);
}
