#!/usr/bin/env bash
# Installs the Debian 12 packages the helper's build, tests and tools need,
# and only those that are missing. The one list of what the project needs.
set -euo pipefail

# Building the helper: GLib's loop, X11 with XInput and XKB for keys and
# trust, AT-SPI for focus.
build_packages=(g++ cmake ninja-build make pkg-config libglib2.0-dev libx11-dev libxi-dev libatspi2.0-dev)
# Building and running the tests (clang for the fuzzer), and the demo: a headless X server, a D-Bus
# session (dbus-run-session), the accessibility bus and registry it starts
# on demand, the GTK test window, and the XTest injector. dbus-x11, as on
# most desktops, is what would let libdbus autolaunch a bus of its own: the
# tests check that the helper never does.
test_packages=(libgtest-dev libgmock-dev clang libclang-rt-14-dev xvfb dbus-daemon dbus-x11 at-spi2-core python3-gi gir1.2-gtk-3.0 libxtst-dev)

case "${1:-all}" in
  build) wanted=("${build_packages[@]}") ;;
  all) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [build|all]" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
