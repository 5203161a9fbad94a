#include "tests/desktop/desktop_session.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr int startTimeoutMs = 15000;

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

bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

}  // namespace

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
  if (number >= 0) arguments.insert(arguments.begin() + 1, ":" + std::to_string(number));
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
  while (server.pid > 0 && written.find('\n') == std::string::npos && poll(&readable, 1, startTimeoutMs) > 0) {
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

BusSession startBusSession(int displayNumber) {
  // The services the bus starts on demand (the accessibility bus and its
  // registry) inherit this environment, so they know the display.
  BusSession session;
  session.holder = startChild("/usr/bin/dbus-run-session",
                              {"--", "/bin/sh", "-c", "echo \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat >/dev/null"},
                              {displayVariable(displayNumber)});
  const std::vector<std::string> lines = readLines(session.holder, 1, startTimeoutMs);
  if (!lines.empty()) session.address = lines[0];
  return session;
}

void stopBusSession(BusSession& session) {
  // Closing its input ends the holder, and with it the bus and what the bus started.
  if (session.holder.input >= 0) close(session.holder.input);
  session.holder.input = -1;
  if (session.holder.pid > 0 && !waitForExit(session.holder.pid, 5000)) endProcess(session.holder.pid);
  stopChild(session.holder);
}

HelperProcess startTestWindow(const std::vector<std::string>& environment) {
  // The system's python3: another one earlier on PATH may lack the gi module.
  std::vector<std::string> withBackend = environment;
  withBackend.emplace_back("GDK_BACKEND=x11");
  HelperProcess window = startChild("/usr/bin/python3", {ORTEL_TEST_WINDOW}, withBackend);
  if (readLines(window, 1, startTimeoutMs) != std::vector<std::string>{"ready"}) stopChild(window);
  return window;
}

bool focusInWindow(HelperProcess& window, const std::string& name) {
  if (window.pid <= 0 || !writeAll(window.input, "focus " + name + "\n")) return false;
  return readLines(window, 1, startTimeoutMs) == std::vector<std::string>{"focused " + name};
}

bool activateWindow(HelperProcess& window) {
  if (window.pid <= 0 || !writeAll(window.input, "activate\n")) return false;
  return readLines(window, 1, startTimeoutMs) == std::vector<std::string>{"active"};
}

bool awaitInactive(HelperProcess& window) {
  if (window.pid <= 0 || !writeAll(window.input, "await-inactive\n")) return false;
  return readLines(window, 1, startTimeoutMs) == std::vector<std::string>{"inactive"};
}

void stopChild(HelperProcess& child) {
  if (child.pid > 0) {
    kill(child.pid, SIGCONT);  // a stopped child would never see its SIGTERM
    endProcess(child.pid);
  }
  for (int fd : {child.input, child.output, child.error}) {
    if (fd >= 0) close(fd);
  }
  child = {};
}

bool injectKeys(int displayNumber, const std::vector<std::string>& steps) {
  HelperProcess injector = startChild(ORTEL_XINJECT_PATH, steps, {displayVariable(displayNumber)});
  if (injector.pid <= 0) return false;
  close(injector.input);
  injector.input = -1;
  int status = 0;
  waitpid(injector.pid, &status, 0);
  injector.pid = -1;
  stopChild(injector);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void expectCleanEnd(HelperProcess& helper) {
  if (helper.pid <= 0) return;  // never started: nothing to end, and no wait for any other child
  HelperRun end = finishHelper(helper);
  EXPECT_EQ(end.lines, std::vector<std::string>{});
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.standardError, "");
}
