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
// to through pipes.
HelperProcess startChild(const std::string& path, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& extraEnvironment = {});
HelperProcess startHelper(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& extraEnvironment = {});
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
