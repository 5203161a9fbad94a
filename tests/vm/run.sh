#!/usr/bin/env bash
# Runs one program as root in a throwaway virtual machine that has what no
# build machine here has: a real kernel's event devices and uinput. The
# kernel is Debian's own, fetched once and kept in a cache; the root file
# system is a busybox initramfs made afresh for each run, holding the
# program, the files named with --with, and the shared libraries of each.
#
#   run.sh [--with FILE]... -- PROGRAM [ARGUMENT]...
#
# Prints the program's output and exits with its status; 125 means the
# machine gave no result (it did not boot, the kernel panicked, or the run
# took longer than ORTEL_VM_TIMEOUT seconds, 600 by default).
#
# Files keep their absolute paths inside the machine, so a test can name
# the helper it was built with. The variables whose names begin with
# ORTEL_ or GTEST_, and ASAN_OPTIONS, UBSAN_OPTIONS, LSAN_OPTIONS, go along.
#
# The kernel cache is ORTEL_VM_CACHE, by default
# ${XDG_CACHE_HOME:-$HOME/.cache}/ortel-helper/vm: outside any build tree, so
# that make clean, a new worktree or another build type does not fetch the
# 70 MB package again. It keeps only the uncompressed kernel and the input
# modules (about 60 MB) and is shared safely by runs in parallel.
# ORTEL_VM_REFRESH=1 fetches the kernel that linux-image-amd64 names now.
set -euo pipefail

die() {
  echo "run.sh: $*" >&2
  exit 2
}

files=()
while [[ $# -gt 0 && $1 != -- ]]; do
  case $1 in
    --with) files+=("$(realpath "${2:?--with needs a file}")"); shift 2 ;;
    *) die "usage: run.sh [--with FILE]... -- PROGRAM [ARGUMENT]..." ;;
  esac
done
[[ ${1:-} == -- ]] && shift
[[ $# -ge 1 ]] || die "usage: run.sh [--with FILE]... -- PROGRAM [ARGUMENT]..."
program=$(realpath "$1")
shift
[[ -x $program ]] || die "$program is not an executable"
command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is missing: bash scripts/install-deps.sh all"
busybox=$(command -v busybox) || die "busybox is missing: bash scripts/install-deps.sh all"
# The guest runs the program with the host's libraries, so the static
# busybox is the only one that must not need any.
ldd "$busybox" >/dev/null 2>&1 && die "$busybox is not busybox-static"

# --- The kernel -------------------------------------------------------------

# A CI job may run without HOME; /var/tmp outlives a reboot there too.
cache=${ORTEL_VM_CACHE:-${XDG_CACHE_HOME:-${HOME:-/var/tmp}/.cache}/ortel-helper/vm}
mkdir -p "$cache"
modules=(uinput evdev)

# The package linux-image-amd64 depends on now, such as linux-image-6.1.0-57-amd64.
kernel_package() {
  local name
  name=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ { print $2; exit }')
  if [[ -z $name && $(id -u) -eq 0 ]]; then
    apt-get update -qq >&2
    name=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ { print $2; exit }')
  fi
  [[ -n $name ]] || die "apt knows no linux-image-amd64: run apt-get update as root"
  echo "$name"
}

# Unpacks the boot image and the input drivers, nothing else of the 400 MB
# the package installs, and boots the uncompressed kernel: decompressing it
# inside the guest costs about 2.5 s per run without hardware virtualization.
fetch_kernel() {
  local package=$1 into=$2 work image offset
  work=$(mktemp -d "$cache/fetch.XXXXXX")
  (cd "$work" && apt-get download -q "$package" >&2) || { rm -rf "$work"; die "apt-get download $package failed"; }
  dpkg-deb --fsys-tarfile "$work"/*.deb |
    tar -x -C "$work" --wildcards './boot/vmlinuz-*' '*/modules/*/kernel/drivers/input/*' '*/modules/*/modules.builtin'
  image=$(ls "$work"/boot/vmlinuz-*)
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$image" | head -n1 | cut -d: -f1)
  [[ -n $offset ]] || { rm -rf "$work"; die "no xz stream in $image"; }
  tail -c +$((offset + 1)) "$image" | xz -dcq >"$work/vmlinux" 2>/dev/null || true
  [[ $(head -c4 "$work/vmlinux" | od -An -tx1 | tr -d ' ') == 7f454c46 ]] ||
    { rm -rf "$work"; die "$image does not hold an ELF kernel"; }
  mkdir -p "$work/kernel/modules"
  find "$work" -path '*/kernel/drivers/input/*' -name '*.ko*' -exec mv -t "$work/kernel/modules" {} +
  find "$work" -name modules.builtin -exec mv -t "$work/kernel" {} +
  mv "$work/vmlinux" "$work/kernel/"
  basename "$image" | sed 's/^vmlinuz-//' >"$work/kernel/version"
  rm -rf "$into"
  mv "$work/kernel" "$into"
  rm -rf "$work"
}

# One fetch at a time; the others wait and then find the kernel there. A
# refresh leaves only the kernel it fetched.
exec {lock}>"$cache/lock"
flock "$lock"
current=$(cat "$cache/current" 2>/dev/null || true)
if [[ ${ORTEL_VM_REFRESH:-0} == 1 || -z $current || ! -s $cache/$current/vmlinux ]]; then
  current=$(kernel_package)
  [[ -s $cache/$current/vmlinux ]] || fetch_kernel "$current" "$cache/$current"
  echo "$current" >"$cache/current"
  find "$cache" -mindepth 1 -maxdepth 1 -type d -name 'linux-image-*' ! -name "$current" -exec rm -rf {} +
fi
kernel=$cache/$current
flock -u "$lock"

# --- The root file system ------------------------------------------------------

work=$(mktemp -d "${TMPDIR:-/tmp}/ortel-vm.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,modules}

# A file at its own path, with every shared library it loads.
copy_with_libraries() {
  local file=$1 library
  mkdir -p "$root$(dirname "$file")"
  cp -L "$file" "$root$file"
  for library in $(ldd "$file" 2>/dev/null | grep -o '/[^ ]*' || true); do
    [[ -e $root$library ]] && continue
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
  done
}
cp "$busybox" "$root/bin/busybox"
copy_with_libraries "$program"
for file in ${files[@]+"${files[@]}"}; do copy_with_libraries "$file"; done

# The package has no modules.dep (depmod runs when it is installed), so each
# module's own list of what it depends on sets the order.
load_order=()
add_module() {
  local name=${1//-/_} found dependency
  [[ " ${load_order[*]-} " == *" $name "* ]] && return
  found=$(find "$kernel/modules" -regextype posix-extended -regex ".*/${name//_/[-_]}\.ko(\.xz|\.zst)?" | head -n1)
  if [[ -z $found ]]; then
    grep -qE "/${name//_/[-_]}\.ko$" "$kernel/modules.builtin" && return
    die "module $name is not in $(cat "$kernel/version")"
  fi
  case $found in  # busybox insmod takes plain modules only
    *.xz) xz -dc "$found" >"$root/modules/$name.ko" ;;
    *.zst) zstd -qdc "$found" >"$root/modules/$name.ko" ;;
    *) cp "$found" "$root/modules/$name.ko" ;;
  esac
  for dependency in $(tr '\0' '\n' <"$root/modules/$name.ko" | sed -n 's/^depends=//p' | head -n1 | tr ',' ' '); do
    add_module "$dependency"
  done
  load_order+=("$name")
}
for module in "${modules[@]}"; do add_module "$module"; done

