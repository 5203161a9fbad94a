// Key latency, system calls, wake-ups and idle cost of the helper's event
// devices' monitor, inside the tests' virtual machine (make bench-evdev),
// against a bare C reader of an event device and the same reader on GLib's
// loop, in the same run. Each writes a line per key event; the time taken is
// from just before the write into uinput to the line read from the
// program's pipe. Each listens on a device of its own, and they are tapped
// in turns, so that none wakes for another's keys; the turns go in another
// of the six orders in each short run, and the ratios are taken run by run.
//
//   ortel-bench-evdev --helper PATH --bare PATH --glib PATH [--rounds N] [--runs N]
//                     [--count-rounds N] [--strace PATH] [--idle-seconds S]
#include <linux/input.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/child.h"
#include "bench/syscalls.h"
#include "tests/vm/uinput_device.h"

namespace {

struct Options {
  std::string helper;
  std::string bare;
  std::string glib;
  std::string strace = "/usr/bin/strace";
  int rounds = 200;
  int runs = 10;
  int countRounds = 20;
  int idleSeconds = 30;
};

Options parseOptions(int argc, char** argv) {
  Options options;
  for (int index = 1; index + 1 < argc; index += 2) {
    const std::string name = argv[index], value = argv[index + 1];
    if (name == "--helper") options.helper = value;
    else if (name == "--bare") options.bare = value;
    else if (name == "--glib") options.glib = value;
    else if (name == "--rounds") options.rounds = std::stoi(value);
    else if (name == "--runs") options.runs = std::stoi(value);
    else if (name == "--count-rounds") options.countRounds = std::stoi(value);
    else if (name == "--strace") options.strace = value;
    else if (name == "--idle-seconds") options.idleSeconds = std::stoi(value);
    else throw std::runtime_error("unknown option " + name);
  }
  if (options.helper.empty() || options.bare.empty() || options.glib.empty()) {
    throw std::runtime_error("--helper, --bare and --glib are required");
  }
  return options;
}

struct Listener {
  const char* name;
  Child* child;
  const VirtualKeyboard* device;
  int code;
  std::string pressLine, releaseLine;
  std::vector<double> pressUs, releaseUs;  // every tap of every run
  std::vector<double> runPressUs, runReleaseUs;  // this run's
  std::vector<double> pressMedians, releaseMedians, wakeUpsPerTap, switchesPerTap;  // one per run
};

double sendAndAwait(Listener& listener, int value) {
  const std::string& expected = value == 1 ? listener.pressLine : listener.releaseLine;
  const std::int64_t sentNs = monotonicNs();
  if (!sendKeyEvent(*listener.device, listener.code, value)) throw std::runtime_error("uinput write failed");
  const auto line = listener.child->await([&expected](std::string_view text) { return text == expected; }, 5000);
  if (!line) throw std::runtime_error(std::string(listener.name) + " wrote no line for the key");
  return static_cast<double>(line->arrivalNs - sentNs) / 1000.0;
}

double percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

// Taps of 10 to 30 ms and gaps as irregular, so that nothing falls into
// step with a timer; each listener in turn, in the order given.
void tapInTurns(std::span<Listener> listeners, const std::vector<std::size_t>& order, int rounds, bool keep,
                std::mt19937& random) {
  std::uniform_int_distribution<int> pauseMs(10, 30);
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t index : order) {
      Listener& listener = listeners[index];
      const double press = sendAndAwait(listener, 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
      const double release = sendAndAwait(listener, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
      if (!keep) continue;
      listener.runPressUs.push_back(press);
      listener.runReleaseUs.push_back(release);
    }
  }
}

// Short runs, each with the turns in another order; per run, each
// listener's medians and its wake-ups and context switches per tap.
void measureRuns(std::span<Listener> listeners, int rounds, int runs, std::mt19937& random) {
  std::vector<std::size_t> order(listeners.size());
  for (std::size_t index = 0; index < order.size(); ++index) order[index] = index;
  tapInTurns(listeners, order, 5, false, random);  // warming up
  const int roundsPerRun = std::max(1, rounds / std::max(1, runs));
  for (int run = 0; run < runs; ++run) {
    std::vector<ProcessCost> before;
    for (Listener& listener : listeners) before.push_back(readProcessCost(listener.child->pid()));
    tapInTurns(listeners, order, roundsPerRun, true, random);
    for (std::size_t index = 0; index < listeners.size(); ++index) {
      Listener& listener = listeners[index];
      const ProcessCost after = readProcessCost(listener.child->pid());
      listener.wakeUpsPerTap.push_back(static_cast<double>(after.voluntarySwitches - before[index].voluntarySwitches) /
                                       roundsPerRun);
      listener.switchesPerTap.push_back(static_cast<double>(after.contextSwitches - before[index].contextSwitches) /
                                        roundsPerRun);
      listener.pressMedians.push_back(percentile(listener.runPressUs, 0.5));
      listener.releaseMedians.push_back(percentile(listener.runReleaseUs, 0.5));
      listener.pressUs.insert(listener.pressUs.end(), listener.runPressUs.begin(), listener.runPressUs.end());
      listener.releaseUs.insert(listener.releaseUs.end(), listener.runReleaseUs.begin(), listener.runReleaseUs.end());
      listener.runPressUs.clear();
      listener.runReleaseUs.clear();
    }
    std::next_permutation(order.begin(), order.end());
  }
}

std::string figures(const std::vector<double>& us) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f / %.0f / %.0f", percentile(us, 0.5), percentile(us, 0.9), percentile(us, 0.99));
  return text;
}

