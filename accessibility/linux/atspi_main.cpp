// ortel-atspi: the helper's accessibility process. The helper starts it from
// beside its own executable at its first focus query, with a request pipe as
// standard input, a reply pipe as standard output and /dev/null as standard
// error, and ends it when it is late (atspi_client.cpp); it ends itself when
// its bus has gone or it has grown, and the helper starts another.
// atspi_protocol.h has the lines. It is told nothing but these questions:
// no key the user presses ever reaches it.
//
// Between requests its main loop runs GLib's default context, which holds
// libatspi's bus connections, so whatever the buses send is read as it
// comes; the process sleeps while nothing does.
#include <glib-unix.h>
#include <glib.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <string>
#include <string_view>

#include "accessibility/linux/atspi_protocol.h"
#include "accessibility/linux/atspi_queries.h"
#include "platform/linux/glib_log.h"

namespace {

// libatspi keeps something of every application it has met for the life of
// the process: under 1 KiB to about 9 KiB each, once it has seen it go. So
// the process ends at the query after it has met this many, or after its
// heap has grown this much since its first answer for any other reason,
// and the helper asks a fresh one.
constexpr std::size_t maxApplicationsMet = 500;
constexpr std::size_t maxHeapGrowthBytes = 8 << 20;

std::size_t heapAtFirstAnswer = 0;
std::string partialRequest;

// The query under way: its system-wide element and focused element, kept
// for the questions that follow the focus question.
AxRef systemWide = nullptr;
AxRef focused = nullptr;

// What malloc has handed out and not been given back (zero under a
// sanitizer, whose allocator malloc's statistics do not see).
std::size_t heapInUse() {
  const struct mallinfo2 heap = mallinfo2();
  return heap.uordblks + heap.hblkhd;
}

bool wornOut() {
  return ortel_atspi_applications_met() > maxApplicationsMet ||
         (heapAtFirstAnswer > 0 && heapInUse() > heapAtFirstAnswer + maxHeapGrowthBytes);
}

void reply(std::string_view sequence, std::string_view answer) {
  std::string line(sequence);
  line.push_back(' ');
  line.append(answer);
  line.push_back('\n');
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t written = write(STDOUT_FILENO, line.data() + done, line.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) _exit(0);  // the helper has gone
    done += static_cast<std::size_t>(written);
  }
}

void endQuery() {
  if (focused != nullptr) ortel_atspi_release(focused);
  if (systemWide != nullptr) ortel_atspi_release(systemWide);
  focused = nullptr;
  systemWide = nullptr;
}

// An attribute's string value: a text field, or noText.
std::string stringAttribute(const char* attribute) {
  AxRef value = nullptr;
  const bool answered = ortel_atspi_copy_attribute_value(focused, attribute, &value);
  const char* text = answered && value != nullptr ? ortel_atspi_string_value(value) : nullptr;
  std::string field = text != nullptr ? textField(text) : std::string(noText);
  if (value != nullptr) ortel_atspi_release(value);
  return field;
}

std::string answerFocus() {
  endQuery();
  systemWide = ortel_atspi_create_system_wide();
  const bool answered = ortel_atspi_copy_attribute_value(systemWide, "AXFocusedUIElement", &focused);
  if (!answered || focused == nullptr) return std::string(answerNone);
  const std::string role = stringAttribute("AXRole");
  bool settable = false;
  const bool settableAnswered = ortel_atspi_is_attribute_settable(focused, "AXValue", &settable);
  std::string answer(answerFound);
  answer += settableAnswered ? (settable ? " true " : " false ") : " - ";
  answer += role;
  return answer;
}

std::string answerSelectedText() {
  if (focused == nullptr) return std::string(answerNo);
  AxRef value = nullptr;
  const bool answered = ortel_atspi_copy_attribute_value(focused, "AXSelectedText", &value);
  if (value != nullptr) ortel_atspi_release(value);
  return std::string(answered ? answerYes : answerNo);
}

void handleRequest(std::string_view line) {
  const std::size_t firstSpace = line.find(' ');
  const std::size_t secondSpace = line.find(' ', firstSpace + 1);
  if (firstSpace == std::string_view::npos || secondSpace == std::string_view::npos) return;
  const std::string_view sequence = line.substr(0, firstSpace);
  const std::string_view deadline = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  const std::string_view question = line.substr(secondSpace + 1);
  gint64 deadlineUs = 0;
  if (std::from_chars(deadline.data(), deadline.data() + deadline.size(), deadlineUs).ec != std::errc()) return;
  // The helper has stopped waiting: answering would only cost the applications' time.
  if (deadlineUs <= g_get_monotonic_time()) return;
  ortel_atspi_set_deadline(deadlineUs);

  if (question == questionFocus) {
    // Without an answer: the helper asks a fresh process at once.
    if (ortel_atspi_bus_lost() || wornOut()) _exit(0);
    reply(sequence, answerFocus());
    if (ortel_atspi_start_failed()) _exit(0);  // the helper tries again later, with a fresh process
    if (heapAtFirstAnswer == 0) heapAtFirstAnswer = heapInUse();
  } else if (question == questionSelectedText) {
    reply(sequence, answerSelectedText());
  } else if (question == questionRoleDescription) {
    reply(sequence, focused != nullptr ? stringAttribute("AXRoleDescription") : std::string(noText));
  }
}

gboolean onRequests(gint fd, GIOCondition, gpointer) {
  char buffer[4096];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got < 0 && errno == EINTR) return G_SOURCE_CONTINUE;
  if (got <= 0) _exit(0);  // the helper has ended
  partialRequest.append(buffer, static_cast<std::size_t>(got));
  std::size_t start = 0;
  for (std::size_t end = partialRequest.find('\n'); end != std::string::npos;
       end = partialRequest.find('\n', start)) {
    handleRequest(std::string_view(partialRequest).substr(start, end - start));
    start = end + 1;
  }
  partialRequest.erase(0, start);
  if (partialRequest.size() > maxRequestBytes) _exit(0);  // not the helper talking
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main() {
  // Never outlive the helper, even while stuck in a call that has no
  // timeout; and if it ended before this line, its end of the request pipe
  // is already closed.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  pollfd requests{STDIN_FILENO, POLLIN, 0};
  if (poll(&requests, 1, 0) == 1 && (requests.revents & (POLLHUP | POLLERR)) != 0) _exit(0);
  // Should a library abort, no core file is left behind.
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);

  // Standard error is /dev/null already; this spares the formatting.
  discardGLibLog();

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_unix_fd_add(STDIN_FILENO, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), onRequests, nullptr);
  g_main_loop_run(loop);
  return 0;
}
