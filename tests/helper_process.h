// Starts the built helper as a child with pipes on its three standard
// descriptors, the way the parent application does.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct HelperProcess {
  pid_t pid = -1;
  int input = -1;   // the helper's standard input
  int output = -1;  // its standard output
  int error = -1;   // its standard error
  std::string pending;  // output read but not yet split into lines
};

struct HelperRun {
  std::vector<std::string> lines;
  std::string rawOutput;
  std::string standardError;
  int exitStatus = -1;  // -1: killed by a signal or did not end in time
};

// The helper under test: the build's own, or ORTEL_PLAIN_HELPER.
const char* helperPath();
// The environment is the test's own, less the desktop variables, unless
// extraEnvironment names them ("DISPLAY=:99", ...).
std::vector<std::string> childEnvironment(const std::vector<std::string>& extraEnvironment);
// Starts any program that way; the helper, or another child the tests talk
// to through pipes. closedDescriptor (0, 1 or 2) starts it with that one
// closed instead, as a careless parent might.
HelperProcess startChild(const std::string& path, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& extraEnvironment = {}, int closedDescriptor = -1);
HelperProcess startHelper(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& extraEnvironment = {}, int closedDescriptor = -1);
// Reads until count more lines have arrived or timeoutMs has passed.
std::vector<std::string> readLines(HelperProcess& helper, std::size_t count, int timeoutMs = 5000);
bool writeAll(int fd, const std::string& bytes);
// Closes the helper's input and collects the rest of its output, its
// standard error and its exit status (killing it after timeoutMs).
HelperRun finishHelper(HelperProcess& helper, int timeoutMs = 5000);
// Starts the helper, writes input, closes it and collects everything.
HelperRun runHelperToEnd(const std::vector<std::string>& arguments, const std::string& input);

long residentKiB(pid_t pid, const char* field);
bool helperIsSanitized();
// Whether the child ends within timeoutMs; finishHelper still reaps it.
bool endsWithin(const HelperProcess& child, int timeoutMs);
// What the child's descriptor refers to, as /proc shows it ("/dev/null",
// "socket:[N]"); empty when it is closed.
std::string descriptorTarget(pid_t pid, int fd);

// Whether the child ended within timeoutMs; it is reaped if so.
bool waitForExit(pid_t pid, int timeoutMs);
// SIGTERM, then SIGKILL if it has not ended within 5 s; reaped either way.
void endProcess(pid_t pid);

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
