// What the user types never leaves the helper: while it watches, text typed
// into a password entry and elsewhere gives only protocol lines, and the
// helper keeps to its X connection and its accessibility process to the
// D-Bus ones, with no files of their own; that process ends with it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "tests/desktop/accessibility_stack.h"
#include "tests/desktop/desktop_session.h"

namespace {

using Lines = std::vector<std::string>;

// The inodes of the machine's unix-domain sockets.
std::set<std::string> unixSocketInodes() {
  std::set<std::string> inodes;
  std::ifstream table("/proc/net/unix");
  std::string line;
  std::getline(table, line);  // the header
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string field;
    for (int column = 0; column < 7 && fields >> field; ++column) {
    }
    inodes.insert(field);  // the seventh column
  }
  return inodes;
}

// The process's sockets, each of which must be a unix-domain one; any file
// it holds open must be /dev/null.
int socketsOf(pid_t pid, const std::set<std::string>& unixInodes) {
  int sockets = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    const std::string target = std::filesystem::read_symlink(entry.path()).string();
    if (target.rfind("socket:[", 0) == 0) {
      ++sockets;
      EXPECT_TRUE(unixInodes.count(target.substr(8, target.size() - 9)) == 1) << target << " is not a unix socket";
    } else if (target.rfind("/", 0) == 0) {
      EXPECT_TRUE(target == "/dev/null") << "open file " << target;
    }
  }
  return sockets;
}

TEST(Privacy, TypedTextNeverAppearsAndTheHelperOpensNothingOfItsOwn) {
  Desktop desktop = startDesktop();
  ASSERT_EQ(desktop.failure, "");
  HelperProcess window = startTestWindow(desktop.environment);
  ASSERT_GT(window.pid, 0);
  char homePattern[] = "/tmp/ortel-home-XXXXXX";
  const std::string home = mkdtemp(homePattern);
  std::vector<std::string> helperEnvironment = desktop.environment;
  helperEnvironment.push_back("HOME=" + home);
  HelperProcess helper = startHelper({}, helperEnvironment);
  ASSERT_EQ(readLines(helper, 4), openingLines(true));

  ASSERT_TRUE(focusInWindow(window, "password"));
  ASSERT_TRUE(writeAll(helper.input, "check-focus\n"));
  // Letters, shifted letters, digits, punctuation, editing keys, a secret
  // into the password entry, then the same into a plain entry.
  const std::vector<std::string> typing = {"s", "3", "c", "+Shift_L", "r", "e", "-Shift_L", "t", "KP_1", "KP_2",
                                           "exclam", "at", "BackSpace", "Tab", "Return", "space", "+Control_L",
                                           "a", "-Control_L", "+Alt_L", "p", "-Alt_L"};
  ASSERT_TRUE(injectKeys(desktop.server.number, typing));
  ASSERT_TRUE(focusInWindow(window, "entry"));
  ASSERT_TRUE(injectKeys(desktop.server.number, typing));
  ASSERT_TRUE(writeAll(helper.input, "check-focus\n"));

  // Sockets: only unix-domain ones. The helper's is its X connection; its
  // accessibility process has one to the accessibility bus and one to the
  // window, and none to X, where keys could be heard.
  const std::set<std::string> unixInodes = unixSocketInodes();
  EXPECT_LE(socketsOf(helper.pid, unixInodes), 1);
  pid_t accessibilityProcess = -1;
  for (int waited = 0; waited < 2000 && accessibilityProcess < 0; waited += 10) {
    accessibilityProcess = accessibilityProcessOf(helper.pid);
    if (accessibilityProcess < 0) usleep(10000);
  }
  EXPECT_GT(accessibilityProcess, 0);
  if (accessibilityProcess > 0) {
    EXPECT_LE(socketsOf(accessibilityProcess, unixInodes), 2);
  }

  HelperRun end = finishHelper(helper);
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.standardError, "");
  int focusReplies = 0;
  for (const std::string& line : end.lines) {
    EXPECT_TRUE(std::regex_match(line, protocolLine())) << "not a protocol line: " << line;
    focusReplies += line.rfind("focus:", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(focusReplies, 2);
  for (int waited = 0; waited < 1000 && !hasEnded(accessibilityProcess); waited += 10) usleep(10000);
  EXPECT_TRUE(hasEnded(accessibilityProcess)) << "the accessibility process outlived the helper";
  EXPECT_TRUE(std::filesystem::is_empty(home)) << home << " gained files";
  std::filesystem::remove_all(home);

  stopChild(window);
  stopDesktop(desktop);
}

}  // namespace
