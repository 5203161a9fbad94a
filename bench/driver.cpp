// The benchmark driver: runs the helper and its peers on one private X
// display and session bus, feeds them the same input and writes every raw
// sample as a tab-separated line (report.py turns them into the tables).
//
// Figures, each in its unit: start-up and latencies in ms, idle CPU in % of
// a core, wake-ups per second, memory in KiB.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <glib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/child.h"
#include "bench/syscalls.h"

namespace {

struct Options {
  std::string helper;
  std::string scripts;
  std::string samples;
  std::string realApp;  // tests/desktop/real_app.py
  std::string phases = "startup,keys,focus,apps,idle";
  int holds = 240;
  int keyRuns = 12;
  int countHolds = 40;
  int starts = 50;
  int queries = 100;
  int idleSeconds = 60;
};

constexpr std::int64_t kMs = 1'000'000;
// Alt_L under Xvfb's default keymap: the option key's stand-in.
constexpr unsigned kAltL = 64;
constexpr std::int64_t kArmDelayNs = 150 * kMs;

double toMs(std::int64_t ns) { return static_cast<double>(ns) / 1e6; }
bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

class Samples {
 public:
  explicit Samples(const std::string& path) : out_(path) {
    if (!out_) throw std::runtime_error("cannot write " + path);
  }
  void add(const std::string& figure, const std::string& who, double value) {
    out_ << "sample\t" << figure << '\t' << who << '\t' << value << '\n';
  }
  void note(const std::string& figure, const std::string& who, const std::string& text) {
    out_ << "note\t" << figure << '\t' << who << '\t' << text << '\n';
    out_.flush();
  }

 private:
  std::ofstream out_;
};

// The programs compared, and the line each prints once it can do its work.
struct Subject {
  std::string name;
  std::vector<std::string> argv;
  std::function<bool(std::string_view)> ready;
  int stopGraceMs = 3000;  // xinput does not read its input: it is terminated at once
};

Subject ours(const Options& options) {
  return {"ours", {options.helper, "option"}, [](std::string_view line) { return line == "ready"; }};
}
Subject xinputPeer() {
  // It prints the device list right after connecting, before it listens.
  return {"xinput", {"xinput", "test-xi2", "--root"}, [](std::string_view) { return true; }, 0};
}
Subject uiohookPeer(const Options& options) {
  return {"uiohook", {"node", options.scripts + "/node/observe.js"}, [](std::string_view line) { return line == "ready"; }};
}
// The least any program can take from exec to a line on this machine.
Subject execFloor() {
  return {"floor", {"/bin/echo", "ready"}, [](std::string_view line) { return line == "ready"; }};
}
Subject pyatspiPeer(const Options& options) {
  return {"pyatspi",
          {"/usr/bin/python3", options.scripts + "/pyatspi_focus.py"},
          [](std::string_view line) { return line == "ready"; }};
}

struct Running {
  Subject subject;
  std::unique_ptr<Child> child;
};

Running launch(const Subject& subject, int readyTimeoutMs = 20000) {
  Running running{subject, std::make_unique<Child>(subject.name, subject.argv)};
  if (!running.child->await(subject.ready, readyTimeoutMs)) {
    throw std::runtime_error(subject.name + " did not get ready");
  }
  return running;
}

// ---- start-up ---------------------------------------------------------

void measureStartup(const Options& options, Samples& samples) {
  std::printf("start-up: %d starts of each program\n", options.starts);
  std::fflush(stdout);
  const Subject subjects[] = {ours(options), xinputPeer(), uiohookPeer(options), pyatspiPeer(options), execFloor()};
  for (int round = 0; round < options.starts; ++round) {
    for (const Subject& subject : subjects) {
      const std::int64_t started = monotonicNs();
      Child child(subject.name, subject.argv);
      if (auto ready = child.await(subject.ready, 20000)) {
        samples.add("startup", subject.name, toMs(ready->arrivalNs - started));
      } else {
        samples.note("startup", subject.name, "no ready line");
      }
      if (subject.name == "ours") {
        // The trust line comes once the helper has asked its platform.
        if (auto trusted = child.await([](std::string_view line) { return startsWith(line, "trusted:"); }, 20000)) {
          samples.add("startup-trusted", subject.name, toMs(trusted->arrivalNs - started));
        }
      }
      child.stop(subject.stopGraceMs);
    }
  }
}

// ---- key latency and arm timing ------------------------------------------

enum class KeyLine { Other, Press, Release, Down };

KeyLine classifyOurs(std::string_view line) {
  if (startsWith(line, "debug:flagsChanged") && line.find("watched=true") != std::string_view::npos) return KeyLine::Press;
  if (line == "option:up") return KeyLine::Release;
  if (line == "option:down") return KeyLine::Down;
  return KeyLine::Other;
}
KeyLine classifyXinput(std::string_view line) {
  if (startsWith(line, "EVENT type 13 ")) return KeyLine::Press;  // RawKeyPress
  if (startsWith(line, "EVENT type 14 ")) return KeyLine::Release;  // RawKeyRelease
  return KeyLine::Other;
}
KeyLine classifyUiohook(std::string_view line) {
  if (startsWith(line, "keydown ")) return KeyLine::Press;
  if (startsWith(line, "keyup ")) return KeyLine::Release;
  return KeyLine::Other;
}

class Injector {
 public:
  Injector() : display_(XOpenDisplay(nullptr)) {
    int event = 0, error = 0, major = 0, minor = 0;
    if (display_ == nullptr || !XTestQueryExtension(display_, &event, &error, &major, &minor)) {
      throw std::runtime_error("no X display with the XTEST extension");
    }
  }
  ~Injector() { XCloseDisplay(display_); }
  Injector(const Injector&) = delete;
  Injector& operator=(const Injector&) = delete;