quote() { printf "'%s'" "${1//\'/\'\\\'\'}"; }
command_line=$(quote "$program")
for argument in "$@"; do command_line+=" $(quote "$argument")"; done
environment=
while IFS= read -r name; do
  environment+="export $name=$(quote "${!name}")"$'\n'
done < <(compgen -e | grep -E '^(ORTEL_|GTEST_|ASAN_OPTIONS$|UBSAN_OPTIONS$|LSAN_OPTIONS$)' || true)

# The archive holds no device nodes (making one takes root), so the kernel
# starts init with no console: devtmpfs first, then the descriptors.
cat >"$root/init" <<EOF
#!/bin/busybox sh
/bin/busybox mount -t devtmpfs devtmpfs /dev
exec 0</dev/console 1>/dev/console 2>&1
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
for module in ${load_order[*]}; do insmod /modules/\$module.ko || echo "init: insmod \$module failed"; done
$environment
cd /tmp
echo "@@ortel-vm-begin@@"
$command_line
echo "@@ortel-vm-status=\$?@@"
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | "$busybox" cpio -o -H newc -R 0:0 2>/dev/null) >"$work/initramfs"

# --- The machine ------------------------------------------------------------------

# KVM only on a host with VMX or SVM: some hosts offer a /dev/kvm (PVM) that
# runs only kernels built for it. Otherwise QEMU's software CPU.
accelerator=(-accel tcg)
if [[ -r /dev/kvm && -w /dev/kvm ]] && grep -qwE 'vmx|svm' /proc/cpuinfo; then
  accelerator=(-accel kvm -cpu host)
fi
# -M pc: its HPET lets the kernel calibrate the TSC on a busy host, where a
# microvm machine hangs at boot. panic=-1 with -no-reboot ends QEMU when the
# guest panics; timeout ends a guest that hangs.
set +e
started=$(date +%s%N)
timeout --kill-after=5 "${ORTEL_VM_TIMEOUT:-600}" qemu-system-x86_64 -M pc "${accelerator[@]}" -m 512M -smp 1 \
  -nodefaults -no-user-config -nographic -serial stdio -monitor none -no-reboot \
  -kernel "$kernel/vmlinux" -initrd "$work/initramfs" -append "console=ttyS0 quiet panic=-1" \
  </dev/null >"$work/console" 2>"$work/qemu-errors"
qemu_status=$?
set -e
echo "run.sh: kernel $(cat "$kernel/version"), ${accelerator[1]}, $((($(date +%s%N) - started) / 1000000)) ms in the machine" >&2

# The guest's serial console writes CR LF, and the firmware's text can share
# a line with a marker.
tr -d '\r' <"$work/console" >"$work/console.txt"
sed -n '/@@ortel-vm-begin@@/,/@@ortel-vm-status=/{/@@ortel-vm-/d;p}' "$work/console.txt"
status=$(sed -n 's/.*@@ortel-vm-status=\([0-9]*\)@@.*/\1/p' "$work/console.txt" | tail -n1)
if [[ -z $status ]]; then
  [[ $qemu_status == 124 ]] && echo "run.sh: the machine ran longer than ${ORTEL_VM_TIMEOUT:-600} s" >&2
  echo "run.sh: no result from the machine (QEMU status $qemu_status); the end of its console:" >&2
  tail -n 40 "$work/console.txt" >&2
  cat "$work/qemu-errors" >&2
  exit 125
fi
exit "$status"
