// Key latency and idle cost of the helper's event devices' monitor, inside
// the tests' virtual machine (make bench-evdev), against a bare C reader of
// an event device in the same run. Each writes a line per key event; the
// time taken is from just before the write into uinput to the line read
// from the program's pipe. The two listen on devices of their own and are
// measured in turns, so that neither wakes for the other's keys.
//
//   ortel-bench-evdev --helper PATH --bare PATH [--rounds N] [--idle-seconds S]
#include <linux/input.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/child.h"
#include "bench/proc_stats.h"
#include "tests/vm/uinput_device.h"

namespace {

struct Options {
  std::string helper;
  std::string bare;
  int rounds = 200;
  int idleSeconds = 30;
};

Options parseOptions(int argc, char** argv) {
  Options options;
  for (int index = 1; index + 1 < argc; index += 2) {
    const std::string name = argv[index], value = argv[index + 1];
    if (name == "--helper") options.helper = value;
    else if (name == "--bare") options.bare = value;
    else if (name == "--rounds") options.rounds = std::stoi(value);
    else if (name == "--idle-seconds") options.idleSeconds = std::stoi(value);
    else throw std::runtime_error("unknown option " + name);
  }
  if (options.helper.empty() || options.bare.empty()) throw std::runtime_error("--helper and --bare are required");
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

double percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

void printLatency(const char* what, const Listener& helper, const Listener& bare, bool press) {
  const std::vector<double>& ours = press ? helper.pressUs : helper.releaseUs;
  const std::vector<double>& floor = press ? bare.pressUs : bare.releaseUs;
  std::printf("| %s | %.0f / %.0f / %.0f | %.0f / %.0f / %.0f | %.2f |\n", what, percentile(ours, 0.5),
              percentile(ours, 0.9), percentile(ours, 0.99), percentile(floor, 0.5), percentile(floor, 0.9),
              percentile(floor, 0.99), percentile(ours, 0.5) / percentile(floor, 0.5));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = parseOptions(argc, argv);
    // As on a Wayland desktop, the console does nothing with the keys.
    turnConsoleKeyboardOff();
    VirtualKeyboard keyboard = plugKeyDevice("ortel bench keyboard", keyboardKeys());
    // Volume keys alone make no keyboard: the helper leaves this device to the bare reader.
    VirtualKeyboard mediaKeys = plugKeyDevice("ortel bench media keys", {KEY_VOLUMEUP});
    if (keyboard.node.empty() || mediaKeys.node.empty()) throw std::runtime_error("uinput gave no device");
    chmod(keyboard.node.c_str(), 0644);

    setenv("XDG_SESSION_TYPE", "wayland", 1);
    Child helper("ortel-helper", {options.helper, "option"});
    if (!helper.await([](std::string_view line) { return line == "debug:monitor-installed"; }, 10000)) {
      throw std::runtime_error("the helper did not install its monitor");
    }
    Child bare("bare reader", {options.bare, mediaKeys.node});
    if (!bare.await([](std::string_view line) { return line == "ready"; }, 10000)) {
      throw std::runtime_error("the bare reader did not start");
    }

    Listener listeners[] = {
        {"ortel-helper", &helper, &keyboard, KEY_LEFTALT, "debug:flagsChanged raw=524288 watched=true others=false",
         "debug:flagsChanged raw=0 watched=false others=false", {}, {}},
        {"bare reader", &bare, &mediaKeys, KEY_VOLUMEUP, "key 115 1", "key 115 0", {}, {}},
    };
    // Taps of 10 to 30 ms (the helper's arm task is armed and cancelled in
    // each) and gaps as irregular, so that nothing falls into step with a timer.
    std::mt19937 random(11);
    std::uniform_int_distribution<int> pauseMs(10, 30);
    for (int round = -5; round < options.rounds; ++round) {
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

    std::printf("Key event to line, µs, median / p90 / p99, %d of each:\n\n", options.rounds);
    std::printf("| Event | ortel-helper | bare C reader | ratio of medians |\n|---|---|---|---|\n");
    printLatency("press", listeners[0], listeners[1], true);
    printLatency("release", listeners[0], listeners[1], false);

    std::this_thread::sleep_for(std::chrono::seconds(2));
    const ProcessCost helperBefore = readProcessCost(helper.pid()), bareBefore = readProcessCost(bare.pid());
    std::this_thread::sleep_for(std::chrono::seconds(options.idleSeconds));
    const ProcessCost helperAfter = readProcessCost(helper.pid()), bareAfter = readProcessCost(bare.pid());
    const auto seconds = static_cast<double>(options.idleSeconds);
    std::printf("\nIdle for %d s with the keyboards open (all threads, /proc schedstat and status):\n\n",
                options.idleSeconds);
    std::printf("| Program | wake-ups per s | CPU, µs per s |\n|---|---|---|\n");
    for (const auto& [name, before, after] : {std::tuple{"ortel-helper", helperBefore, helperAfter},
                                             std::tuple{"bare reader", bareBefore, bareAfter}}) {
      std::printf("| %s | %.3f | %.1f |\n", name, static_cast<double>(after.contextSwitches - before.contextSwitches) / seconds,
                  static_cast<double>(after.onCpuNs - before.onCpuNs) / 1000.0 / seconds);
    }
    helper.stop();
    bare.stop();
    unplugKeyDevice(keyboard);
    unplugKeyDevice(mediaKeys);
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "ortel-bench-evdev: %s\n", failure.what());
    return 1;
  }
}
