#!/usr/bin/env bash
# Runs the benchmark headless on a private Xvfb display, session bus and
# runtime directory, then writes results.md and latency-cdf.png beside this
# script.
#   run.sh HELPER DRIVER [driver options, e.g. --holds 20 --phases keys]
set -euo pipefail
bench_dir=$(cd "$(dirname "$0")" && pwd)
helper=$(realpath "$1")
driver=$(realpath "$2")
shift 2
work_dir=$(dirname "$driver")
samples=$work_dir/samples.tsv
log=$work_dir/children.log

# -displayfd picks a free display and writes its number once the server listens.
# -noreset keeps the server as a desktop session's stays: by default Xvfb
# resets whenever its last client leaves, which wipes the root window's
# properties. The phases before the real applications' leave the display
# without clients at times, and the accessibility bus's launcher, started
# then by the pyatspi peer, writes the bus's address to the root window
# (AT_SPI_BUS) and disconnects; the reset that follows drops the address,
# and a Qt 5 window started later never joins the accessibility bus.
rm -f "$work_dir/display"
Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$work_dir/display" 2>"$work_dir/xvfb.log" &
xvfb_pid=$!
runtime_dir=$(mktemp -d)
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; rm -rf "$runtime_dir"' EXIT
for _ in $(seq 100); do
  [[ -s $work_dir/display ]] && break
  sleep 0.1
done
[[ -s $work_dir/display ]] || { echo "Xvfb did not start:" >&2; cat "$work_dir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work_dir/display")"
export XDG_RUNTIME_DIR=$runtime_dir
unset WAYLAND_DISPLAY XDG_SESSION_TYPE DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS NO_AT_BRIDGE

# The children's standard error (GTK and bus chatter) goes to the log.
if ! dbus-run-session -- "$driver" --helper "$helper" --scripts "$bench_dir" --samples "$samples" \
       --real-app "$bench_dir/../tests/desktop/real_app.py" "$@" 2>"$log"; then
  echo "The benchmark failed; the end of $log:" >&2
  tail -n 30 "$log" >&2
  exit 1
fi

/usr/bin/python3 "$bench_dir/report.py" --samples "$samples" --results "$bench_dir/results.md" \
  --plot "$bench_dir/latency-cdf.png" --helper "$helper"
