#!/usr/bin/python3
"""Turns the driver's raw samples into bench/results.md and the latency CDF.

    report.py --samples build/bench/bench/samples.tsv --results bench/results.md \\
              --plot bench/latency-cdf.png --helper build/release/ortel-helper

Prints the results table as well. Nothing here judges pass or fail: the goals
section only says where each figure stands against the goal set for it.

The real applications' figures have a section of their own. A run of only
that phase (--phases apps) rewrites only that section, and a run without it
keeps the section from before, so that each can be measured again alone.
"""
import argparse
import datetime
import json
import os
import platform
import subprocess
from collections import defaultdict
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib import ticker  # noqa: E402
import numpy as np  # noqa: E402

BENCH_DIR = Path(__file__).resolve().parent
NO_KEY_LINES = "n/a (no key lines)"

PROGRAMS = {
    "ours": "ortel-helper",
    "xinput": "xinput test-xi2 --root",
    "uiohook": "uiohook-napi (Node)",
    "pyatspi": "pyatspi script",
    "floor": "/bin/echo ready",
}

# (figure, title, unit, [(program, what is timed)])
KEY_OBSERVERS_RELEASE = [("ours", "option:up"), ("xinput", "RawKeyRelease"), ("uiohook", "keyup")]
KEY_OBSERVERS_PRESS = [("ours", "debug:flagsChanged"), ("xinput", "RawKeyPress"), ("uiohook", "keydown")]
FOCUS_OBSERVERS = [("ours", "check-focus → focus:…"), ("pyatspi", "check-focus → focus:…")]
IDLE_OBSERVERS = [("ours", ""), ("xinput", ""), ("uiohook", ""), ("pyatspi", "")]
FIGURES = [
    ("key-release", "Key release → line", "ms", KEY_OBSERVERS_RELEASE),
    ("key-press", "Key press → line", "ms", KEY_OBSERVERS_PRESS),
    ("arm-error", "Arm timing: down line − press − 150 ms", "ms", [("ours", "option:down")]),
    ("focus-10-entry", "check-focus, 10 widgets, entry focused", "ms", FOCUS_OBSERVERS),
    ("focus-10-button", "check-focus, 10 widgets, button focused", "ms", FOCUS_OBSERVERS),
    ("focus-1000-entry", "check-focus, 1000 widgets, entry focused", "ms", FOCUS_OBSERVERS),
    ("focus-1000-button", "check-focus, 1000 widgets, button focused", "ms", FOCUS_OBSERVERS),
    ("idle-cpu", "Idle CPU, each second (schedstat)", "% of a core", IDLE_OBSERVERS),
    ("idle-cpu-stat", "Idle CPU, whole window (/proc/PID/stat)", "% of a core", IDLE_OBSERVERS),
    ("idle-wakeups", "Idle context switches, each second", "per s", IDLE_OBSERVERS),
    ("idle-rss", "VmRSS at the end of the idle window", "MiB", IDLE_OBSERVERS),
    ("idle-hwm", "VmHWM (peak resident)", "MiB", IDLE_OBSERVERS),
    ("startup", "Start-up: exec → ready", "ms",
     [("ours", "ready"), ("xinput", "first line (device list)"), ("uiohook", "ready after hook start"),
      ("pyatspi", "ready after bus connect"), ("floor", "exec floor")]),
    ("startup-trusted", "Start-up: exec → trusted line", "ms", [("ours", "trusted:…")]),
]
KEY_FIGURES = {"key-release", "key-press", "arm-error"}
# The driver's real applications, in its order, and its names for the widgets.
APPLICATIONS = [("chromium", "Chromium"), ("firefox", "Firefox ESR"), ("writer", "LibreOffice Writer"),
                ("qt", "Qt 5 window"), ("gtk3", "GTK 3 window"), ("gtk4", "GTK 4 window")]
WIDGETS = {"entry": "entry", "terminal": "VTE terminal", "document": "document body",
           "dialogfield": "Find and Replace's text field", "button": "button"}
APPS_BEGIN, APPS_END = "<!-- real applications -->", "<!-- /real applications -->"


