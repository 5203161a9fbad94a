#include "bench/syscalls.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

SyscallCount startCounting(pid_t pid, const std::string& file, const std::string& strace) {
  SyscallCount count{std::make_unique<Child>("strace", std::vector<std::string>{strace, "-f", "-c", "-qq", "-o", file,
                                                                                 "-p", std::to_string(pid)}),
                     file};
  // strace says nothing once attached (-qq): give it the time to seize
  // every thread before anything is counted.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  return count;
}

std::map<std::string, long> stopCounting(SyscallCount& count) {
  // SIGINT detaches and writes the summary.
  kill(count.strace->pid(), SIGINT);
  count.strace->stop(5000);
  std::map<std::string, long> calls;
  std::ifstream summary(count.file);
  // "% time  seconds  usecs/call  calls  [errors]  syscall", then "total".
  for (std::string line; std::getline(summary, line);) {
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string word; fields >> word;) words.push_back(word);
    if (words.size() < 5 || words[0].find_first_not_of("0123456789.") != std::string::npos) continue;
    calls[words.back()] += std::stol(words[3]);
  }
  return calls;
}

std::string describeCounts(const std::map<std::string, long>& calls, double per) {
  std::vector<std::pair<long, std::string>> ranked;
  for (const auto& [name, number] : calls) {
    if (name != "total") ranked.emplace_back(number, name);
  }
  std::sort(ranked.rbegin(), ranked.rend());
  std::string text;
  for (const auto& [number, name] : ranked) {
    char figure[64];
    std::snprintf(figure, sizeof figure, "%s%s=%.2f", text.empty() ? "" : " ", name.c_str(),
                  static_cast<double>(number) / per);
    text += figure;
  }
  return text;
}
