// The benchmark's programs: children of tests/child_process.h with a name,
// started as the benchmark starts them (on PATH, with its environment and
// its standard error, which run.sh sends to children.log), and ended when
// they go out of scope.
#pragma once

#include <sys/types.h>

#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tests/child_process.h"

class Child {
 public:
  // Throws std::runtime_error if it cannot start.
  Child(std::string name, const std::vector<std::string>& argv);
  ~Child() { stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  const std::string& name() const { return name_; }
  pid_t pid() const { return process_.pid; }
  HelperProcess& process() { return process_; }

  bool send(std::string_view text) { return writeAll(process_.input, text); }
  // The lines read so far, each stamped with the time its read returned.
  std::deque<Line>& lines() { return process_.lines; }
  // Waits for a line that matches, dropping the lines before it.
  std::optional<Line> await(const std::function<bool(std::string_view)>& matches, int timeoutMs) {
    return awaitLine(process_, matches, timeoutMs);
  }
  // Closes the child's input, which ends the helper and the scripts, and
  // waits graceMs for it to exit before it is ended.
  void stop(int graceMs = 3000) { stopChild(process_, graceMs); }

 private:
  std::string name_;
  HelperProcess process_;
};

// Waits until some child has output, or untilNs, and reads what is there.
// False once untilNs has passed.
bool pumpOnce(std::span<Child* const> children, std::int64_t untilNs);
// Reads every child's output as soon as it arrives, until untilNs.
void pumpUntil(std::span<Child* const> children, std::int64_t untilNs);
