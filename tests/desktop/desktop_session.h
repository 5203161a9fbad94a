// The parts of a desktop session, started headless for the end-to-end tests:
// a private X server, a D-Bus session and a small GTK window, plus the key
// injector. Every start has a stop; a test's fixture tears down in reverse.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/expected_lines.h"
#include "tests/helper_process.h"

// The X server itself (startXServer, stopXServer) is in helper_process.h.

// dbus-run-session around a process that waits for its input to close.
struct BusSession {
  HelperProcess holder;
  std::string address;
};
// configFile: the bus's configuration, when not the session's own.
BusSession startBusSession(int displayNumber, const std::string& configFile = "");
void stopBusSession(BusSession& session);

// A private X server with a D-Bus session on it: where every focus test
// starts. In a fixture:
//
//   void SetUp() override {
//     desktop = startDesktop();
//     ASSERT_EQ(desktop.failure, "");
//     helper = startHelper({}, desktop.environment);
//   }
//   void TearDown() override { stopDesktop(desktop); }
struct Desktop {
  XServer server;
  BusSession bus;
  // DISPLAY and DBUS_SESSION_BUS_ADDRESS, for every child on this desktop.
  std::vector<std::string> environment;
  std::string failure;  // what did not start; empty once both are up
};
Desktop startDesktop(const std::string& busConfigFile = "");
// Stops the bus (closing its input: dbus-run-session ends its bus only
// then), then the server; what ran on them is the caller's to stop first.
void stopDesktop(Desktop& desktop);

// The GTK window of tests/desktop/test_window.py; see there for its commands.
HelperProcess startTestWindow(const std::vector<std::string>& environment);
// Asks the window to give focus to name; true once it says it has.
bool focusInWindow(HelperProcess& window, const std::string& name);
// Gives the window the X input focus; true once it is the active window.
bool activateWindow(HelperProcess& window);
// True once the window has seen another take the focus from it.
bool awaitInactive(HelperProcess& window);

// Sends check-focus and returns the reply, or "[no reply]" after timeoutMs.
std::string askFocus(HelperProcess& helper, int timeoutMs = 5000);
// Asks every 100 ms until the reply is expected or withinMs has passed.
// Bounded by time, not by a count of questions: a helper that passes over an
// application answers "none" at once, so a hundred questions can be over
// before a window has even registered or woken up.
bool focusAnswerWithin(HelperProcess& helper, const std::string& expected, int withinMs);

// Runs the injector on the display: "+Alt_L", "300", "-Alt_L", "a".
bool injectKeys(int displayNumber, const std::vector<std::string>& steps);
