// What the kernel says a process has cost: read from /proc, summed over its
// threads where the kernel keeps the figure per thread.
#pragma once

#include <sys/types.h>

#include <cstdint>

struct ProcessCost {
  std::int64_t cpuTicks = 0;          // utime + stime from /proc/PID/stat, all threads, in clock ticks
  std::int64_t onCpuNs = 0;           // first field of /proc/PID/task/*/schedstat, summed
  std::int64_t contextSwitches = 0;   // voluntary + involuntary from /proc/PID/task/*/status, summed
};

ProcessCost readProcessCost(pid_t pid);
// A "VmRSS:" or "VmHWM:" figure of /proc/PID/status in KiB, or -1.
long statusKiB(pid_t pid, const char* field);
