#include "bench/child.h"

#include <stdexcept>

Child::Child(std::string name, const std::vector<std::string>& argv)
    : name_(std::move(name)), process_(startPeer(argv)) {
  if (process_.pid <= 0) {
    stop();
    throw std::runtime_error("cannot start " + argv.front());
  }
}

bool pumpOnce(std::span<Child* const> children, std::int64_t untilNs) {
  std::vector<HelperProcess*> processes;
  for (Child* child : children) processes.push_back(&child->process());
  return pumpOnce(std::span<HelperProcess* const>(processes), untilNs);
}

void pumpUntil(std::span<Child* const> children, std::int64_t untilNs) {
  while (pumpOnce(children, untilNs)) {
  }
}