def load(path):
    samples = defaultdict(list)
    notes = defaultdict(list)
    for line in Path(path).read_text().splitlines():
        kind, figure, who, value = line.split("\t", 3)
        if kind == "sample":
            scale = 1 / 1024 if figure in ("idle-rss", "idle-hwm") else 1
            samples[(figure, who)].append(float(value) * scale)
        else:
            notes[(figure, who)].append(value)
    return samples, notes


def stats(values):
    if not values:
        return None
    array = np.asarray(values)
    return float(np.median(array)), float(np.percentile(array, 99)), len(values)


def number(value):
    if value is None:
        return "—"
    if value == 0:
        return "0"
    if abs(value) >= 100:
        return f"{value:.0f}"
    if abs(value) >= 10:
        return f"{value:.1f}"
    if abs(value) >= 0.01:
        return f"{value:.3f}"
    return f"{value:.2g}"


def ratio(ours, peer):
    if ours is None or peer is None:
        return "n/a"
    if peer == 0:
        return "—" if ours == 0 else "∞"
    return f"{ours / peer:.2f}×"


def command_output(*command):
    try:
        return subprocess.run(command, capture_output=True, text=True, timeout=10).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        return "?"


def machine(notes):
    model = "?"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    os_name = "?"
    for line in Path("/etc/os-release").read_text().splitlines():
        if line.startswith("PRETTY_NAME="):
            os_name = line.split("=", 1)[1].strip('"')
    uiohook = BENCH_DIR / "node" / "node_modules" / "uiohook-napi" / "package.json"
    uiohook_version = json.loads(uiohook.read_text())["version"] if uiohook.exists() else "?"

    def debian(package):
        return command_output("dpkg-query", "-W", "-f=${Version}", package)

    return [
        ("CPU", model),
        ("Cores", str(os.cpu_count())),
        ("Kernel", platform.release()),
        ("System", os_name),
        ("Load average (1, 5, 15 min) at the start and the end of the run",
         f"{' '.join(notes.get(('machine', 'load-start'), ['?']))}; {' '.join(notes.get(('machine', 'load-end'), ['?']))}"),
        ("Xvfb", debian("xvfb")),
        ("xinput", debian("xinput")),
        ("AT-SPI (at-spi2-core), pyatspi", f"{debian('at-spi2-core')}, {debian('python3-pyatspi')}"),
        ("Node.js, uiohook-napi", f"{command_output('node', '--version')}, {uiohook_version}"),
    ]


def describe_note(note):
    """Spells out the driver's answer counts, "expected=focus:none focus:none=100"."""
    if not note.startswith("expected="):
        return note
    expected, *counts = note.split()
    expected = expected.split("=", 1)[1]
    answers = [count.rsplit("=", 1) for count in counts]
    text = ", ".join(f"{answer} ×{times}" for answer, times in answers)
    wrong = [answer for answer, _ in answers if answer != expected]
    return f"answered {text}" + (f" — **expected {expected}**" if wrong else "")


def figure_rows(samples, notes):
    rows = []
    for figure, title, unit, observers in FIGURES:
        ours = stats(samples.get((figure, "ours"), []))
        first = True
        for who, timed in observers:
            current = stats(samples.get((figure, who), []))
            label = PROGRAMS[who] + (f": {timed}" if timed else "")
            remarks = [describe_note(note) for note in notes.get((figure, who), [])]
            if figure in ("idle-cpu", "idle-wakeups") and current is not None:
                # Counts of 0 and 1 a second: the mean says more than the median.
                remarks.append(f"mean {number(float(np.mean(samples[(figure, who)])))}")
            remark = "; ".join(remarks)
            if current is None:
                if figure in KEY_FIGURES and who == "ours":
                    median = p99 = NO_KEY_LINES
                else:
                    median = p99 = "n/a"
                n = 0
            else:
                median, p99 = number(current[0]), number(current[1]) if current[2] > 1 else "—"
                n = current[2]
            if who == "ours":
                ratio_median = ratio_p99 = ""
            else:
                ratio_median = ratio(ours and ours[0], current and current[0])
                ratio_p99 = ratio(ours and ours[1], current and current[1]) if current and current[2] > 1 else "—"
            rows.append([f"{title} ({unit})" if first else "", label, str(n), median, p99,
                         ratio_median, ratio_p99, remark])
            first = False
    return rows