// The median of the runs' ratios, and their least and greatest.
std::string runRatios(const std::vector<double>& ours, const std::vector<double>& peer) {
  std::vector<double> ratios;
  for (std::size_t run = 0; run < ours.size() && run < peer.size(); ++run) ratios.push_back(ours[run] / peer[run]);
  char text[64];
  std::snprintf(text, sizeof text, "%.2f (%.2f–%.2f)", percentile(ratios, 0.5),
                *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()));
  return text;
}

void printLatency(const std::string& what, const std::vector<double> Listener::*all,
                  const std::vector<double> Listener::*medians, std::span<const Listener> listeners) {
  const Listener &ours = listeners[0], &bare = listeners[1], &glib = listeners[2];
  std::printf("| %s | %s | %s | %s | %s | %s |\n", what.c_str(), figures(ours.*all).c_str(), figures(bare.*all).c_str(),
              figures(glib.*all).c_str(), runRatios(ours.*medians, bare.*medians).c_str(),
              runRatios(ours.*medians, glib.*medians).c_str());
}

std::unique_ptr<Child> startReader(const char* name, const std::string& path, const std::string& node) {
  auto reader = std::make_unique<Child>(name, std::vector<std::string>{path, node});
  if (!reader->await([](std::string_view line) { return line == "ready"; }, 10000)) {
    throw std::runtime_error(std::string(name) + " did not start");
  }
  return reader;
}

