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
# The Debian package (make deb): CPack reads the executables' libraries
# with file and dpkg-shlibdeps (dpkg-dev); the package test runs it too.
deb_packages=(dpkg-dev file)
test_packages+=("${deb_packages[@]}")
# The clients' tests (clients/): Node.js, Debian's where there is no node;
# Python is the system's, already there for the GTK window.
command -v node >/dev/null 2>&1 || test_packages+=(nodejs)
# The event devices' tests boot Debian's kernel (fetched by tests/vm/run.sh
# with apt-get download, never installed) under QEMU, with a busybox that
# needs no libraries as the guest's shell; xz unpacks the kernel.
test_packages+=(qemu-system-x86 busybox-static xz-utils)
# Both benchmarks count what each listener asks of the kernel with strace;
# make bench-evdev, which needs only the tests' packages, inside that machine.
test_packages+=(strace)
# The benchmark (bench/, make bench): a private X server and session bus, the
# XTest driver, the peers it compares against (xinput, pyatspi, and the npm
# package uiohook-napi, whose prebuilt binary needs libXrandr and libXt), the
# GTK windows it queries and the plot.
bench_packages=(xvfb dbus-daemon at-spi2-core libx11-dev libxtst-dev xinput libxrandr2 libxt6
                python3-gi gir1.2-gtk-3.0 gir1.2-atspi-2.0 python3-pyatspi python3-matplotlib strace)
# check-focus in real applications (tests/desktop/real_apps_test.cpp): the
# applications, the window manager they run under, and the tools that drive
# them. Large, so a group of their own, which only make test installs; without it
# those tests are skipped, saying what to install.
apps_packages=(openbox x11-utils xdotool gir1.2-atspi-2.0 chromium firefox-esr libreoffice-writer libreoffice-gtk3
               python3-pyqt5 gir1.2-gtk-4.0 gir1.2-vte-2.91)
# Node.js may come from elsewhere than Debian, with an npm of its own;
# Debian's packages are only wanted where there is none.
command -v npm >/dev/null 2>&1 || bench_packages+=(nodejs npm)

case "${1:-all}" in
  build) wanted=("${build_packages[@]}") ;;
  all) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
  deb) wanted=("${build_packages[@]}" "${deb_packages[@]}") ;;
  bench) wanted=("${build_packages[@]}" "${bench_packages[@]}") ;;
  apps) wanted=("${apps_packages[@]}") ;;
  *) echo "usage: $0 [build|all|deb|bench|apps]" >&2; exit 2 ;;
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
# Another install may hold the package database for a while (two checkouts
# set up at once, the desktop's own updater): wait for it rather than fail.
apt_options=(-o DPkg::Lock::Timeout=600)
"${sudo_cmd[@]}" apt-get "${apt_options[@]}" update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get "${apt_options[@]}" install -y -qq --no-install-recommends "${missing[@]}"
