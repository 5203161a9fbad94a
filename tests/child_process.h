// Child processes with pipes on their standard descriptors, as the tests and
// the benchmark drive them: the helper the way its parent application does,
// and every peer they start beside it (X servers' buses, windows, xinput).
// Each line read is stamped with the monotonic time at which the read that
// brought it returned, which is what the benchmark times. Nothing here knows
// a test framework, so bench/ links it too.
//
// In a test:
//
//   HelperProcess window = startChild("/usr/bin/python3", {script}, {"DISPLAY=:5"});
//   readLines(window, 1, 15000);   // {"ready"}, or fewer once 15 s have passed
//   writeAll(window.input, "focus entry\n");
//   stopChild(window);
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

std::int64_t monotonicNs();

struct Line {
  std::string text;
  std::int64_t arrivalNs = 0;  // CLOCK_MONOTONIC, when the read that brought it returned
};

// Any child, the helper or a peer.
struct HelperProcess {
  pid_t pid = -1;
  int input = -1;   // the child's standard input
  int output = -1;  // its standard output; -1 once it has ended
  int error = -1;   // its standard error; -1 where it writes to ours
  std::string partial;     // output read after its last line feed
  std::deque<Line> lines;  // whole lines read and not yet taken
};

struct HelperRun {
  std::vector<std::string> lines;
  std::string rawOutput;
  std::string standardError;
  int exitStatus = -1;  // -1: killed by a signal or did not end in time
};

// The environment is the caller's own, less the desktop variables, unless
// extraEnvironment names them ("DISPLAY=:99", ...): a test says which
// display and bus each child is on.
std::vector<std::string> childEnvironment(const std::vector<std::string>& extraEnvironment);
// Starts path (or a program on PATH), its standard error on a pipe of its
// own. closedDescriptor (0, 1 or 2) starts it with that one closed instead,
// as a careless parent might. pid is -1 if it did not start.
HelperProcess startChild(const std::string& path, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& extraEnvironment = {}, int closedDescriptor = -1);
// As the benchmark starts its programs: argv[0] on PATH, the caller's whole
// environment, and the caller's standard error.
HelperProcess startPeer(const std::vector<std::string>& argv);

// Waits up to timeoutMs for output and reads what is there once. False at
// the end of the output (the descriptor is then closed).
bool readAvailable(HelperProcess& child, int timeoutMs);
// Reads until count more lines have arrived or timeoutMs has passed.
std::vector<std::string> readLines(HelperProcess& child, std::size_t count, int timeoutMs = 5000);
// Reads count lines, then whatever else comes within quietMs: where a late
// or a second line is as much a fault as a missing one.
std::vector<std::string> readLinesThenQuiet(HelperProcess& child, std::size_t count, int quietMs = 500);
// The first line that matches, dropping the lines before it; none once
// timeoutMs has passed or the output has ended.
std::optional<Line> awaitLine(HelperProcess& child, const std::function<bool(std::string_view)>& matches,
                              int timeoutMs);
// Waits until some child has output, or until untilNs, and reads what is
// there. False once untilNs has passed.
bool pumpOnce(std::span<HelperProcess* const> children, std::int64_t untilNs);

bool writeAll(int fd, std::string_view bytes);

// Closes the child's input and collects the rest of its output, its
// standard error and its exit status (killing it after timeoutMs). The
// child is reaped and forgotten: its pid is -1 after.
HelperRun finishHelper(HelperProcess& child, int timeoutMs = 5000);
// Closes its input and lets it end within graceMs; then ends it (SIGCONT
// first, should it be stopped), closes the pipes and forgets it.
void stopChild(HelperProcess& child, int graceMs = 0);

// Whether the child ends within timeoutMs; finishHelper still reaps it.
bool endsWithin(const HelperProcess& child, int timeoutMs);
// Whether the child ended within timeoutMs; it is reaped if so.
bool waitForExit(pid_t pid, int timeoutMs);
// SIGTERM, then SIGKILL if it has not ended within 5 s; reaped either way.
void endProcess(pid_t pid);

// What the kernel says a process has cost, summed over its threads where
// it keeps the figure per thread: a reader thread's wake-ups count too.
struct ProcessCost {
  std::int64_t cpuTicks = 0;         // utime + stime from /proc/PID/stat, in clock ticks
  std::int64_t onCpuNs = 0;          // first field of /proc/PID/task/*/schedstat
  std::int64_t contextSwitches = 0;  // voluntary + involuntary, /proc/PID/task/*/status
  std::int64_t voluntarySwitches = 0;  // of those, the ones where it went to sleep: its wake-ups
};
ProcessCost readProcessCost(pid_t pid);
// A "VmRSS:" or "VmHWM:" figure of /proc/PID/status in KiB, or -1.
long residentKiB(pid_t pid, const char* field);
// What the child's descriptor refers to, as /proc shows it ("/dev/null",
// "socket:[N]"); empty when it is closed.
std::string descriptorTarget(pid_t pid, int fd);
