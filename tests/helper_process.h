// The built helper as the tests start it, the way the parent application
// does (child_process.h has the plumbing), and the private X servers it is
// tested on.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/child_process.h"

// The helper under test: the build's own, or ORTEL_PLAIN_HELPER.
const char* helperPath();
HelperProcess startHelper(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& extraEnvironment = {}, int closedDescriptor = -1);
// Starts the helper, writes input, closes it and collects everything.
HelperRun runHelperToEnd(const std::vector<std::string>& arguments, const std::string& input);
bool helperIsSanitized();

// Ends the helper as the parent does, by closing its input, and expects
// nothing more on its output, exit status 0 and not a byte on stderr. A
// helper that never started is left alone.
void expectCleanEnd(HelperProcess& helper);

// A private X server, for tests that need the helper on a desktop.
struct XServer {
  pid_t pid = -1;
  int number = -1;
};

// Starts Xvfb on the given display number, or on the first free one when
// number is -1, and returns once it accepts connections (pid -1 if it did not).
XServer startXServer(int number = -1);
// Ends the server and waits until it is gone.
void stopXServer(XServer& server);
// A display number no server uses now, away from the low numbers that
// servers started with number -1 take, so a parallel test cannot grab it.
int unusedDisplayNumber();
std::string displayVariable(int number);  // "DISPLAY=:N"
