#!/usr/bin/env bash
# Builds every preset and runs every test: native, native under sanitizers, Windows under
# Wine, the worker-thread tests under ThreadSanitizer, each fuzz target for a short fixed
# time (BRENVIK_FUZZ_SECONDS, default 20), and the main job itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
results=$(mktemp)
trap 'rm -f "$results"' EXIT

# ctest, with its closing count kept for the summary line at the very end.
run_ctest() {
  ctest --preset "$1" -j"$jobs" | tee -a "$results"
}

build() {
  echo "== $1"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j"$jobs"
}

scripts/install-deps.sh all

for preset in linux linux-asan; do
  build "$preset"
  run_ctest "$preset"
done

# What ships for Windows is the i686 build: always built, its imports checked as it links.
# Where this machine's kernel cannot start 32-bit programs (Wine's 32-bit loader fails with
# "Exec format error"), the Windows tests run on the same sources built for x86_64, under wine64.
build windows
guest_windows=0 guest_skipped=0
# BRENVIK_WINDOWS_GUEST=1 takes the second way on any machine.
if [ "${BRENVIK_WINDOWS_GUEST:-0}" != 1 ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  run_ctest windows
  echo "== this machine runs the shipped i686 programs itself: no guest needed for them"
else
  if [ "${BRENVIK_WINDOWS_GUEST:-0}" = 1 ]; then
    echo "== BRENVIK_WINDOWS_GUEST=1: the Windows tests run on the x86_64 build"
  else
    echo "== this machine cannot start 32-bit programs: the Windows tests run on the x86_64 build"
  fi
  build windows-x64
  run_ctest windows-x64
  # The programs that ship are i686: the kernel rig's guest starts 32-bit programs, and runs
  # some of the Windows tests on them with the host's 32-bit Wine.
  if [ -x /usr/lib/wine/wine ]; then
    echo "== the shipped i686 programs, in the kernel rig's guest"
    python3 -m tests.kernel.kernel_test windows build/linux/cli/brenvik-cli build/linux/handset/handset-sim \
      --windows build/windows
    guest_windows=1
  else
    echo "== wine32:i386 is not installed (see install-deps above): the shipped i686 programs are not run"
    guest_skipped=1
  fi
fi

# Only what these two presets check is built: the worker-thread tests, the fuzz targets.
for preset in linux-tsan linux-fuzz; do
  build "$preset"
  run_ctest "$preset"
done

echo "== the main job"
BRENVIK_DEMO_RECORDS=64 BRENVIK_DEMO_RATE_KIB=0 scripts/demo.sh

# One closing line for the whole run: every ctest count, the main job as one more test, and
# the guest's run of the i686 programs as one more where it ran.
# ctest counts a skipped test (exit 77, GTEST_SKIP) among the passed; it lists it as "(Skipped)".
total=$(awk '/tests passed, 0 tests failed out of/ { n += $NF } END { print n + 0 }' "$results")
skipped=$(grep -c ' (Skipped)$' "$results" || true)
echo "$((total - skipped + 1 + guest_windows)) passed, 0 failed, $((skipped + guest_skipped)) skipped"
