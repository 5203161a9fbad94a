// Feeds arbitrary bytes, in arbitrary chunks, to the command reader and
// checks its replies against a plain reference splitter: one reply for each
// complete line that is exactly the command, by the end of the chunk that
// completes it, and no other reply.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/platform.h"
#include "protocol/command_reader.h"
#include "protocol/emit.h"

namespace {

std::size_t replies = 0;

// What the reference splitter says: the answered lines among the complete
// lines of data, and whether the unterminated rest is one too.
std::size_t expectedReplies(std::string_view data, bool atEnd) {
  std::size_t count = 0;
  for (std::size_t lineFeed = data.find('\n'); lineFeed != std::string_view::npos; lineFeed = data.find('\n')) {
    std::string_view line = data.substr(0, lineFeed);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    count += line == "check-focus" ? 1 : 0;
    data.remove_prefix(lineFeed + 1);
  }
  if (atEnd && data == "check-focus") ++count;
  return count;
}

std::string_view countedFocus() {
  ++replies;
  return "none";
}

}  // namespace

// The reader loop is never entered here, so the process never has to end.
void exitProcess(int status) { _exit(status); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (outputFd == STDOUT_FILENO) {
    setOutputFd(open("/dev/null", O_WRONLY | O_CLOEXEC));
    setUpCommandReader(countedFocus);
  }
  if (size == 0) return 0;
  // The first byte picks the chunk sizes, so the fuzzer explores splits too.
  unsigned state = bytes[0] * 2654435761u + 1;
  const std::string_view data(reinterpret_cast<const char*>(bytes + 1), size - 1);
  replies = 0;
  std::size_t fed = 0;
  while (fed < data.size()) {
    state = state * 1103515245u + 12345u;
    const std::size_t chunk = 1 + (state >> 16) % (state % 5 == 0 ? 4096 : 16);
    const std::size_t take = std::min(chunk, data.size() - fed);
    consumeInput(data.substr(fed, take));
    fed += take;
    if (replies != expectedReplies(data.substr(0, fed), false)) std::abort();
  }
  finishInput();
  if (replies != expectedReplies(data, true)) std::abort();
  return 0;
}