def runs_of(samples, figure):
    """Per run of the keys phase, in order: each listener's median in that run."""
    runs = defaultdict(dict)
    for (name, who), values in samples.items():
        if name.startswith(figure + "@"):
            runs[int(name.split("@", 1)[1])][who] = float(np.median(values))
    return dict(sorted(runs.items()))


def run_ratios(samples, figure, peer, position=None, notes=None):
    """Ours over the peer, run by run; only the runs that started ours at position, if given."""
    ratios = []
    for run, medians in runs_of(samples, figure).items():
        if position is not None:
            order = notes.get((f"key-order@{run}", "all"), [""])[0].split(",")
            if "ours" not in order or order.index("ours") != position:
                continue
        if "ours" in medians and medians.get(peer):
            ratios.append(medians["ours"] / medians[peer])
    return ratios


def spread(ratios):
    if not ratios:
        return "n/a"
    return f"{float(np.median(ratios)):.2f}× ({min(ratios):.2f}–{max(ratios):.2f})"


KEY_RUN_FIGURES = [("key-release", "release → line"), ("key-press", "press → line")]
KEY_COUNT_FIGURES = [("key-syscalls", "system calls per hold"), ("key-switches", "context switches per hold"),
                     ("key-wakeups", "of those, wake-ups (voluntary) per hold")]


def key_runs_section(samples, notes):
    runs = runs_of(samples, "key-release")
    if not runs:
        return ""
    summary = []
    for figure, title in KEY_RUN_FIGURES:
        for peer in ("xinput", "uiohook"):
            by_position = [spread(run_ratios(samples, figure, peer, position, notes)) for position in range(3)]
            summary.append([title, f"ours / {PROGRAMS[peer]}", str(len(run_ratios(samples, figure, peer))),
                            spread(run_ratios(samples, figure, peer))] + by_position)
    summary_table = markdown_table(["Figure", "Ratio", "runs", "median of the runs' ratios (min–max)",
                                    "ours started first", "second", "third"], summary)
    rows = []
    for run, medians in runs.items():
        press = runs_of(samples, "key-press").get(run, {})
        order = notes.get((f"key-order@{run}", "all"), ["?"])[0].replace(",", ", ")
        cells = [str(run + 1), order]
        for figures in (medians, press):
            cells += [number(figures.get(who)) for who in ("ours", "xinput", "uiohook")]
            cells.append(ratio(figures.get("ours"), figures.get("xinput")))
        rows.append(cells)
    run_table = markdown_table(["Run", "started in this order", "release: ours", "xinput", "uiohook-napi",
                                "ours/xinput", "press: ours", "xinput", "uiohook-napi", "ours/xinput"], rows)
    counts = []
    for who in ("ours", "xinput", "uiohook"):
        cells = [PROGRAMS[who]]
        for figure, _ in KEY_COUNT_FIGURES:
            values = samples.get((figure, who), [])
            cells.append(number(float(np.median(values))) if values else "n/a")
        cells.append("; ".join(notes.get(("key-syscalls", who), [])))
        counts.append(cells)
    count_table = markdown_table(["Program"] + [title for _, title in KEY_COUNT_FIGURES] + ["system calls, by name, per hold"],
                                 counts)
    return f"""## Key figures run by run

The holds ran in {len(runs)} short runs; each started the three listeners in another of the six orders, and
each run's ratio divides our median by the peer's median in that same run. Which listener the X server's
write wakes first moves the figures more than anything a listener does, so the spread of these ratios, and
their medians by where the helper stood in the order, say more than one pooled ratio. Medians in ms.

{summary_table}

{run_table}

What each listener asks per hold (a press and a release 220 ms later, so for the helper also the arm
task and its down line): system calls counted by `strace -f -c` in a run of its own, after the timed
ones; context switches and wake-ups from the kernel's counters (`/proc/PID/task/*/status`) in the timed
runs, median over the runs, which includes whatever else a listener does meanwhile (the helper's 1.5 s
trust poll: about 0.2 per hold).

{count_table}
"""


def wrong_answers(notes, figure, who):
    for note in notes.get((figure, who), []):
        if note.startswith("expected="):
            expected, *counts = note.split()
            if any(count.rsplit("=", 1)[0] != expected.split("=", 1)[1] for count in counts):
                return True
    return False


