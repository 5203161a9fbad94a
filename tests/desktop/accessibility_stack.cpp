#include "tests/desktop/accessibility_stack.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "tests/helper_process.h"

namespace {

// dbus-send's reply, one line per value; empty when the call failed.
std::vector<std::string> busCall(const std::vector<std::string>& arguments) {
  std::vector<std::string> withOptions{"--print-reply=literal"};
  withOptions.insert(withOptions.end(), arguments.begin(), arguments.end());
  HelperProcess call = startChild("/usr/bin/dbus-send", withOptions);
  if (call.pid <= 0) return {};
  HelperRun run = finishHelper(call, 5000);
  // A literal reply need not end its last line.
  std::vector<std::string> lines;
  std::istringstream output(run.rawOutput);
  for (std::string line; std::getline(output, line);) lines.push_back(line);
  return run.exitStatus == 0 ? lines : std::vector<std::string>{};
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first);
}

// The fields of /proc/PID/stat after the command's name.
std::vector<std::string> statFields(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(file, stat);
  const std::size_t nameEnd = stat.rfind(')');
  std::vector<std::string> fields;
  if (nameEnd == std::string::npos) return fields;
  std::istringstream rest(stat.substr(nameEnd + 2));
  for (std::string field; rest >> field;) fields.push_back(field);
  return fields;
}

}  // namespace

std::string accessibilityBusAddress(const std::string& sessionBusAddress) {
  const std::vector<std::string> reply = busCall(
      {"--bus=" + sessionBusAddress, "--dest=org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"});
  return reply.empty() ? "" : trimmed(reply[0]);
}

pid_t busNameOwner(const std::string& busAddress, const std::string& name) {
  const std::vector<std::string> reply =
      busCall({"--bus=" + busAddress, "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
               "org.freedesktop.DBus.GetConnectionUnixProcessID", "string:" + name});
  // "   uint32 1234"
  if (reply.empty()) return -1;
  std::istringstream words(reply[0]);
  std::string type;
  long pid = -1;
  words >> type >> pid;
  return type == "uint32" ? static_cast<pid_t>(pid) : -1;
}

pid_t accessibilityProcessOf(pid_t helper) {
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return -1;
  pid_t found = -1;
  while (const dirent* entry = readdir(processes)) {
    const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
    if (pid <= 0) continue;
    const std::vector<std::string> fields = statFields(pid);
    // state, then the parent
    if (fields.size() > 1 && fields[0] != "Z" && std::stol(fields[1]) == helper) found = pid;
  }
  closedir(processes);
  return found;
}

long wakeUps(pid_t pid) {
  const std::string thread = std::to_string(pid);
  std::ifstream status("/proc/" + thread + "/task/" + thread + "/status");
  const std::string field = "voluntary_ctxt_switches:";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
  }
  return -1;
}

bool hasEnded(pid_t pid) {
  const std::vector<std::string> fields = statFields(pid);
  return fields.empty() || fields[0] == "Z";
}
