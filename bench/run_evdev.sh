#!/usr/bin/env bash
# Measures the helper's event devices' monitor inside the tests' virtual
# machine and writes bench/evdev-results.md.
#   run_evdev.sh HELPER BENCH_BUILD_DIR [driver options, e.g. --rounds 50]
set -euo pipefail
bench_dir=$(cd "$(dirname "$0")" && pwd)
helper=$(realpath "$1")
build=$(realpath "$2")
shift 2
results=$bench_dir/evdev-results.md
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
readers=(--bare "$build/ortel-bare-evdev-reader" --glib "$build/ortel-glib-evdev-reader")
strace=$(command -v strace) || { echo "strace is missing: bash scripts/install-deps.sh all" >&2; exit 2; }
report=$(bash "$bench_dir/../tests/vm/run.sh" --with "$helper" --with "${readers[1]}" --with "${readers[3]}" \
  --with "$strace" -- "$build/ortel-bench-evdev" --helper "$helper" "${readers[@]}" --strace "$strace" "$@")
{
  echo "# The event devices' monitor in the virtual machine"
  echo
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores of $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n1)," \
    "QEMU's software CPU (one virtual CPU), load average $load_start at the start and" \
    "$(cut -d' ' -f1-3 /proc/loadavg) at the end. The helper is \`$helper\`, run as root."
  echo
  echo "$report"
} >"$results"
cat "$results"
