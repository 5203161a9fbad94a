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

BusSession startBusSession(int displayNumber, const std::string& configFile) {
  // The services the bus starts on demand (the accessibility bus and its
  // registry) inherit this environment, so they know the display.
  std::vector<std::string> arguments{"--", "/bin/sh", "-c", "echo \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat >/dev/null"};
  if (!configFile.empty()) arguments.insert(arguments.begin(), "--config-file=" + configFile);
  BusSession session;
  session.holder = startChild("/usr/bin/dbus-run-session", arguments, {displayVariable(displayNumber)});
  const std::vector<std::string> lines = readLines(session.holder, 1, startTimeoutMs);
  if (!lines.empty()) session.address = lines[0];
  return session;
}

void stopBusSession(BusSession& session) {
  // Closing its input ends the holder, and with it the bus and what the bus started.
  stopChild(session.holder, 5000);
}

Desktop startDesktop(const std::string& busConfigFile) {
  Desktop desktop;
  desktop.server = startXServer();
  if (desktop.server.pid <= 0) {
    desktop.failure = "Xvfb did not start";
    return desktop;
  }
  desktop.bus = startBusSession(desktop.server.number, busConfigFile);
  if (desktop.bus.address.empty()) {
    desktop.failure = "no D-Bus session";
    return desktop;
  }
  desktop.environment = {displayVariable(desktop.server.number), "DBUS_SESSION_BUS_ADDRESS=" + desktop.bus.address};
  return desktop;
}

void stopDesktop(Desktop& desktop) {
  stopBusSession(desktop.bus);
  stopXServer(desktop.server);
  desktop = {};
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

std::string askFocus(HelperProcess& helper, int timeoutMs) {
  if (!writeAll(helper.input, "check-focus\n")) return "[could not write]";
  const std::vector<std::string> reply = readLines(helper, 1, timeoutMs);
  return reply.empty() ? "[no reply]" : reply[0];
}

bool focusAnswerWithin(HelperProcess& helper, const std::string& expected, int withinMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(withinMs);
  do {
    if (askFocus(helper) == expected) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
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
