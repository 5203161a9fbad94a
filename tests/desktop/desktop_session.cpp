#include "tests/desktop/desktop_session.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr int startTimeoutMs = 15000;

}  // namespace

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
