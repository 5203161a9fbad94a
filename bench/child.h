// Child processes of the benchmark, each with its standard input and output
// on pipes, and every output line stamped with the monotonic time at which
// the driver read it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

std::int64_t monotonicNs();

struct Line {
  std::string text;
  std::int64_t arrivalNs = 0;
};

class Child {
 public:
  // Runs argv (searched on PATH) with the driver's environment; standard
  // error is the driver's own. Throws std::runtime_error if it cannot start.
  Child(std::string name, const std::vector<std::string>& argv);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  const std::string& name() const { return name_; }
  pid_t pid() const { return pid_; }
  int outputFd() const { return output_; }
  bool outputOpen() const { return output_ >= 0; }

  bool send(std::string_view text);
  // Reads what the pipe holds now; complete lines go to lines(), stamped
  // with the time the read returned. Closes the output at end of file.
  void readAvailable();
  std::deque<Line>& lines() { return lines_; }

  // Waits for a line that matches, dropping the lines before it.
  std::optional<Line> await(const std::function<bool(std::string_view)>& matches, int timeoutMs);

  // Closes the child's input, which ends the helper and the scripts, and
  // waits graceMs for it to exit before it is terminated, then killed.
  void stop(int graceMs = 3000);

 private:
  std::string name_;
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string pending_;
  std::deque<Line> lines_;
};

// Waits until some child has output, or untilNs, and reads what is there.
// False once untilNs has passed.
bool pumpOnce(std::span<Child* const> children, std::int64_t untilNs);
// Reads every child's output as soon as it arrives, until untilNs.
void pumpUntil(std::span<Child* const> children, std::int64_t untilNs);
