#!/usr/bin/env bash
# Runs a command on a headless desktop of its own: a private Xvfb display
# and a D-Bus session on it (the accessibility bus and its registry start on
# demand), with a runtime directory of its own, as the clients' tests need.
# The command's exit status is this script's.
#
#   in_session.sh COMMAND [ARGUMENT...]
set -euo pipefail
[[ $# -gt 0 ]] || { echo "usage: in_session.sh COMMAND [ARGUMENT...]" >&2; exit 2; }

if [[ ${ORTEL_IN_SESSION:-} == inside ]]; then
  unset ORTEL_IN_SESSION
  exec "$@"
fi

work=$(mktemp -d)
server=
cleanup() {
  if [[ -n $server ]]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb writes its display number to -displayfd once it takes connections.
mkfifo "$work/display"
Xvfb -displayfd 5 -nolisten tcp -screen 0 800x600x24 5>"$work/display" >/dev/null 2>&1 &
server=$!
number=
read -r -t 15 number <"$work/display" || true
[[ -n $number ]] || { echo "in_session.sh: Xvfb did not start" >&2; exit 1; }

mkdir -m 700 "$work/runtime"
unset WAYLAND_DISPLAY XDG_SESSION_TYPE DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS NO_AT_BRIDGE
status=0
DISPLAY=:$number XDG_RUNTIME_DIR=$work/runtime ORTEL_IN_SESSION=inside \
  dbus-run-session -- bash "$0" "$@" || status=$?
exit "$status"
