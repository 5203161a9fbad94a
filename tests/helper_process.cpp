#include "tests/helper_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace {

constexpr int serverStartTimeoutMs = 15000;

bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

}  // namespace

// ORTEL_PLAIN_HELPER names a helper built without sanitizers, so that its
// memory figures are the real ones.
const char* helperPath() {
  const char* plain = std::getenv("ORTEL_PLAIN_HELPER");
  return plain != nullptr && *plain != '\0' ? plain : ORTEL_HELPER_PATH;
}

HelperProcess startHelper(const std::vector<std::string>& arguments,
                          const std::vector<std::string>& extraEnvironment, int closedDescriptor) {
  return startChild(helperPath(), arguments, extraEnvironment, closedDescriptor);
}

HelperRun runHelperToEnd(const std::vector<std::string>& arguments, const std::string& input) {
  HelperProcess helper = startHelper(arguments);
  writeAll(helper.input, input);
  return finishHelper(helper);
}

bool helperIsSanitized() { return helperPath() == std::string_view(ORTEL_HELPER_PATH) && ORTEL_HELPER_SANITIZED; }

void expectCleanEnd(HelperProcess& helper) {
  if (helper.pid <= 0) return;  // never started: nothing to end, and no wait for any other child
  const HelperRun end = finishHelper(helper);
  EXPECT_EQ(end.lines, std::vector<std::string>{});
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.standardError, "");
}

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
  // Appended rather than ":" + to_string(): GCC 12 at -O3 takes the latter
  // for an overlapping copy and stops the build (-Werror=restrict).
  std::string display = ":";
  display += std::to_string(number);
  if (number >= 0) arguments.insert(arguments.begin() + 1, display);
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
  while (server.pid > 0 && written.find('\n') == std::string::npos && poll(&readable, 1, serverStartTimeoutMs) > 0) {
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
