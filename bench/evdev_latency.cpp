// Key latency and idle cost of the helper's event devices' monitor, inside
// the tests' virtual machine (make bench-evdev), against a bare C reader of
// an event device and the same reader on GLib's loop, in the same run. Each
// writes a line per key event; the time taken is from just before the write
// into uinput to the line read from the program's pipe. Each listens on a
// device of its own, and they are tapped in turns, so that none wakes for
// another's keys.
//
//   ortel-bench-evdev --helper PATH --bare PATH --glib PATH [--rounds N] [--idle-seconds S]
#include <linux/input.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/child.h"
#include "tests/vm/uinput_device.h"

namespace {

struct Options {
  std::string helper;
  std::string bare;
  std::string glib;
  int rounds = 200;
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
  std::vector<double> pressUs, releaseUs;
};

double sendAndAwait(Listener& listener, int value) {
  const std::string& expected = value == 1 ? listener.pressLine : listener.releaseLine;
  const std::int64_t sentNs = monotonicNs();
  if (!sendKeyEvent(*listener.device, listener.code, value)) throw std::runtime_error("uinput write failed");
  const auto line = listener.child->await([&expected](std::string_view text) { return text == expected; }, 5000);
  if (!line) throw std::runtime_error(std::string(listener.name) + " wrote no line for the key");
  return static_cast<double>(line->arrivalNs - sentNs) / 1000.0;
}

// Taps of 10 to 30 ms and gaps as irregular, so that nothing falls into
// step with a timer; each listener in turn.
void tapInTurns(std::span<Listener> listeners, int rounds, std::mt19937& random) {
  std::uniform_int_distribution<int> pauseMs(10, 30);
  for (int round = -5; round < rounds; ++round) {
    for (Listener& listener : listeners) {
      const double press = sendAndAwait(listener, 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
      const double release = sendAndAwait(listener, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
      if (round < 0) continue;  // warming up
      listener.pressUs.push_back(press);
      listener.releaseUs.push_back(release);
    }
  }
}

double percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

std::string figures(const std::vector<double>& us) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f / %.0f / %.0f", percentile(us, 0.5), percentile(us, 0.9), percentile(us, 0.99));
  return text;
}

void printLatency(const std::string& what, const std::vector<double>& ours, const std::vector<double>& bare,
                  const std::vector<double>& glib) {
  std::printf("| %s | %s | %s | %s | %.2f | %.2f |\n", what.c_str(), figures(ours).c_str(), figures(bare).c_str(),
              figures(glib).c_str(), percentile(ours, 0.5) / percentile(bare, 0.5),
              percentile(ours, 0.5) / percentile(glib, 0.5));
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
    std::printf("Key event to line, µs, median / p90 / p99, %d of each:\n\n", options.rounds);
    std::printf("| Event | ortel-helper | bare C reader | GLib C reader | helper / bare | helper / GLib |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const char* watched : {"option", "command"}) {
      const std::unique_ptr<Child> helper = startHelper(options.helper, watched);
      const bool arms = std::string_view(watched) == "option";
      Listener listeners[] = {
          {"ortel-helper", helper.get(), &keyboard, KEY_LEFTALT,
           arms ? "debug:flagsChanged raw=524288 watched=true others=false"
                : "debug:flagsChanged raw=524288 watched=false others=true",
           "debug:flagsChanged raw=0 watched=false others=false", {}, {}},
          {"bare reader", bare.get(), &bareKeys, KEY_VOLUMEUP, "key 115 1", "key 115 0", {}, {}},
          {"GLib reader", glib.get(), &glibKeys, KEY_VOLUMEDOWN, "key 114 1", "key 114 0", {}, {}},
      };
      tapInTurns(listeners, options.rounds, random);
      const std::string how = std::string(", watching ") + watched;
      printLatency("press" + how, listeners[0].pressUs, listeners[1].pressUs, listeners[2].pressUs);
      printLatency("release" + how, listeners[0].releaseUs, listeners[1].releaseUs, listeners[2].releaseUs);
      helper->stop();
    }

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
