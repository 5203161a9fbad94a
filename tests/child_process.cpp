#include "tests/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

bool isDesktopVariable(const char* entry) {
  for (const char* prefix :
       {"DISPLAY=", "WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=", "DBUS_SESSION_BUS_ADDRESS=", "AT_SPI_BUS_ADDRESS="}) {
    if (std::strncmp(entry, prefix, std::strlen(prefix)) == 0) return true;
  }
  return false;
}

std::int64_t msLeft(std::int64_t deadlineNs) {
  const std::int64_t left = deadlineNs - monotonicNs();
  // Rounded up, so that the last part of a millisecond is waited for, not spun on.
  return left <= 0 ? 0 : (left + 999'999) / 1'000'000;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

HelperProcess spawn(std::vector<std::string> argv, std::vector<std::string> environment, bool errorToPipe,
                    int closedDescriptor) {
  int in[2], out[2], err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0) return {};
  if (pipe2(out, O_CLOEXEC) != 0 || (errorToPipe && pipe2(err, O_CLOEXEC) != 0)) {
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
      if (fd >= 0) close(fd);
    }
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (errorToPipe) posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  if (closedDescriptor >= 0 && closedDescriptor <= 2) posix_spawn_file_actions_addclose(&actions, closedDescriptor);
  // Only the three standard descriptors, as a parent application passes
  // them: nothing the caller left open without close-on-exec reaches the child.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  std::vector<char*> argvPointers = pointersTo(argv);
  std::vector<char*> envp = pointersTo(environment);
  HelperProcess child;
  if (posix_spawnp(&child.pid, argv[0].c_str(), &actions, nullptr, argvPointers.data(), envp.data()) != 0) {
    child.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (errorToPipe) close(err[1]);
  child.input = in[1];
  child.output = out[0];
  child.error = err[0];
  // A child that died early must not kill the caller with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  return child;
}

// Reads what is there within timeoutMs into the sink; false at end of file.
bool readInto(int fd, std::string& sink, int timeoutMs) {
  pollfd ready{fd, POLLIN, 0};
  if (poll(&ready, 1, timeoutMs) <= 0) return true;
  char buffer[65536];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got < 0 && errno == EINTR) return true;
  if (got <= 0) return false;
  sink.append(buffer, static_cast<std::size_t>(got));
  return true;
}

void addThreadCost(const std::filesystem::path& task, ProcessCost& cost) {
  std::ifstream schedstat(task / "schedstat");
  std::int64_t onCpu = 0;
  if (schedstat >> onCpu) cost.onCpuNs += onCpu;

  std::ifstream status(task / "status");
  for (std::string line; std::getline(status, line);) {
    for (const char* field : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
      if (line.rfind(field, 0) != 0) continue;
      const std::int64_t switches = std::stoll(line.substr(std::strlen(field)));
      cost.contextSwitches += switches;
      if (field[0] == 'v') cost.voluntarySwitches += switches;
    }
  }
}

}  // namespace

std::int64_t monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
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
  std::vector<std::string> argv{path};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return spawn(std::move(argv), childEnvironment(extraEnvironment), true, closedDescriptor);
}

HelperProcess startPeer(const std::vector<std::string>& argv) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  return spawn(argv, std::move(environment), false, -1);
}

bool readAvailable(HelperProcess& child, int timeoutMs) {
  if (child.output < 0) return false;
  std::string bytes;
  const bool open = readInto(child.output, bytes, timeoutMs);
  const std::int64_t arrival = monotonicNs();
  if (!open) {
    close(child.output);
    child.output = -1;
  }
  child.partial += bytes;
  std::size_t start = 0;
  for (std::size_t end = child.partial.find('\n'); end != std::string::npos; end = child.partial.find('\n', start)) {
    child.lines.push_back({child.partial.substr(start, end - start), arrival});
    start = end + 1;
  }
  child.partial.erase(0, start);
  return open;
}

std::vector<std::string> readLines(HelperProcess& child, std::size_t count, int timeoutMs) {
  const std::int64_t deadline = monotonicNs() + std::int64_t{timeoutMs} * 1'000'000;
  while (child.lines.size() < count && monotonicNs() < deadline) {
    if (!readAvailable(child, static_cast<int>(msLeft(deadline)))) break;
  }
  std::vector<std::string> lines;
  while (lines.size() < count && !child.lines.empty()) {
    lines.push_back(std::move(child.lines.front().text));
    child.lines.pop_front();
  }
  return lines;
}

std::vector<std::string> readLinesThenQuiet(HelperProcess& child, std::size_t count, int quietMs) {
  std::vector<std::string> lines = readLines(child, count);
  const std::vector<std::string> late = readLines(child, 1, quietMs);
  lines.insert(lines.end(), late.begin(), late.end());
  return lines;
}

