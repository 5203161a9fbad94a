// Random event sequences checked against a reference model of the hold
// tracker, written from its transition table rather than from its code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "hotkey/modifier.h"
#include "hotkey/tracker.h"
#include "tests/doubles/captured_output.h"
#include "tests/expected_lines.h"
#include "tests/doubles/fake_platform.h"
#include "tests/fresh_tracker.h"

namespace {

struct Event {
  enum class Kind { flags, keyDown, wait } kind;
  std::uint64_t value;  // the flags, or the milliseconds to wait
};

std::string describe(const std::vector<Event>& events) {
  std::ostringstream out;
  for (const Event& event : events) {
    switch (event.kind) {
      case Event::Kind::flags: out << "  flags 0x" << std::hex << event.value << std::dec << '\n'; break;
      case Event::Kind::keyDown: out << "  key-down\n"; break;
      case Event::Kind::wait: out << "  wait " << event.value << " ms\n"; break;
    }
  }
  return out.str();
}

// The model: four states, the deadline of the arm, and the lines they write.
struct Model {
  enum class State { idle, arming, down, blocked } state = State::idle;
  std::uint64_t nowMs = 0;
  std::uint64_t armAtMs = 0;
  std::uint64_t watchedBit;
  std::string name;
  std::vector<std::string> lines;

  void flags(std::uint64_t value) {
    const std::uint64_t masked = value & 0x9F0000;
    const bool watched = (masked & watchedBit) != 0;
    const bool others = (masked & ~watchedBit) != 0;
    lines.push_back(flagsLine(masked, watched, others));
    if (!watched) {
      if (state == State::down) lines.push_back(name + ":up");
      state = State::idle;
    } else if (others) {
      if (state == State::down) lines.push_back(name + ":up");
      state = State::blocked;
    } else if (state == State::idle) {
      state = State::arming;
      armAtMs = nowMs + 150;
    }
  }

  void keyDown() {
    if (state == State::down) lines.push_back(name + ":up");
    if (state == State::down || state == State::arming) state = State::blocked;
  }

  void wait(std::uint64_t ms) {
    nowMs += ms;
    if (state == State::arming && armAtMs <= nowMs) {
      lines.push_back(name + ":down");
      state = State::down;
    }
  }
};

// Runs the events through the tracker and the model; returns a description
// of the first disagreement, or the empty text.
std::string firstFault(const std::string& name, const std::vector<Event>& events) {
  startFreshTracker(name);
  Model model{Model::State::idle, 0, 0, flagForName(name), name, {}};

  int downs = 0;
  std::vector<std::string> actual;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const Event& event = events[i];
    const std::size_t modelBefore = model.lines.size();
    switch (event.kind) {
      case Event::Kind::flags:
        onMonitorEvent(flagsChangedEventType, event.value);
        model.flags(event.value);
        break;
      case Event::Kind::keyDown:
        onMonitorEvent(keyDownEventType, 0);
        model.keyDown();
        break;
      case Event::Kind::wait:
        advanceFakeClock(static_cast<std::int64_t>(event.value));
        model.wait(event.value);
        break;
    }
    const std::vector<std::string> lines = takeOutputLines();
    const std::vector<std::string> expected(model.lines.begin() + static_cast<std::ptrdiff_t>(modelBefore),
                                            model.lines.end());
    if (lines != expected) {
      std::ostringstream out;
      out << "after event " << i << " the tracker wrote:\n";
      for (const std::string& line : lines) out << "  " << line << '\n';
      out << "the model expected:\n";
      for (const std::string& line : expected) out << "  " << line << '\n';
      return out.str();
    }
    if (event.kind == Event::Kind::flags && (lines.empty() || lines.front().rfind("debug:flagsChanged ", 0) != 0)) {
      return "a flags-changed event without its debug line first at event " + std::to_string(i);
    }
    for (const std::string& line : lines) {
      if (line == name + ":down" && ++downs != 1) return "two down lines without an up at event " + std::to_string(i);
      if (line == name + ":up" && --downs != 0) return "an up line without a down at event " + std::to_string(i);
    }
    const int held = (isDown ? 1 : 0) + (pendingArm != nullptr ? 1 : 0) + (armBlocked ? 1 : 0);
    if (held > 1) return "down, pending and blocked overlap at event " + std::to_string(i);
  }
  return {};
}

std::vector<Event> randomEvents(std::mt19937_64& random, std::uint64_t watchedBit, std::size_t count) {
  const std::uint64_t modifiers[] = {capsLockFlag, shiftFlag, controlFlag, optionFlag, commandFlag, functionFlag};
  std::vector<Event> events;
  for (std::size_t i = 0; i < count; ++i) {
    switch (random() % 8) {
      case 0:
      case 1: {
        // Mostly the watched key alone or nothing, which is where holds happen.
        const std::uint64_t roll = random() % 6;
        std::uint64_t flags = roll < 2 ? watchedBit : 0;
        if (roll >= 4) {
          for (std::uint64_t bit : modifiers) flags |= (random() % 3 == 0) ? bit : 0;
        }
        if (random() % 2 == 0) flags |= random() % 0x100;            // device-dependent bits
        if (random() % 8 == 0) flags |= (1ULL << 21) | (1ULL << 22);  // numeric pad, help
        events.push_back({Event::Kind::flags, flags});
        break;
      }
      case 2: events.push_back({Event::Kind::keyDown, 0}); break;
      default: {
        // Waits cluster around the arm delay, where off-by-one faults live.
        const std::uint64_t waits[] = {1, 10, 50, 100, 149, 150, 151, 300};
        events.push_back({Event::Kind::wait, waits[random() % 8]});
        break;
      }
    }
  }
  return events;
}

// Drops events one at a time while the fault persists.
std::vector<Event> shrink(const std::string& name, std::vector<Event> events) {
  for (bool smaller = true; smaller;) {
    smaller = false;
    for (std::size_t i = 0; i < events.size(); ++i) {
      std::vector<Event> candidate = events;
      candidate.erase(candidate.begin() + static_cast<std::ptrdiff_t>(i));
      if (!firstFault(name, candidate).empty()) {
        events = std::move(candidate);
        smaller = true;
        --i;
      }
    }
  }
  return events;
}

TEST(TrackerModel, RandomSequencesAgreeWithTheModel) {
  const char* seedText = std::getenv("ORTEL_MODEL_SEED");
  const std::uint64_t seed = seedText != nullptr ? std::strtoull(seedText, nullptr, 10) : 20261209;
  std::mt19937_64 random(seed);
  const char* names[] = {"option", "command", "control", "shift", "function", "Command", ""};
  for (int run = 0; run < 400; ++run) {
    const std::string name = names[random() % 7];
    const std::vector<Event> events = randomEvents(random, flagForName(name), 300);
    const std::string fault = firstFault(name, events);
    if (!fault.empty()) {
      const std::vector<Event> shortest = shrink(name, events);
      FAIL() << "seed " << seed << " (rerun with ORTEL_MODEL_SEED=" << seed << "), run " << run << ", watching \""
             << name << "\"\n"
             << firstFault(name, shortest) << "shortest failing sequence:\n"
             << describe(shortest);
    }
  }
}

}  // namespace