def goal_rows(samples, notes):
    def median(figure, who):
        values = samples.get((figure, who))
        return float(np.median(values)) if values else None

    def p99(figure, who):
        values = samples.get((figure, who))
        return float(np.percentile(values, 99)) if values else None

    def mean(figure, who):
        values = samples.get((figure, who))
        return float(np.mean(values)) if values else None

    def verdict(value, limit, shown):
        if value is None:
            return shown, "waits for the desktop backend" if shown == NO_KEY_LINES else "no data"
        return shown, "met" if value <= limit else "not met"

    focus_figures = [f"focus-{widgets}-{which}" for widgets in (10, 1000) for which in ("entry", "button")]
    focus_caveat = ""
    if any(wrong_answers(notes, figure, "ours") for figure in focus_figures):
        focus_caveat = "not comparable yet: the helper answered without asking AT-SPI (wrong answers above)"

    rows = []
    up, up_x, up_u = (median("key-release", who) for who in ("ours", "xinput", "uiohook"))
    if up is None:
        rows.append(("up-line latency, median ≤ 1.2× xinput's and ≤ 0.5× uiohook-napi's", NO_KEY_LINES,
                     "waits for the desktop backend"))
    else:
        # Run by run where there are runs: a pooled ratio follows the start order.
        to_x = run_ratios(samples, "key-release", "xinput") or [up / up_x]
        to_u = run_ratios(samples, "key-release", "uiohook") or [up / up_u]
        x_to_u = [m["xinput"] / m["uiohook"] for m in runs_of(samples, "key-release").values()
                  if m.get("xinput") and m.get("uiohook")] or [up_x / up_u]
        # The floor's own ratio says how far below uiohook-napi any listener can get here.
        shown = (f"{spread(to_x)} xinput, {spread(to_u)} uiohook-napi, medians of the runs' ratios "
                 f"(xinput itself: {spread(x_to_u)} uiohook-napi)")
        to_x_median, to_u_median = float(np.median(to_x)), float(np.median(to_u))
        rows.append(("up-line latency, median ≤ 1.2× xinput's and ≤ 0.5× uiohook-napi's", shown,
                     "met" if to_x_median <= 1.2 and to_u_median <= 0.5 else "not met"))
    # Beside each p99, the floor's in the same run: the tail is mostly the machine's.
    value, floor = p99("key-release", "ours"), p99("key-release", "xinput")
    rows.append(("up-line latency, p99 < 2 ms",)
                + verdict(value, 2, NO_KEY_LINES if value is None
                          else f"{number(value)} ms (xinput's: {number(floor)} ms)"))
    # The down line takes the press line's path after its timer, so that path's p99 is its floor.
    value, floor = p99("arm-error", "ours"), p99("key-press", "ours")
    rows.append(("arm timing error, p99 < 2 ms",)
                + verdict(value, 2, NO_KEY_LINES if value is None
                          else f"{number(value)} ms (the press line's p99: {number(floor)} ms)"))
    small = [median(f"focus-10-{which}", "ours") for which in ("entry", "button")]
    small = [value for value in small if value is not None]
    value = max(small) if small else None
    shown, where = verdict(value, 2, f"{number(value)} ms (slower of entry, button)")
    rows.append(("check-focus median, small window < 2 ms", shown, f"{focus_caveat} ({where} on these numbers)" if focus_caveat else where))
    ratios = []
    for widgets in (10, 1000):
        for which in ("entry", "button"):
            ours, peer = median(f"focus-{widgets}-{which}", "ours"), median(f"focus-{widgets}-{which}", "pyatspi")
            if ours is not None and peer:
                ratios.append(ours / peer)
    value = max(ratios) if ratios else None
    shown, where = verdict(value, 0.3, f"{number(value)}× (worst window)")
    rows.append(("check-focus median vs pyatspi ≤ 0.3×", shown, f"{focus_caveat} ({where} on these numbers)" if focus_caveat else where))
    value = mean("idle-cpu", "ours")
    rows.append(("idle CPU < 0.05 % of a core",) + verdict(value, 0.05, f"{number(value)} % (mean over the window)"))
    # The loop's own share is taken as at most one wake-up in 20 s beyond the poll's.
    value = mean("idle-wakeups", "ours")
    poll = 1 / 1.5
    shown, where = verdict(value, poll + 0.05, f"{number(value)}/s (mean over the window)")
    rows.append((f"wake-ups ≤ one per 1.5 s poll ({poll:.2f}/s) plus the loop's own", shown, where))
    value = median("idle-hwm", "ours")
    rows.append(("resident memory < 8 MiB",) + verdict(value, 8, f"{number(value)} MiB VmHWM"))
    value, floor = median("startup", "ours"), median("startup", "floor")
    rows.append(("start-up to ready, median < 5 ms",)
                + verdict(value, 5, f"{number(value)} ms (/bin/echo from exec to its line: {number(floor)} ms)"))
    return rows


