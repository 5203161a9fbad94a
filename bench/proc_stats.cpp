#include "bench/proc_stats.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The kernel counts context switches per thread, and /proc/PID/status shows
// only the main thread's; a reader thread's wake-ups would go unseen.
void addThreadCost(const std::filesystem::path& task, ProcessCost& cost) {
  std::ifstream schedstat(task / "schedstat");
  std::int64_t onCpu = 0;
  if (schedstat >> onCpu) cost.onCpuNs += onCpu;

  std::ifstream status(task / "status");
  std::string line;
  for (const char* field : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
    status.clear();
    status.seekg(0);
    while (std::getline(status, line)) {
      if (line.rfind(field, 0) == 0) {
        cost.contextSwitches += std::stoll(line.substr(std::strlen(field)));
        break;
      }
    }
  }
}

}  // namespace

ProcessCost readProcessCost(pid_t pid) {
  ProcessCost cost;
  const std::filesystem::path process = "/proc/" + std::to_string(pid);

  // The command name may hold spaces and parentheses: the fields start after the last ')'.
  std::ifstream statFile(process / "stat");
  std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  const std::size_t close = stat.rfind(')');
  if (close != std::string::npos) {
    std::istringstream fields(stat.substr(close + 2));
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

long statusKiB(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  }
  return -1;
}
