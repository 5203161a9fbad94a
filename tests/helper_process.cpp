#include "tests/helper_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

constexpr int serverStartTimeoutMs = 15000;

bool isDesktopVariable(const char* entry) {
  for (const char* prefix :
       {"DISPLAY=", "WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=", "DBUS_SESSION_BUS_ADDRESS=", "AT_SPI_BUS_ADDRESS="}) {
    if (std::strncmp(entry, prefix, std::strlen(prefix)) == 0) return true;
  }
  return false;
}

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Reads what is there within timeoutMs into the sink; false at end of file.
bool readSome(int fd, std::string& sink, int timeoutMs) {
  pollfd ready{fd, POLLIN, 0};
  if (poll(&ready, 1, timeoutMs) <= 0) return true;
  char buffer[65536];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got <= 0) return false;
  sink.append(buffer, static_cast<std::size_t>(got));
  return true;
}

void splitLines(std::string& pending, std::vector<std::string>& lines) {
  std::size_t start = 0;
  for (std::size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n', start)) {
    lines.push_back(pending.substr(start, end - start));
    start = end + 1;
  }
  pending.erase(0, start);
}

bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

}  // namespace

// ORTEL_PLAIN_HELPER names a helper built without sanitizers, so that its
// memory figures are the real ones.
const char* helperPath() {
  const char* plain = std::getenv("ORTEL_PLAIN_HELPER");
  return plain != nullptr && *plain != '\0' ? plain : ORTEL_HELPER_PATH;
}

std::vector<std::string> childEnvironment(const std::vector<std::string>& extraEnvironment) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!isDesktopVariable(*entry)) environment.emplace_back(*entry);
  }
  environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
  return environment;
}

HelperProcess startChild(const std::string& path, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& extraEnvironment, int closedDescriptor) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  if (closedDescriptor >= 0 && closedDescriptor <= 2) posix_spawn_file_actions_addclose(&actions, closedDescriptor);
  // Only the three pipes, as a parent application passes them: nothing the
  // test runner left open without close-on-exec reaches the child.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  std::vector<std::string> argumentStore{path};
  argumentStore.insert(argumentStore.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argumentStore) argv.push_back(argument.data());
  argv.push_back(nullptr);

  std::vector<std::string> environmentStore = childEnvironment(extraEnvironment);
  std::vector<char*> envp;
  for (std::string& entry : environmentStore) envp.push_back(entry.data());
  envp.push_back(nullptr);

  HelperProcess child;
  if (posix_spawn(&child.pid, path.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) child.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  child.input = in[1];
  child.output = out[0];
  child.error = err[0];
  // A child that died early must not kill the test with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  return child;
}

HelperProcess startHelper(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& extraEnvironment, int closedDescriptor) {
  return startChild(helperPath(), arguments, extraEnvironment, closedDescriptor);
}

std::vector<std::string> readLines(HelperProcess& helper, std::size_t count, int timeoutMs) {
  std::vector<std::string> lines;
  const std::int64_t deadline = nowMs() + timeoutMs;
  splitLines(helper.pending, lines);
  while (lines.size() < count && nowMs() < deadline) {
    if (!readSome(helper.output, helper.pending, static_cast<int>(deadline - nowMs()))) break;
    splitLines(helper.pending, lines);
  }
  // Keep any lines beyond count for the next read.
  while (lines.size() > count) {
    helper.pending = lines.back() + "\n" + helper.pending;
    lines.pop_back();
  }
  return lines;
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

HelperRun finishHelper(HelperProcess& helper, int timeoutMs) {
  HelperRun run;
  if (helper.input >= 0) close(helper.input);
  helper.input = -1;
  const std::int64_t deadline = nowMs() + timeoutMs;
  std::string output = helper.pending;
  bool outputOpen = helper.output >= 0, errorOpen = helper.error >= 0;  // a test may have closed one
  while ((outputOpen || errorOpen) && nowMs() < deadline) {
    pollfd fds[2] = {{outputOpen ? helper.output : -1, POLLIN, 0}, {errorOpen ? helper.error : -1, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(deadline - nowMs())) <= 0) break;
    if (fds[0].revents != 0) outputOpen = readSome(helper.output, output, 0);
    if (fds[1].revents != 0) errorOpen = readSome(helper.error, run.standardError, 0);
  }
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(helper.pid, &status, WNOHANG)) == 0 && nowMs() < deadline) {
    usleep(2000);
  }
  if (ended == 0) {
    kill(helper.pid, SIGKILL);
    waitpid(helper.pid, &status, 0);
    run.standardError += "[the helper did not end in time]";
  } else if (WIFEXITED(status)) {
    run.exitStatus = WEXITSTATUS(status);
  }
  close(helper.output);
  close(helper.error);
  run.rawOutput = output;
  splitLines(output, run.lines);
  if (!output.empty()) run.lines.push_back(output + "[no line feed]");
  return run;
}

HelperRun runHelperToEnd(const std::vector<std::string>& arguments, const std::string& input) {
  HelperProcess helper = startHelper(arguments);
  writeAll(helper.input, input);
  return finishHelper(helper);
}

long residentKiB(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  }
  return -1;
}

bool endsWithin(const HelperProcess& child, int timeoutMs) {
  const std::int64_t deadline = nowMs() + timeoutMs;
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return true;
    if (info.si_pid == child.pid) return true;
    if (nowMs() >= deadline) return false;
    usleep(2000);
  }
}

std::string descriptorTarget(pid_t pid, int fd) {
  const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
  char target[256];
  const ssize_t length = readlink(link.c_str(), target, sizeof target);
  return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

bool helperIsSanitized() { return helperPath() == std::string_view(ORTEL_HELPER_PATH) && ORTEL_HELPER_SANITIZED; }

bool waitForExit(pid_t pid, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

void endProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  if (!waitForExit(pid, 5000)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

XServer startXServer(int number) {
  // Xvfb writes the display number to -displayfd once it accepts connections.
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> arguments{"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "800x600x24"};
  // Appended rather than ":" + to_string(): GCC 12 at -O3 takes the latter
  // for an overlapping copy and stops the build (-Werror=restrict).
  std::string display = ":";
  display += std::to_string(number);
  if (number >= 0) arguments.insert(arguments.begin() + 1, display);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> environmentStore = childEnvironment({});
  std::vector<char*> envp;
  for (std::string& entry : environmentStore) envp.push_back(entry.data());
  envp.push_back(nullptr);

  XServer server;
  if (posix_spawnp(&server.pid, "Xvfb", &actions, nullptr, argv.data(), envp.data()) != 0) server.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(ready[1]);
  std::string written;
  pollfd readable{ready[0], POLLIN, 0};
  while (server.pid > 0 && written.find('\n') == std::string::npos && poll(&readable, 1, serverStartTimeoutMs) > 0) {
    char buffer[32];
    const ssize_t got = read(ready[0], buffer, sizeof buffer);
    if (got <= 0) break;
    written.append(buffer, static_cast<std::size_t>(got));
  }
  close(ready[0]);
  if (written.find('\n') == std::string::npos) {
    endProcess(server.pid);
    return {};
  }
  server.number = std::stoi(written);
  return server;
}

void stopXServer(XServer& server) {
  endProcess(server.pid);
  server = {};
}

int unusedDisplayNumber() {
  for (int number = 200 + getpid() % 400;; ++number) {
    const std::string n = std::to_string(number);
    if (!exists("/tmp/.X" + n + "-lock") && !exists("/tmp/.X11-unix/X" + n)) return number;
  }
}

std::string displayVariable(int number) { return "DISPLAY=:" + std::to_string(number); }
