#!/usr/bin/env bash
# Installs what the build, the demo and the tests need on Debian 12. Idempotent: a package
# that is already there is not fetched again, and apt-get runs only when something is missing.
set -euo pipefail

# help2man and dpkg-dev (dpkg-shlibdeps): the Debian package's man pages and dependencies;
# lintian: the package test holds the package to Debian's policy.
# libusb-1.0-0-dev (found by pkg-config): Linux talks to a handset of the ipaq driver over usbfs.
# libpq-dev, libsqlite3-dev: the records' databases; zlib1g-dev: rotated logs are gzip;
# libsimdjson-dev: the import's parser of log lines; postgresql: the server their tests start;
# python3-jsonschema: the log line's schema in the tests; logrotate: the station's test rotates
# its log with the package's own configuration. prometheus (with promtool) scrapes the station's
# metrics in their test; chromium, headless, opens the records' HTML report in its test.
native=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev python3
        help2man dpkg-dev lintian systemd libusb-1.0-0-dev libpq-dev libsqlite3-dev zlib1g-dev libsimdjson-dev
        postgresql python3-jsonschema logrotate prometheus chromium)
# The x86_64 cross compilers: the Windows tests' build where 32-bit programs cannot start.
windows=(g++-mingw-w64-i686 gcc-mingw-w64-i686 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
         xvfb imagemagick fonts-wqy-microhei fonts-wine locales-all wine wine32:i386 wine64)
fuzz=(clang-14 libclang-rt-14-dev)
# The real-kernel rig: a VM, busybox for its initramfs, udev and kmod (depmod, modprobe);
# strace stamps the kernel benchmark's plug timings; passwd makes the guest's bench user.
# (tests/cli/station_screenshot.py, run by hand for the docs, asks for xterm itself.)
kernel_rig=(qemu-system-x86 busybox-static udev kmod strace passwd)

want=("${native[@]}")
case "${1:-all}" in
  native) ;;
  all) want+=("${windows[@]}" "${fuzz[@]}" "${kernel_rig[@]}") ;;
  *) echo "usage: $0 [native|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# An archive mirror caught mid-sync answers with an index of the wrong size: asked again a
# little later, it is often whole. When one index stays broken, apt keeps what it read of the
# others (index_whole=0), and the install below falls back on it.
index_whole=1
apt_update() {
  local try
  for try in 1 2 3; do
    $SUDO apt-get update -qq && { index_whole=1; return 0; }
    echo "install-deps: the package index could not be read whole (try $try of 3)" >&2
    [ "$try" -lt 3 ] && sleep $((try * 10))
  done
  index_whole=0
  echo "install-deps: going on with the package index as read" >&2
}

# With the security suite's i386 index missing, its amd64 updates cannot be matched by their
# i386 twins (wine32's libraries), and apt finds no solution: the point release alone then
# gives both architectures the same versions. Where the machine already has such updates
# installed, only that index has their twins: the i386 packages are left out, and said so.
apt_install() {
  local p native=() foreign=()
  $SUDO apt-get install -y -qq --no-install-recommends "$@" && return 0
  [ "$index_whole" = 0 ] || return 1
  echo "install-deps: installing from the point release alone, the security index being incomplete" >&2
  $SUDO apt-get install -y -qq --no-install-recommends -t bookworm "$@" && return 0
  for p; do case $p in *:i386) foreign+=("$p") ;; *) native+=("$p") ;; esac; done
  [ ${#foreign[@]} -gt 0 ] || return 1
  # An i386 architecture without its index still sways apt's choice of amd64 versions into a
  # dead end; where no i386 package is installed yet, it goes until the next run adds it again.
  if ! grep -qx i386 <<<"$(dpkg-query -W -f='${Architecture}\n')"; then
    $SUDO dpkg --remove-architecture i386
    apt_update
  fi
  [ ${#native[@]} -eq 0 ] || $SUDO apt-get install -y -qq --no-install-recommends "${native[@]}" || return 1
  echo "install-deps: ${foreign[*]} cannot be installed while the archive's i386 security index is" \
       "broken: the Windows tests run on the x86_64 build, and the shipped i686 programs are not run" >&2
}

# Debian's current kernel for the rig's VM, unpacked into a cache folder and never installed:
# the host's own kernel stays as it is. The folder is named by the package's version, so a
# newer kernel is fetched once and an unchanged one not at all.
fetch_kernel() {
  local cache=${BRENVIK_KERNEL_CACHE:-/var/cache/brenvik-kernel}
  local meta pkg ver dir
  meta=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
  if [ -z "$meta" ]; then
    apt_update
    meta=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
  fi
  ver=$(apt-cache policy "$meta" | awk '/Candidate:/ { print $2 }')
  dir="$cache/$meta-$ver"
  if [ ! -f "$dir/.complete" ]; then
    $SUDO mkdir -p "$cache"
    $SUDO rm -rf "$dir" "$dir.tmp"
    $SUDO mkdir -p "$dir.tmp/deb"
    # apt-get drops to _apt to download; the folder is root's, so the file goes to a temporary one.
    (cd "$dir.tmp/deb" && $SUDO apt-get download -qq -o APT::Sandbox::User=root "$meta=$ver")
    $SUDO dpkg-deb -x "$dir.tmp"/deb/*.deb "$dir.tmp/root"
    $SUDO rm -rf "$dir.tmp/deb"
    local release
    release=$(ls "$dir.tmp/root/lib/modules")
    $SUDO depmod -b "$dir.tmp/root" "$release"
    # The kernel unpacked once here: under emulation its own xz decompressor takes ~40 s a
    # boot, and qemu boots the plain ELF directly (PVH).
    $SUDO python3 - "$dir.tmp/root/boot/vmlinuz-$release" "$dir.tmp/root/boot/vmlinux-$release" <<'PY'
import lzma, sys
data = open(sys.argv[1], "rb").read()
elf = lzma.LZMADecompressor().decompress(data[data.index(b"\xfd7zXZ\x00"):])
assert elf[:4] == b"\x7fELF", "no xz-packed ELF kernel in " + sys.argv[1]
open(sys.argv[2], "wb").write(elf)
PY
    $SUDO touch "$dir.tmp/.complete"
    $SUDO mv "$dir.tmp" "$dir"
  fi
  $SUDO ln -sfn "$meta-$ver" "$cache/current"
}

# Only "all" needs the rig's kernel. An if, not "&&": the script's status must not be the test's.
finish() {
  if [ "${1:-all}" = all ]; then fetch_kernel; fi
  exit 0
}

[ ${#missing[@]} -eq 0 ] && finish "$@"

if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
fi
apt_update
apt_install "${missing[@]}"
finish "$@"
