// What the user types never leaves the helper: while it watches, text typed
// into a password entry and elsewhere gives only protocol lines, and the
// helper keeps to its X and D-Bus connections, with no files of its own.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "tests/desktop/desktop_session.h"

namespace {

using Lines = std::vector<std::string>;

// Every line the helper may ever write, watching option.
const std::regex protocolLine(
    "ready|debug:watching option|trusted:(true|false)|debug:monitor-installed|debug:monitor-install-failed|"
    "debug:flagsChanged raw=[0-9]+ watched=(true|false) others=(true|false)|option:(down|up)|focus:(editable|none)");

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

TEST(Privacy, TypedTextNeverAppearsAndTheHelperOpensNothingOfItsOwn) {
  XServer server = startXServer();
  ASSERT_GT(server.pid, 0);
  BusSession bus = startBusSession(server.number);
  ASSERT_NE(bus.address, "");
  const std::vector<std::string> environment{displayVariable(server.number),
                                             "DBUS_SESSION_BUS_ADDRESS=" + bus.address};
  HelperProcess window = startTestWindow(environment);
  ASSERT_GT(window.pid, 0);
  char homePattern[] = "/tmp/ortel-home-XXXXXX";
  const std::string home = mkdtemp(homePattern);
  std::vector<std::string> helperEnvironment = environment;
  helperEnvironment.push_back("HOME=" + home);
  HelperProcess helper = startHelper({}, helperEnvironment);
  ASSERT_EQ(readLines(helper, 4).size(), 4u);

  ASSERT_TRUE(focusInWindow(window, "password"));
  ASSERT_TRUE(writeAll(helper.input, "check-focus\n"));
  // Letters, shifted letters, digits, punctuation, editing keys, a secret
  // into the password entry, then the same into a plain entry.
  const std::vector<std::string> typing = {"s", "3", "c", "+Shift_L", "r", "e", "-Shift_L", "t", "KP_1", "KP_2",
                                           "exclam", "at", "BackSpace", "Tab", "Return", "space", "+Control_L",
                                           "a", "-Control_L", "+Alt_L", "p", "-Alt_L"};
  ASSERT_TRUE(injectKeys(server.number, typing));
  ASSERT_TRUE(focusInWindow(window, "entry"));
  ASSERT_TRUE(injectKeys(server.number, typing));
  ASSERT_TRUE(writeAll(helper.input, "check-focus\n"));

  // Sockets: only unix-domain ones, and no more than the X connection, the
  // session bus and the accessibility bus. No file is open for writing.
  const std::set<std::string> unixInodes = unixSocketInodes();
  int sockets = 0;
  const std::string fdDirectory = "/proc/" + std::to_string(helper.pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(fdDirectory)) {
    const std::string target = std::filesystem::read_symlink(entry.path()).string();
    if (target.rfind("socket:[", 0) == 0) {
      ++sockets;
      EXPECT_TRUE(unixInodes.count(target.substr(8, target.size() - 9)) == 1) << target << " is not a unix socket";
    } else if (target.rfind("/", 0) == 0) {
      EXPECT_TRUE(target == "/dev/null") << "open file " << target;
    }
  }
  EXPECT_LE(sockets, 3);

  HelperRun end = finishHelper(helper);
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.standardError, "");
  int focusReplies = 0;
  for (const std::string& line : end.lines) {
    EXPECT_TRUE(std::regex_match(line, protocolLine)) << "not a protocol line: " << line;
    focusReplies += line.rfind("focus:", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(focusReplies, 2);
  EXPECT_TRUE(std::filesystem::is_empty(home)) << home << " gained files";
  std::filesystem::remove_all(home);

  stopChild(window);
  stopBusSession(bus);
  stopXServer(server);
}

}  // namespace
