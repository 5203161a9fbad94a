#include "bench/child.h"

#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

std::int64_t monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

Child::Child(std::string name, const std::vector<std::string>& argv) : name_(std::move(name)) {
  // A child that dies early must not take the driver with it.
  signal(SIGPIPE, SIG_IGN);
  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  GError* error = nullptr;
  GPid pid = 0;
  const auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD);
  if (!g_spawn_async_with_pipes(nullptr, arguments.data(), nullptr, flags, nullptr, nullptr, &pid, &input_, &output_,
                                nullptr, &error)) {
    std::string message = "cannot start " + argv.front() + ": " + error->message;
    g_error_free(error);
    throw std::runtime_error(message);
  }
  pid_ = pid;
}

Child::~Child() { stop(); }

bool Child::send(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(input_, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

void Child::readAvailable() {
  if (output_ < 0) return;
  char buffer[65536];
  const ssize_t got = read(output_, buffer, sizeof buffer);
  const std::int64_t arrival = monotonicNs();
  if (got < 0 && errno == EINTR) return;
  if (got <= 0) {
    close(output_);
    output_ = -1;
    return;
  }
  pending_.append(buffer, static_cast<std::size_t>(got));
  std::size_t start = 0;
  for (std::size_t end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n', start)) {
    lines_.push_back({pending_.substr(start, end - start), arrival});
    start = end + 1;
  }
  pending_.erase(0, start);
}

std::optional<Line> Child::await(const std::function<bool(std::string_view)>& matches, int timeoutMs) {
  const std::int64_t deadline = monotonicNs() + std::int64_t{timeoutMs} * 1'000'000;
  Child* self = this;
  for (;;) {
    while (!lines_.empty()) {
      Line line = std::move(lines_.front());
      lines_.pop_front();
      if (matches(line.text)) return line;
    }
    if (output_ < 0 || monotonicNs() >= deadline) return std::nullopt;
    pumpOnce(std::span<Child* const>(&self, 1), deadline);
  }
}

void Child::stop(int graceMs) {
  if (input_ >= 0) close(input_);
  input_ = -1;
  if (pid_ > 0) {
    int status = 0;
    const std::int64_t deadline = monotonicNs() + std::int64_t{graceMs} * 1'000'000;
    pid_t ended = 0;
    while ((ended = waitpid(pid_, &status, WNOHANG)) == 0 && monotonicNs() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (ended == 0) {
      kill(pid_, SIGTERM);
      const std::int64_t killAt = monotonicNs() + 1'000'000'000;
      while ((ended = waitpid(pid_, &status, WNOHANG)) == 0 && monotonicNs() < killAt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      if (ended == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
    }
    g_spawn_close_pid(pid_);
    pid_ = -1;
  }
  if (output_ >= 0) close(output_);
  output_ = -1;
}

bool pumpOnce(std::span<Child* const> children, std::int64_t untilNs) {
  std::vector<pollfd> fds;
  std::vector<Child*> owners;
  for (Child* child : children) {
    if (child->outputOpen()) {
      fds.push_back({child->outputFd(), POLLIN, 0});
      owners.push_back(child);
    }
  }
  const std::int64_t left = untilNs - monotonicNs();
  if (left <= 0) return false;
  // Round up so that the last sub-millisecond is waited for, not spun on.
  const int timeoutMs = static_cast<int>((left + 999'999) / 1'000'000);
  if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return monotonicNs() < untilNs;
  for (std::size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents != 0) owners[i]->readAvailable();
  }
  return true;
}

void pumpUntil(std::span<Child* const> children, std::int64_t untilNs) {
  while (pumpOnce(children, untilNs)) {
  }
}