def app_rows(samples, notes):
    """Per application and widget: both programs' median and p95, their ratio, and their answers."""
    rows = []
    for kind, title in APPLICATIONS:
        figures = sorted({figure for figure, _ in samples if figure.startswith(f"app-{kind}-")},
                         key=lambda figure: list(WIDGETS).index(figure.split("-", 2)[2]))
        # Why an application or a widget was not measured: the driver's notes for "all".
        failures = [f"{figure[len(f'app-{kind}-'):] or 'start'}: {note}" for (figure, who), texts in notes.items()
                    if (figure == f"app-{kind}" or figure.startswith(f"app-{kind}-")) and who == "all"
                    for note in texts]
        if not figures:
            rows.append([title, "", "", "0", "n/a", "n/a", "", "", "; ".join(failures) or "not measured"])
            continue
        for figure in figures:
            widget = WIDGETS[figure.split("-", 2)[2]]
            ours = samples.get((figure, "ours"), [])
            for who in ("ours", "pyatspi"):
                values = samples.get((figure, who), [])
                if not values:
                    continue
                median, p95 = float(np.median(values)), float(np.percentile(values, 95))
                ratio_median = ratio_p95 = ""
                if who != "ours" and ours:
                    ratio_median = ratio(float(np.median(ours)), median)
                    ratio_p95 = ratio(float(np.percentile(ours, 95)), p95)
                remark = "; ".join(describe_note(note) for note in notes.get((figure, who), []))
                rows.append([title, widget, PROGRAMS[who], str(len(values)), number(median), number(p95),
                             ratio_median, ratio_p95, remark])
                title = widget = ""
            title = ""
        if failures:
            rows.append(["", "", "", "", "", "", "", "", "; ".join(failures)])
    return rows


def apps_section(samples, notes, date):
    header = ["Application", "Widget focused", "Program", "n", "median (ms)", "p95 (ms)", "ours/pyatspi, median",
              "ours/pyatspi, p95", "answers"]
    table = markdown_table(header, app_rows(samples, notes))
    load = [" ".join(notes.get(("machine", which), ["?"])) for which in ("load-start", "load-end")]
    about = markdown_table(["Run", ""], [
        ("Date", date),
        ("Load average (1, 5, 15 min) at the start and the end", "; ".join(load)),
        ("Chromium, Firefox ESR", f"{debian_version('chromium')}, {debian_version('firefox-esr')}"),
        ("LibreOffice Writer", debian_version("libreoffice-writer")),
        ("PyQt5 (Qt 5)", f"{debian_version('python3-pyqt5')} ({debian_version('libqt5gui5')})"),
        ("GTK 3, VTE, GTK 4", ", ".join(debian_version(package) for package in ("libgtk-3-0", "libvte-2.91-0",
                                                                                "libgtk-4-1"))),
    ])
    return table, f"""{APPS_BEGIN}
## check-focus in real applications

Measured by `make bench`; this section alone by `make bench BENCH_ARGS="--phases apps"`, which leaves the
rest of this file as it was. Each application ran as the end-to-end tests run it
(`tests/desktop/real_app.py`: under openbox, its accessibility on, the focus moved by its own means), with
the helper and the pyatspi script asked in turn after three warm-up queries each. p95 is the 95th
percentile, interpolated between order statistics.

{about}

{table}
{APPS_END}"""


def debian_version(package):
    return command_output("dpkg-query", "-W", "-f=${Version}", package)


def markdown_table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(cell.replace("|", "\\|") for cell in row) + " |" for row in rows]
    return "\n".join(lines)