std::unique_ptr<Child> startHelper(const std::string& path, const std::string& watched) {
  auto helper = std::make_unique<Child>("ortel-helper", std::vector<std::string>{path, watched});
  if (!helper->await([](std::string_view line) { return line == "debug:monitor-installed"; }, 10000)) {
    throw std::runtime_error("the helper did not install its monitor");
  }
  return helper;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = parseOptions(argc, argv);
    // As on a Wayland desktop, the console does nothing with the keys.
    turnConsoleKeyboardOff();
    VirtualKeyboard keyboard = plugKeyDevice("ortel bench keyboard", keyboardKeys());
    // Volume keys alone make no keyboard: the helper leaves these devices to the readers.
    VirtualKeyboard bareKeys = plugKeyDevice("ortel bench volume up", {KEY_VOLUMEUP});
    VirtualKeyboard glibKeys = plugKeyDevice("ortel bench volume down", {KEY_VOLUMEDOWN});
    if (keyboard.node.empty() || bareKeys.node.empty() || glibKeys.node.empty()) {
      throw std::runtime_error("uinput gave no device");
    }
    chmod(keyboard.node.c_str(), 0644);

    setenv("XDG_SESSION_TYPE", "wayland", 1);
    const std::unique_ptr<Child> bare = startReader("bare reader", options.bare, bareKeys.node);
    const std::unique_ptr<Child> glib = startReader("GLib reader", options.glib, glibKeys.node);

    // Alt pressed and released: watching option, each press arms the 150 ms
    // task and each release cancels it; watching command, the helper only
    // writes its line. On one virtual CPU the driver reads a line only once
    // the helper sleeps again, so the first includes that work.
    std::mt19937 random(11);
    std::string counted;
    std::printf("Key event to line, µs, median / p90 / p99 of all %d taps of each, in %d runs; the ratios are the "
                "median of the runs' ratios of medians, with the least and the greatest:\n\n",
                options.rounds / std::max(1, options.runs) * options.runs, options.runs);
    std::printf("| Event | ortel-helper | bare C reader | GLib C reader | helper / bare | helper / GLib |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const char* watched : {"option", "command"}) {
      const std::unique_ptr<Child> helper = startHelper(options.helper, watched);
      const bool arms = std::string_view(watched) == "option";
      Listener listeners[] = {
          {"ortel-helper", helper.get(), &keyboard, KEY_LEFTALT,
           arms ? "debug:flagsChanged raw=524288 watched=true others=false"
                : "debug:flagsChanged raw=524288 watched=false others=true",
           "debug:flagsChanged raw=0 watched=false others=false", {}, {}, {}, {}, {}, {}, {}, {}},
          {"bare reader", bare.get(), &bareKeys, KEY_VOLUMEUP, "key 115 1", "key 115 0", {}, {}, {}, {}, {}, {}, {}, {}},
          {"GLib reader", glib.get(), &glibKeys, KEY_VOLUMEDOWN, "key 114 1", "key 114 0", {}, {}, {}, {}, {}, {}, {}, {}},
      };
      measureRuns(listeners, options.rounds, options.runs, random);
      const std::string how = std::string(", watching ") + watched;
      printLatency("press" + how, &Listener::pressUs, &Listener::pressMedians, listeners);
      printLatency("release" + how, &Listener::releaseUs, &Listener::releaseMedians, listeners);

      // Then what each asks per tap: the kernel's counters from the timed
      // runs, and strace's count in a stretch of its own.
      std::vector<SyscallCount> counts;
      if (options.countRounds > 0) {
        for (Listener& listener : listeners) {
          counts.push_back(startCounting(listener.child->pid(), "/tmp/" + std::to_string(counts.size()) + ".strace",
                                         options.strace));
        }
        const std::vector<std::size_t> order = {0, 1, 2};
        tapInTurns(listeners, order, options.countRounds, false, random);
      }
      for (std::size_t index = 0; index < std::size(listeners); ++index) {
        std::string calls = "not counted";
        double total = 0;
        if (!counts.empty()) {
          const std::map<std::string, long> byName = stopCounting(counts[index]);
          const auto found = byName.find("total");
          total = found == byName.end() ? 0 : static_cast<double>(found->second) / options.countRounds;
          calls = describeCounts(byName, options.countRounds);
        }
        char row[512];
        std::snprintf(row, sizeof row, "| %s | %s | %.1f | %s | %.2f | %.2f |\n", listeners[index].name, watched, total,
                      calls.c_str(), percentile(listeners[index].switchesPerTap, 0.5),
                      percentile(listeners[index].wakeUpsPerTap, 0.5));
        counted += row;
      }
      helper->stop();
    }
    std::printf("\nWhat each asks per tap (a press and its release): system calls counted by `strace -f -c` over %d "
                "taps of its own after the timed runs, context switches and wake-ups (voluntary switches) from "
                "/proc/PID/task/*/status in the timed runs, median of the runs:\n\n",
                options.countRounds);
    std::printf("| Program | watching | system calls per tap | by name | context switches per tap | wake-ups per tap |\n");
    std::printf("|---|---|---|---|---|---|\n%s", counted.c_str());

    const std::unique_ptr<Child> helper = startHelper(options.helper, "option");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const std::pair<const char*, pid_t> programs[] = {
        {"ortel-helper", helper->pid()}, {"bare reader", bare->pid()}, {"GLib reader", glib->pid()}};
    std::vector<ProcessCost> before;
    for (const auto& [name, pid] : programs) before.push_back(readProcessCost(pid));
    std::this_thread::sleep_for(std::chrono::seconds(options.idleSeconds));
    const auto seconds = static_cast<double>(options.idleSeconds);
    std::printf("\nIdle for %d s with the devices open (all threads, /proc status and schedstat):\n\n",
                options.idleSeconds);
    std::printf("| Program | wake-ups per s | CPU, µs per s |\n|---|---|---|\n");
    for (std::size_t index = 0; index < std::size(programs); ++index) {
      const ProcessCost after = readProcessCost(programs[index].second);
      std::printf("| %s | %.3f | %.1f |\n", programs[index].first,
                  static_cast<double>(after.contextSwitches - before[index].contextSwitches) / seconds,
                  static_cast<double>(after.onCpuNs - before[index].onCpuNs) / 1000.0 / seconds);
    }
    helper->stop();
    bare->stop();
    glib->stop();
    unplugKeyDevice(keyboard);
    unplugKeyDevice(bareKeys);
    unplugKeyDevice(glibKeys);
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "ortel-bench-evdev: %s\n", failure.what());
    return 1;
  }
}
