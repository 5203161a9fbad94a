#!/usr/bin/env bash
# Shows the helper at work on a machine with no desktop: starts a private X
# server (Xvfb), a D-Bus session and a small GTK window, then holds and taps
# the option key (Alt) with the project's XTest injector and moves focus
# between an entry and a button, while the helper's lines scroll past.
#
#   bash scripts/demo.sh BUILD_DIR      (make demo does this)
set -euo pipefail

build=$(cd "${1:?usage: demo.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
helper=$build/ortel-helper
injector=$build/tests/desktop/ortel_xinject
window_script=$here/tests/desktop/test_window.py

if [[ ${ORTEL_DEMO_SESSION:-} != inside ]]; then
  work=$(mktemp -d)
  server=
  cleanup() {
    [[ -n $server ]] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$work"
  }
  trap cleanup EXIT
  # Xvfb writes its display number to -displayfd once it takes connections.
  mkfifo "$work/display"
  Xvfb -displayfd 5 -nolisten tcp -screen 0 800x600x24 5>"$work/display" >/dev/null 2>&1 &
  server=$!
  read -r number <"$work/display"
  echo "X server :$number started (Xvfb); starting a D-Bus session on it."
  # The session bus starts the accessibility bus and its registry on demand.
  # The bus and what it starts print their own chatter: only the demo's
  # lines, on descriptor 3, reach the terminal.
  DISPLAY=:$number ORTEL_DEMO_SESSION=inside dbus-run-session -- bash "$0" "$build" 3>&1 >/dev/null 2>&1
  exit
fi

exec 1>&3 2>&3 3>&-
work=$(mktemp -d)
trap 'exec 5>&- 6>&-; wait; rm -rf "$work"' EXIT
mkfifo "$work/window.in" "$work/helper.in"

say() { printf '\n== %s\n' "$*"; }
pause() { sleep "${1:-0.6}"; }

# The window answers its commands on its standard output.
/usr/bin/python3 "$window_script" <"$work/window.in" >"$work/window.out" 2>/dev/null &
exec 5>"$work/window.in"
wait_for_window() {
  for _ in $(seq 100); do
    grep -qx "$1" "$work/window.out" && return 0
    sleep 0.1
  done
  echo "the test window did not say: $1" >&2
  exit 1
}
wait_for_window ready
focus() {
  echo "focus $1" >&5
  wait_for_window "focused $1"
}
pause 1  # the window registers with the accessibility bus in its own time

say "Starting the helper; its lines are marked 'helper |'."
# The demo's X server, also when make demo runs in a Wayland session.
unset WAYLAND_DISPLAY XDG_SESSION_TYPE
"$helper" <"$work/helper.in" 2>&1 | sed -u 's/^/    helper | /' &
exec 6>"$work/helper.in"
pause 1

say "Holding option (Alt_L) for 0.4 s: held alone past 150 ms, so down, then up on release."
"$injector" +Alt_L 400 -Alt_L
pause

say "Tapping option for 50 ms: too short for a down line."
"$injector" +Alt_L 50 -Alt_L
pause

say "Holding option, then pressing command (Super_L) with it: the combination ends the hold."
"$injector" +Alt_L 300 +Super_L 100 -Super_L -Alt_L
pause

say "Focus in the window's text entry; the parent asks: check-focus"
focus entry
echo check-focus >&6
pause

say "Focus on the window's button; the parent asks: check-focus"
focus button
echo check-focus >&6
pause

say "Back to the entry: check-focus"
focus entry
echo check-focus >&6
pause

say "Closing the helper's standard input ends it."