def plot(samples, path, date):
    panels = [("key-release", "Key release → line", KEY_OBSERVERS_RELEASE),
              ("key-press", "Key press → line", KEY_OBSERVERS_PRESS)]
    figure, axes = plt.subplots(1, 2, figsize=(12, 4.8), sharey=True)
    for axis, (key, title, observers) in zip(axes, panels):
        absent = []
        for who, timed in observers:
            values = np.sort(np.asarray(samples.get((key, who), [])))
            if values.size == 0:
                absent.append(PROGRAMS[who])
                continue
            fraction = np.arange(1, values.size + 1) / values.size
            axis.step(values, fraction, where="post", label=f"{PROGRAMS[who]}: {timed} (n={values.size})")
        axis.set_xscale("log")
        axis.xaxis.set_major_locator(ticker.FixedLocator([0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50]))
        axis.xaxis.set_major_formatter(ticker.FuncFormatter(lambda value, _: f"{value:g}"))
        axis.xaxis.set_minor_formatter(ticker.NullFormatter())
        axis.set_xlabel("latency from XTest injection to the line read (ms, log scale)")
        axis.set_title(title)
        axis.grid(True, which="both", alpha=0.3)
        if axis.has_data():
            axis.legend(loc="upper left", fontsize=8)
        if absent:
            axis.text(0.98, 0.04, "no key lines: " + ", ".join(absent), transform=axis.transAxes,
                      fontsize=8, va="bottom", ha="right")
    axes[0].set_ylabel("fraction of events")
    figure.suptitle(f"Key latency under Xvfb, same events for every listener ({date})")
    figure.tight_layout()
    figure.savefig(path, dpi=110)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--samples", required=True)
    parser.add_argument("--results", required=True)
    parser.add_argument("--plot", required=True)
    parser.add_argument("--helper", required=True)
    arguments = parser.parse_args()

    samples, notes = load(arguments.samples)
    # The samples' own time, so that a report written again later keeps the date of the measurement.
    now = datetime.datetime.fromtimestamp(Path(arguments.samples).stat().st_mtime, datetime.timezone.utc)
    date = now.strftime("%Y-%m-%d %H:%M UTC")
    measured = {figure for figure, _ in list(samples) + list(notes) if figure != "machine"}
    apps_measured = any(figure.startswith("app-") for figure in measured)
    main_measured = any(not figure.startswith("app-") for figure in measured)

    # What a run of only some phases leaves alone: the other part, as it was.
    results = Path(arguments.results)
    previous = results.read_text() if results.exists() else ""
    previous_apps = ""
    if APPS_BEGIN in previous and APPS_END in previous:
        begin, end = previous.index(APPS_BEGIN), previous.index(APPS_END) + len(APPS_END)
        previous_apps = previous[begin:end]
        previous = (previous[:begin] + previous[end:]).rstrip("\n") + "\n"

    if main_measured:
        header = ["Figure", "Program: what is timed", "n", "median", "p99", "ours/peer, median",
                  "ours/peer, p99", "notes"]
        table = markdown_table(header, figure_rows(samples, notes))
        goals = markdown_table(["Goal", "Measured", "Where it stands"], goal_rows(samples, notes))
        about = markdown_table(["Machine", ""], machine(notes))
        helper_size = Path(arguments.helper).stat().st_size // 1024
        main_text = f"""# Benchmark results

Measured by `make bench` on {date}; see `docs/performance.md` for what each figure means and what bounds it.
The helper is the release build ({helper_size} KiB). Everything ran headless on one private Xvfb display and
session bus; the listeners saw the same injected events in the same run. p99 is the 99th percentile,
interpolated between order statistics; ratios divide ours by the peer's figure on that row.

{about}

## Figures

{table}

## Goals

{goals}

{key_runs_section(samples, notes)}
![key latency CDF](latency-cdf.png)
"""
        plot(samples, arguments.plot, date)
        print(table)
        print()
        print(goals)
        print()
        print(key_runs_section(samples, notes))
    else:
        main_text = previous
    apps_text = previous_apps
    if apps_measured:
        apps_table, apps_text = apps_section(samples, notes, date)
        print()
        print(apps_table)
    results.write_text(main_text + ("\n" + apps_text + "\n" if apps_text else ""))
    print(f"\nWrote {arguments.results}" + (f" and {arguments.plot}" if main_measured else ""))


if __name__ == "__main__":
    main()