std::optional<Line> awaitLine(HelperProcess& child, const std::function<bool(std::string_view)>& matches,
                              int timeoutMs) {
  const std::int64_t deadline = monotonicNs() + std::int64_t{timeoutMs} * 1'000'000;
  for (;;) {
    while (!child.lines.empty()) {
      Line line = std::move(child.lines.front());
      child.lines.pop_front();
      if (matches(line.text)) return line;
    }
    if (monotonicNs() >= deadline || !readAvailable(child, static_cast<int>(msLeft(deadline)))) {
      if (child.lines.empty()) return std::nullopt;
    }
  }
}

bool pumpOnce(std::span<HelperProcess* const> children, std::int64_t untilNs) {
  std::vector<pollfd> fds;
  std::vector<HelperProcess*> owners;
  for (HelperProcess* child : children) {
    if (child->output < 0) continue;
    fds.push_back({child->output, POLLIN, 0});
    owners.push_back(child);
  }
  const std::int64_t timeoutMs = msLeft(untilNs);
  if (timeoutMs <= 0) return false;
  if (poll(fds.data(), fds.size(), static_cast<int>(timeoutMs)) <= 0) return monotonicNs() < untilNs;
  for (std::size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents != 0) readAvailable(*owners[i], 0);
  }
  return true;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

HelperRun finishHelper(HelperProcess& child, int timeoutMs) {
  HelperRun run;
  if (child.input >= 0) close(child.input);
  child.input = -1;
  const std::int64_t deadline = monotonicNs() + std::int64_t{timeoutMs} * 1'000'000;
  std::string output;
  for (const Line& line : child.lines) output += line.text + "\n";
  child.lines.clear();
  output += child.partial;
  child.partial.clear();
  bool outputOpen = child.output >= 0, errorOpen = child.error >= 0;
  while ((outputOpen || errorOpen) && monotonicNs() < deadline) {
    pollfd fds[2] = {{outputOpen ? child.output : -1, POLLIN, 0}, {errorOpen ? child.error : -1, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(msLeft(deadline))) <= 0) break;
    if (fds[0].revents != 0) outputOpen = readInto(child.output, output, 0);
    if (fds[1].revents != 0) errorOpen = readInto(child.error, run.standardError, 0);
  }
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(child.pid, &status, WNOHANG)) == 0 && monotonicNs() < deadline) {
    usleep(2000);
  }
  if (ended == 0) {
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
    run.standardError += "[the helper did not end in time]";
  } else if (ended > 0 && WIFEXITED(status)) {
    run.exitStatus = WEXITSTATUS(status);
  }
  for (int fd : {child.output, child.error}) {
    if (fd >= 0) close(fd);
  }
  child.output = child.error = -1;
  child.pid = -1;  // reaped: another process may have its number by now
  run.rawOutput = output;
  std::size_t start = 0;
  for (std::size_t end = output.find('\n'); end != std::string::npos; end = output.find('\n', start)) {
    run.lines.push_back(output.substr(start, end - start));
    start = end + 1;
  }
  if (start < output.size()) run.lines.push_back(output.substr(start) + "[no line feed]");
  return run;
}

void stopChild(HelperProcess& child, int graceMs) {
  if (child.input >= 0) close(child.input);
  child.input = -1;
  if (child.pid > 0 && (graceMs <= 0 || !waitForExit(child.pid, graceMs))) {
    kill(child.pid, SIGCONT);  // a stopped child would never see its SIGTERM
    endProcess(child.pid);
  }
  for (int fd : {child.output, child.error}) {
    if (fd >= 0) close(fd);
  }
  child = {};
}

bool endsWithin(const HelperProcess& child, int timeoutMs) {
  const std::int64_t deadline = monotonicNs() + std::int64_t{timeoutMs} * 1'000'000;
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return true;
    if (info.si_pid == child.pid) return true;
    if (monotonicNs() >= deadline) return false;
    usleep(2000);
  }
}

bool waitForExit(pid_t pid, int timeoutMs) {
  const std::int64_t deadline = monotonicNs() + std::int64_t{timeoutMs} * 1'000'000;
  while (monotonicNs() < deadline) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
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

ProcessCost readProcessCost(pid_t pid) {
  ProcessCost cost;
  const std::filesystem::path process = "/proc/" + std::to_string(pid);
  // The command name may hold spaces and parentheses: the fields start after the last ')'.
  std::ifstream statFile(process / "stat");
  const std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  const std::size_t nameEnd = stat.rfind(')');
  if (nameEnd != std::string::npos) {
    std::istringstream fields(stat.substr(nameEnd + 2));
    std::string field;
    // After the name come state (3) ... utime (14) and stime (15).
    for (int number = 3; number <= 15 && fields >> field; ++number) {
      if (number == 14 || number == 15) cost.cpuTicks += std::stoll(field);
    }
  }
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator(process / "task", error)) {
    addThreadCost(task.path(), cost);
  }
  return cost;
}

long residentKiB(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  }
  return -1;
}

std::string descriptorTarget(pid_t pid, int fd) {
  const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
  char target[256];
  const ssize_t length = readlink(link.c_str(), target, sizeof target);
  return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}