  // The time is read just before the flush that sends the request: read
  // after it, a preemption of this process on a busy machine would let the
  // server and the listeners run first and make every latency look shorter.
  // So the figures include one write system call of the driver's.
  std::int64_t key(unsigned keycode, bool press) {
    XTestFakeKeyEvent(display_, keycode, press ? True : False, CurrentTime);
    const std::int64_t sent = monotonicNs();
    XFlush(display_);
    return sent;
  }

 private:
  Display* display_;
};

struct Observer {
  Running running;
  KeyLine (*classify)(std::string_view);
  bool expected = true;  // whether it reports keys at all
  int missingPress = 0, missingRelease = 0;
};

bool sawRelease(Observer& observer, std::int64_t sinceNs) {
  for (const Line& line : observer.running.child->lines()) {
    if (line.arrivalNs >= sinceNs && observer.classify(line.text) == KeyLine::Release) return true;
  }
  return false;
}

// The three listeners, started in the order given (0 ours, 1 xinput, 2
// uiohook-napi), each once the one before is ready, and kept in that order.
std::vector<Observer> startListeners(const Options& options, const std::array<int, 3>& order) {
  std::vector<Observer> observers;
  for (int which : order) {
    if (which == 0) observers.push_back({launch(ours(options)), classifyOurs});
    if (which == 1) observers.push_back({launch(xinputPeer()), classifyXinput});
    if (which == 2) observers.push_back({launch(uiohookPeer(options)), classifyUiohook});
  }
  return observers;
}

std::vector<Child*> childrenOf(std::vector<Observer>& observers) {
  std::vector<Child*> children;
  for (Observer& observer : observers) children.push_back(observer.running.child.get());
  return children;
}

// Taps until every listener reports them, or until the peers do and the
// helper has had a few taps to show that it reports none.
void warmUp(std::vector<Observer>& observers, Injector& injector, Samples& samples) {
  std::vector<Child*> children = childrenOf(observers);
  std::map<std::string, bool> heard;
  const auto warm = [&heard](int taps) {
    return heard["xinput"] && heard["uiohook"] && (heard["ours"] || taps >= 5);
  };
  for (int tap = 0; tap < 40 && !warm(tap); ++tap) {
    injector.key(kAltL, true);
    pumpUntil(children, monotonicNs() + 30 * kMs);
    injector.key(kAltL, false);
    pumpUntil(children, monotonicNs() + 200 * kMs);
    for (Observer& observer : observers) {
      for (const Line& line : observer.running.child->lines()) {
        if (observer.classify(line.text) != KeyLine::Other) heard[observer.running.subject.name] = true;
      }
      observer.running.child->lines().clear();
    }
  }
  for (Observer& observer : observers) {
    observer.expected = heard[observer.running.subject.name];
    if (!observer.expected) samples.note("keys", observer.running.subject.name, "no key lines");
  }
  pumpUntil(children, monotonicNs() + 500 * kMs);
  for (Child* child : children) child->lines().clear();
}

// Holds of 220 ms with irregular gaps, so that holds never fall into step
// with a timer. Each latency is a sample of the figure and of the figure of
// this run (figure@run), so that the report can take each run's ratio.
void injectHolds(std::vector<Observer>& observers, Injector& injector, int holds, const std::string& run,
                 Samples* samples, std::mt19937& random) {
  std::vector<Child*> children = childrenOf(observers);
  std::uniform_int_distribution<std::int64_t> gapMs(80, 160);
  constexpr std::int64_t holdNs = 220 * kMs;
  for (int hold = 0; hold < holds; ++hold) {
    const std::int64_t pressed = injector.key(kAltL, true);
    pumpUntil(children, pressed + holdNs);
    const std::int64_t released = injector.key(kAltL, false);
    pumpUntil(children, released + gapMs(random) * kMs);
    for (const std::int64_t straggle = monotonicNs() + 1000 * kMs; monotonicNs() < straggle;) {
      bool waiting = false;
      for (Observer& observer : observers) waiting = waiting || (observer.expected && !sawRelease(observer, released));
      if (!waiting) break;
      pumpUntil(children, monotonicNs() + 5 * kMs);
    }

    for (Observer& observer : observers) {
      const std::string& name = observer.running.subject.name;
      const auto add = [&](const std::string& figure, double value) {
        if (samples == nullptr) return;
        samples->add(figure, name, value);
        samples->add(figure + "@" + run, name, value);
      };
      bool press = false, release = false, down = false;
      for (const Line& line : observer.running.child->lines()) {
        const KeyLine kind = observer.classify(line.text);
        if (kind == KeyLine::Press && !press && line.arrivalNs >= pressed) {
          press = true;
          add("key-press", toMs(line.arrivalNs - pressed));
        } else if (kind == KeyLine::Release && !release && line.arrivalNs >= released) {
          release = true;
          add("key-release", toMs(line.arrivalNs - released));
        } else if (kind == KeyLine::Down && !down && line.arrivalNs >= pressed) {
          down = true;
          add("arm-error", toMs(line.arrivalNs - pressed - kArmDelayNs));
        }
      }
      observer.running.child->lines().clear();
      if (observer.expected) {
        observer.missingPress += press ? 0 : 1;
        observer.missingRelease += release ? 0 : 1;
      }
    }
  }
}

void stopListeners(std::vector<Observer>& observers) {
  for (Observer& observer : observers) observer.running.child->stop(observer.running.subject.stopGraceMs);
}

// Which listener the server's write wakes first, and on which CPU, moves
// each run's figures more than anything a listener does: so short runs,
// each with the listeners started in another of the six orders, and the
// report takes the ratio run by run. Then one more run, with strace on
// each listener, counts what each asks of the kernel per hold.
void measureKeys(const Options& options, Samples& samples) {
  const int runs = std::max(1, options.keyRuns);
  const int holdsPerRun = std::max(1, options.holds / runs);
  std::printf("keys: %d runs of %d holds of Alt_L, seen by the helper, xinput and uiohook-napi in rotated start orders\n",
              runs, holdsPerRun);
  std::fflush(stdout);
  std::vector<std::array<int, 3>> orders;
  std::array<int, 3> order = {0, 1, 2};
  do {
    orders.push_back(order);
  } while (std::next_permutation(order.begin(), order.end()));
  Injector injector;
  std::mt19937 random(5);
  std::map<std::string, int> missingPress, missingRelease;
  for (int run = 0; run < runs; ++run) {
    std::vector<Observer> observers = startListeners(options, orders[static_cast<std::size_t>(run) % orders.size()]);
    warmUp(observers, injector, samples);
    std::string started;
    std::vector<ProcessCost> before;
    for (Observer& observer : observers) {
      started += (started.empty() ? "" : ",") + observer.running.subject.name;
      before.push_back(readProcessCost(observer.running.child->pid()));
    }
    const std::string tag = std::to_string(run);
    samples.note("key-order@" + tag, "all", started);
    injectHolds(observers, injector, holdsPerRun, tag, &samples, random);
    // Wake-ups and context switches per hold, from the kernel's counters:
    // these runs are not traced, so the counts are the listeners' own.
    for (std::size_t index = 0; index < observers.size(); ++index) {
      const ProcessCost after = readProcessCost(observers[index].running.child->pid());
      const std::string& name = observers[index].running.subject.name;
      samples.add("key-wakeups", name,
                  static_cast<double>(after.voluntarySwitches - before[index].voluntarySwitches) / holdsPerRun);
      samples.add("key-switches", name,
                  static_cast<double>(after.contextSwitches - before[index].contextSwitches) / holdsPerRun);
      missingPress[name] += observers[index].expected ? observers[index].missingPress : 0;
      missingRelease[name] += observers[index].expected ? observers[index].missingRelease : 0;
    }
    stopListeners(observers);
  }
  samples.note("keys", "all", "holds=" + std::to_string(runs * holdsPerRun) + " runs=" + std::to_string(runs));
  for (const auto& [name, missing] : missingPress) {
    samples.note("keys", name,
                 "missing presses=" + std::to_string(missing) + " releases=" + std::to_string(missingRelease[name]));
  }

  if (options.countHolds <= 0) return;
  std::printf("keys: %d holds counted with strace\n", options.countHolds);
  std::fflush(stdout);
  std::vector<Observer> observers = startListeners(options, orders.front());
  warmUp(observers, injector, samples);
  std::vector<SyscallCount> counts;
  for (Observer& observer : observers) {
    counts.push_back(startCounting(observer.running.child->pid(),
                                   options.samples + "." + observer.running.subject.name + ".strace"));
  }
  injectHolds(observers, injector, options.countHolds, "", nullptr, random);
  for (std::size_t index = 0; index < observers.size(); ++index) {
    const std::map<std::string, long> calls = stopCounting(counts[index]);
    const std::string& name = observers[index].running.subject.name;
    const auto total = calls.find("total");
    if (total == calls.end()) {
      samples.note("key-syscalls", name, "strace counted nothing");
      continue;
    }
    samples.add("key-syscalls", name, static_cast<double>(total->second) / options.countHolds);
    samples.note("key-syscalls", name, describeCounts(calls, options.countHolds));
  }
  stopListeners(observers);
}

// ---- check-focus round trip ---------------------------------------------

struct Answer {
  double ms = -1;
  std::string text;
};

Answer askFocus(Child& child) {
  const std::int64_t asked = monotonicNs();
  child.send("check-focus\n");
  auto reply = child.await([](std::string_view line) { return startsWith(line, "focus:"); }, 30000);
  if (!reply) return {};
  return {toMs(reply->arrivalNs - asked), reply->text};
}

// After three warm-up queries each, asks both in turn, keeping every time
// and counting every answer against the expected one.
void compareFocus(Running& helper, Running& peer, const std::string& figure, const std::string& expected,
                  int queries, Samples& samples) {
  for (int warm = 0; warm < 3; ++warm) {
    askFocus(*helper.child);
    askFocus(*peer.child);
  }
  std::map<std::string, std::map<std::string, int>> answers;
  for (int query = 0; query < queries; ++query) {
    for (Running* running : {&helper, &peer}) {
      const Answer answer = askFocus(*running->child);
      if (answer.ms < 0) throw std::runtime_error(running->subject.name + " gave no focus answer for " + figure);
      samples.add(figure, running->subject.name, answer.ms);
      ++answers[running->subject.name][answer.text];
    }
  }
  for (const auto& [who, counts] : answers) {
    std::string text = "expected=" + expected;
    for (const auto& [answer, count] : counts) text += " " + answer + "=" + std::to_string(count);
    samples.note(figure, who, text);
  }
}

void measureFocus(const Options& options, Samples& samples) {
  std::printf("check-focus: %d queries each, helper and pyatspi, in four windows\n", options.queries);
  std::fflush(stdout);
  for (const int widgets : {10, 1000}) {
    for (const std::string which : {"entry", "button"}) {
      const std::string figure = "focus-" + std::to_string(widgets) + "-" + which;
      const std::string expected = which == "entry" ? "focus:editable" : "focus:none";
      Subject window{"window",
                     {"/usr/bin/python3", options.scripts + "/focus_window.py", std::to_string(widgets), which},
                     [](std::string_view line) { return line == "shown"; }};
      Running shown = launch(window, 60000);
      Running helper = launch(ours(options));
      helper.child->await([](std::string_view line) { return startsWith(line, "trusted:"); }, 20000);
      Running peer = launch(pyatspiPeer(options));

      // The window registers with the accessibility bus on its own time:
      // wait until the peer sees it.
      const std::int64_t deadline = monotonicNs() + 20'000 * kMs;
      while (askFocus(*peer.child).text != expected && monotonicNs() < deadline) {
        pumpUntil({}, monotonicNs() + 100 * kMs);
      }
      compareFocus(helper, peer, figure, expected, options.queries, samples);
      peer.child->stop();
      helper.child->stop();
      shown.child->stop();
    }
  }
}

// ---- check-focus in real applications -----------------------------------------

// Per application, a widget that takes typed text and one that does not
// (for Writer, the document and a dialog's text field), as real_app.py names them.
struct AppWidgets {
  const char* kind;
  std::vector<std::pair<const char*, const char*>> widgets;  // name, expected answer
};

const std::vector<AppWidgets>& benchApplications() {
  static const std::vector<AppWidgets> applications = {
      {"chromium", {{"entry", "focus:editable"}, {"button", "focus:none"}}},
      {"firefox", {{"entry", "focus:editable"}, {"button", "focus:none"}}},
      {"writer", {{"document", "focus:editable"}, {"dialogfield", "focus:editable"}}},
      {"qt", {{"entry", "focus:editable"}, {"button", "focus:none"}}},
      {"gtk3", {{"terminal", "focus:editable"}, {"button", "focus:none"}}},
      {"gtk4", {{"entry", "focus:editable"}, {"button", "focus:none"}}},
  };
  return applications;
}

void measureApplications(const Options& options, Samples& samples) {
  std::printf("real applications: %d queries each, helper and pyatspi, per widget\n", options.queries);
  std::fflush(stdout);
  for (const AppWidgets& application : benchApplications()) {
    const std::string kind = application.kind;
    std::printf("  %s\n", kind.c_str());
    std::fflush(stdout);
    Child app("app", {"/usr/bin/python3", options.realApp, kind});
    const auto started = app.await([](std::string_view) { return true; }, 300000);
    if (!started || started->text != "ready") {
      samples.note("app-" + kind, "all", started ? started->text : "did not start");
      app.stop(30000);
      continue;
    }
    Running helper = launch(ours(options));
    helper.child->await([](std::string_view line) { return startsWith(line, "trusted:"); }, 20000);
    Running peer = launch(pyatspiPeer(options));
    for (const auto& [widget, expected] : application.widgets) {
      const std::string figure = "app-" + kind + "-" + widget;
      app.send("focus " + std::string(widget) + "\n");
      const auto moved = app.await([](std::string_view) { return true; }, 120000);
      if (!moved || moved->text != "focused " + std::string(widget)) {
        samples.note(figure, "all", moved ? moved->text : "the focus did not move");
        continue;
      }
      compareFocus(helper, peer, figure, expected, options.queries, samples);
    }
    peer.child->stop();
    helper.child->stop();
    // It ends the application and its window manager, which takes a browser a few seconds.
    app.stop(30000);
  }
}

// ---- idle cost -------------------------------------------------------------

void measureIdle(const Options& options, Samples& samples) {
  std::printf("idle: %d s with no input, the helper and its three peers side by side\n", options.idleSeconds);
  std::fflush(stdout);
  std::vector<Running> subjects;
  subjects.push_back(launch(ours(options)));
  subjects.push_back(launch(xinputPeer()));
  subjects.push_back(launch(uiohookPeer(options)));
  subjects.push_back(launch(pyatspiPeer(options)));
  std::vector<Child*> children;
  for (Running& running : subjects) children.push_back(running.child.get());
  // Let start-up work (bus connections, first polls) finish before counting.
  pumpUntil(children, monotonicNs() + 2000 * kMs);

  std::vector<ProcessCost> first, previous;
  for (Running& running : subjects) first.push_back(readProcessCost(running.child->pid()));
  previous = first;
  const std::int64_t start = monotonicNs();
  for (int second = 1; second <= options.idleSeconds; ++second) {
    pumpUntil(children, start + second * 1000 * kMs);
    for (std::size_t i = 0; i < subjects.size(); ++i) {
      const ProcessCost now = readProcessCost(subjects[i].child->pid());
      const std::string& name = subjects[i].subject.name;
      samples.add("idle-cpu", name, static_cast<double>(now.onCpuNs - previous[i].onCpuNs) / 1e9 * 100.0);
      samples.add("idle-wakeups", name, static_cast<double>(now.contextSwitches - previous[i].contextSwitches));
      previous[i] = now;
    }
  }
  const double seconds = static_cast<double>(monotonicNs() - start) / 1e9;
  const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
  for (std::size_t i = 0; i < subjects.size(); ++i) {
    const std::string& name = subjects[i].subject.name;
    const pid_t pid = subjects[i].child->pid();
    samples.add("idle-cpu-stat", name,
                static_cast<double>(previous[i].cpuTicks - first[i].cpuTicks) / ticksPerSecond / seconds * 100.0);
    samples.add("idle-rss", name, static_cast<double>(residentKiB(pid, "VmRSS:")));
    samples.add("idle-hwm", name, static_cast<double>(residentKiB(pid, "VmHWM:")));
  }
  for (Running& running : subjects) running.child->stop(running.subject.stopGraceMs);
}

Options parseOptions(int argc, char** argv) {
  Options options;
  gchar* helper = nullptr;
  gchar* scripts = nullptr;
  gchar* samples = nullptr;
  gchar* realApp = nullptr;
  gchar* phases = nullptr;
  GOptionEntry entries[] = {
      {"helper", 0, 0, G_OPTION_ARG_FILENAME, &helper, "the helper to measure", "PATH"},
      {"scripts", 0, 0, G_OPTION_ARG_FILENAME, &scripts, "the bench/ directory with the peers' scripts", "DIR"},
      {"samples", 0, 0, G_OPTION_ARG_FILENAME, &samples, "where to write the raw samples", "PATH"},
      {"real-app", 0, 0, G_OPTION_ARG_FILENAME, &realApp, "tests/desktop/real_app.py, for the apps phase", "PATH"},
      {"phases", 0, 0, G_OPTION_ARG_STRING, &phases, "which of startup,keys,focus,apps,idle to run", "LIST"},
      {"holds", 0, 0, G_OPTION_ARG_INT, &options.holds, "key holds to inject, over all runs", "N"},
      {"key-runs", 0, 0, G_OPTION_ARG_INT, &options.keyRuns, "short runs the holds are split into", "N"},
      {"count-holds", 0, 0, G_OPTION_ARG_INT, &options.countHolds, "holds counted with strace (0: none)", "N"},
      {"starts", 0, 0, G_OPTION_ARG_INT, &options.starts, "starts of each program", "N"},
      {"queries", 0, 0, G_OPTION_ARG_INT, &options.queries, "check-focus queries per window and program", "N"},
      {"idle-seconds", 0, 0, G_OPTION_ARG_INT, &options.idleSeconds, "length of the idle window", "S"},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr}};
  GOptionContext* context = g_option_context_new("- measure the helper against its peers");
  g_option_context_add_main_entries(context, entries, nullptr);
  GError* error = nullptr;
  const bool parsed = g_option_context_parse(context, &argc, &argv, &error);
  g_option_context_free(context);
  if (!parsed || helper == nullptr || scripts == nullptr || samples == nullptr) {
    throw std::runtime_error(error != nullptr ? error->message : "--helper, --scripts and --samples are required");
  }
  options.helper = helper;
  options.scripts = scripts;
  options.samples = samples;
  if (phases != nullptr) options.phases = phases;
  if (realApp != nullptr) options.realApp = realApp;
  g_free(realApp);
  g_free(helper);
  g_free(scripts);
  g_free(samples);
  g_free(phases);
  return options;
}

// The 1, 5 and 15 minute load averages.
std::string loadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

bool wanted(const Options& options, std::string_view phase) {
  return ("," + options.phases + ",").find("," + std::string(phase) + ",") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = parseOptions(argc, argv);
    if (wanted(options, "apps") && options.realApp.empty()) throw std::runtime_error("the apps phase needs --real-app");
    Samples samples(options.samples);
    // Every figure depends on what else the machine was doing.
    samples.note("machine", "load-start", loadAverage());
    if (wanted(options, "startup")) measureStartup(options, samples);
    if (wanted(options, "keys")) measureKeys(options, samples);
    if (wanted(options, "focus")) measureFocus(options, samples);
    if (wanted(options, "apps")) measureApplications(options, samples);
    if (wanted(options, "idle")) measureIdle(options, samples);
    samples.note("machine", "load-end", loadAverage());
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "ortel-bench: %s\n", failure.what());
    return 1;
  }
}
