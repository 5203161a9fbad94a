// What a program asks of the kernel while the benchmark drives it: strace's
// count of its system calls, over all its threads. Counts do not move with
// the machine's scheduling as times do, so they show what a listener does
// per key event. strace stops the program at every call, so a counted
// stretch is never a timed one.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>

#include "bench/child.h"

struct SyscallCount {
  std::unique_ptr<Child> strace;
  std::string file;
};

// Attaches to pid and waits until strace holds every thread of it.
SyscallCount startCounting(pid_t pid, const std::string& file, const std::string& strace = "strace");
// Detaches and returns the calls by name, with "total"; empty if strace failed.
std::map<std::string, long> stopCounting(SyscallCount& count);
// "poll=36 write=40 ...", the most frequent first.
std::string describeCounts(const std::map<std::string, long>& calls, double per);
