// The element calls of the accessibility seam, answered by the helper's
// accessibility process, ortel-atspi (atspi_main.cpp), which runs the AT-SPI
// client. Reader thread only.
//
// AT-SPI lives in a process of its own because that is the only way to keep
// every answer within its bound whatever the accessibility stack does: the
// start of libatspi blocks without a timeout while the bus, its launcher or
// the X server is stopped, and cannot be done a second time in one process
// once its bus has gone; and what libatspi keeps of each application it has
// met is only given back when its process ends. So the helper waits for the
// process no longer than the query's deadline, ends it when it is late,
// and starts another at the next query when it has ended (its bus gone, or
// grown past its bound). The process is started at the first query: a
// parent that never asks for focus never pays for it.
//
// The process's answers for one query are kept here between the seam's
// calls: the focus question brings the role and the settable answer with
// it, so an editable text field costs one exchange, a button three.
#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "accessibility/ax.h"
#include "accessibility/linux/atspi_protocol.h"

extern char** environ;

namespace {

// Every answer within about a second, the first included, whatever the
// accessibility stack does.
constexpr gint64 queryBudgetUs = 1'000'000;
// The process stops asking applications this long before the helper stops
// waiting, so that a healthy process is never late.
constexpr gint64 replyMarginUs = 100'000;
// A process that cannot start (no bus) is not started again at every
// query; and after one that was late (stuck on a stopped bus or X server)
// the next waits a while, so that a parent asking many times a second while
// the stack is stuck gets most answers at once rather than each in a second.
constexpr gint64 startIntervalUs = 1'000'000;
constexpr gint64 restartAfterLateUs = 3'000'000;

pid_t processId = -1;
int requestFd = -1;
// The request pipe's read end, kept open here too: a write to a process
// that has ended then fills the pipe instead of raising SIGPIPE, and the
// end shows on the reply pipe.
int requestReadFd = -1;
int replyFd = -1;
std::string replyPending;
unsigned long long lastSequence = 0;
gint64 nextStartUs = 0;

gint64 queryDeadlineUs = 0;

// The answers of the query under way.
bool roleAnswered = false;
std::string role;
bool settableAnswered = false;
bool settable = false;

char systemWideMarker;
char focusedMarker;
AxObject* const systemWideElement = reinterpret_cast<AxObject*>(&systemWideMarker);
AxObject* const focusedElement = reinterpret_cast<AxObject*>(&focusedMarker);

// Any other reference is a string value.
AxRef stringValue(std::string_view text) { return reinterpret_cast<AxRef>(new std::string(text)); }

void closeDescriptor(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

void endProcess() {
  if (processId > 0) {
    kill(processId, SIGKILL);
    while (waitpid(processId, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  processId = -1;
  closeDescriptor(requestFd);
  closeDescriptor(requestReadFd);
  closeDescriptor(replyFd);
  replyPending.clear();
}

// Beside the helper's own executable, never on a search path.
std::string processPath() {
  gchar* executable = g_file_read_link("/proc/self/exe", nullptr);
  if (executable == nullptr) return {};
  gchar* directory = g_path_get_dirname(executable);
  gchar* path = g_build_filename(directory, atspiProcessName, nullptr);
  std::string result(path);
  g_free(path);
  g_free(directory);
  g_free(executable);
  return result;
}

bool startProcess() {
  const gint64 nowUs = g_get_monotonic_time();
  if (nowUs < nextStartUs) return false;
  nextStartUs = nowUs + startIntervalUs;
  const std::string path = processPath();
  int requests[2];
  int replies[2];
  if (path.empty() || pipe2(requests, O_CLOEXEC) != 0) return false;
  if (pipe2(replies, O_CLOEXEC) != 0) {
    close(requests[0]);
    close(requests[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, requests[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, replies[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // Nothing else of the helper's: not its input, not its X connection.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  char* argv[] = {const_cast<char*>(atspiProcessName), nullptr};
  const bool started = posix_spawn(&processId, path.c_str(), &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(replies[1]);
  requestFd = requests[1];
  requestReadFd = requests[0];
  replyFd = replies[0];
  if (!started) {
    processId = -1;
    endProcess();
    return false;
  }
  // A full pipe means the process stopped reading: it is late, not a reason to block.
  fcntl(requestFd, F_SETFL, O_NONBLOCK);
  return true;
}

enum class Outcome { answered, ended, late };

bool sendRequest(std::string_view question) {
  std::string line = std::to_string(++lastSequence);
  line += ' ';
  line += std::to_string(queryDeadlineUs - replyMarginUs);
  line += ' ';
  line.append(question);
  line += '\n';
  ssize_t written = -1;
  do {
    written = write(requestFd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  // Shorter than PIPE_BUF: written whole or not at all.
  return written == static_cast<ssize_t>(line.size());
}

// Takes the reply to the last request from the lines read so far, dropping
// replies to earlier ones.
bool takeReply(std::string* answer) {
  const std::string awaited = std::to_string(lastSequence) + ' ';
  std::size_t start = 0;
  bool found = false;
  for (std::size_t end = replyPending.find('\n'); end != std::string::npos && !found;
       end = replyPending.find('\n', start)) {
    if (replyPending.compare(start, awaited.size(), awaited) == 0) {
      answer->assign(replyPending, start + awaited.size(), end - start - awaited.size());
      found = true;
    }
    start = end + 1;
  }
  replyPending.erase(0, start);
  return found;
}

Outcome awaitReply(std::string* answer) {
  for (;;) {
    if (takeReply(answer)) return Outcome::answered;
    if (replyPending.size() > maxReplyBytes) return Outcome::ended;
    const gint64 leftUs = queryDeadlineUs - g_get_monotonic_time();
    if (leftUs <= 0) return Outcome::late;
    pollfd readable{replyFd, POLLIN, 0};
    const int ready = poll(&readable, 1, static_cast<int>((leftUs + 999) / 1000));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return Outcome::late;
    char buffer[4096];
    const ssize_t got = read(replyFd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return Outcome::ended;
    replyPending.append(buffer, static_cast<std::size_t>(got));
  }
}

// Asks the process; a process that has ended is replaced and asked again
// when the question starts a query (later ones are about its focused
// element, which a new process does not have). A late one is ended: it is
// stuck where only its end can free it.
bool ask(std::string_view question, std::string* answer) {
  const bool mayRestart = question == questionFocus;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (processId < 0 && (attempt > 0 || mayRestart) && !startProcess()) return false;
    if (processId < 0) return false;
    const Outcome outcome = sendRequest(question) ? awaitReply(answer) : Outcome::late;
    if (outcome == Outcome::answered) return true;
    endProcess();
    if (outcome == Outcome::late) {
      nextStartUs = std::max(nextStartUs, g_get_monotonic_time() + restartAfterLateUs);
      return false;
    }
    if (!mayRestart) return false;
  }
  return false;
}

bool askFocus() {
  roleAnswered = false;
  settableAnswered = false;
  std::string answer;
  if (!ask(questionFocus, &answer)) return false;
  // "found SETTABLE ROLE"
  const std::string_view reply = answer;
  if (reply.substr(0, answerFound.size() + 1) != std::string(answerFound) + ' ') return false;
  const std::string_view fields = reply.substr(answerFound.size() + 1);
  const std::size_t space = fields.find(' ');
  if (space == std::string_view::npos) return false;
  const std::string_view settableField = fields.substr(0, space);
  const std::string_view roleField = fields.substr(space + 1);
  settableAnswered = settableField == "true" || settableField == "false";
  settable = settableField == "true";
  roleAnswered = !roleField.empty() && roleField[0] == '=';
  if (roleAnswered) role = roleField.substr(1);
  return true;
}

}  // namespace

// A query starts here: its deadline runs from now.
AxRef axCreateSystemWide() {
  queryDeadlineUs = g_get_monotonic_time() + queryBudgetUs;
  roleAnswered = false;
  settableAnswered = false;
  return systemWideElement;
}

bool axCopyAttributeValue(AxRef element, const char* attribute, AxRef* value) {
  *value = nullptr;
  if (element == systemWideElement) {
    if (std::strcmp(attribute, "AXFocusedUIElement") != 0 || !askFocus()) return false;
    *value = focusedElement;
    return true;
  }
  if (element != focusedElement) return false;
  if (std::strcmp(attribute, "AXRole") == 0) {
    if (roleAnswered) *value = stringValue(role);
    return roleAnswered;
  }
  std::string answer;
  if (std::strcmp(attribute, "AXSelectedText") == 0) {
    if (!ask(questionSelectedText, &answer) || answer != answerYes) return false;
    *value = stringValue("");
    return true;
  }
  if (std::strcmp(attribute, "AXRoleDescription") == 0) {
    if (!ask(questionRoleDescription, &answer) || answer.empty() || answer[0] != '=') return false;
    *value = stringValue(std::string_view(answer).substr(1));
    return true;
  }
  return false;
}

bool axIsAttributeSettable(AxRef element, const char* attribute, bool* isSettable) {
  if (element != focusedElement || std::strcmp(attribute, "AXValue") != 0 || !settableAnswered) return false;
  *isSettable = settable;
  return true;
}

bool axStringValue(AxRef value, std::string* text) {
  if (value == nullptr || value == systemWideElement || value == focusedElement) return false;
  *text = *reinterpret_cast<std::string*>(value);
  return true;
}

// The query's answers are dropped with it at the next query's start.
void axRelease(AxRef ref) {
  if (ref != nullptr && ref != systemWideElement && ref != focusedElement) delete reinterpret_cast<std::string*>(ref);
}
