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
BusSession startBusSession(int displayNumber);
void stopBusSession(BusSession& session);

// The GTK window of tests/desktop/test_window.py; see there for its commands.
HelperProcess startTestWindow(const std::vector<std::string>& environment);
// Asks the window to give focus to name; true once it says it has.
bool focusInWindow(HelperProcess& window, const std::string& name);
// Gives the window the X input focus; true once it is the active window.
bool activateWindow(HelperProcess& window);
// True once the window has seen another take the focus from it.
bool awaitInactive(HelperProcess& window);
void stopChild(HelperProcess& child);

// Runs the injector on the display: "+Alt_L", "300", "-Alt_L", "a".
bool injectKeys(int displayNumber, const std::vector<std::string>& steps);

// Ends the helper as the parent does, by closing its input, and expects
// nothing more on its output, exit status 0 and not a byte on stderr.
void expectCleanEnd(HelperProcess& helper);
