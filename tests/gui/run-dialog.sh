#!/usr/bin/env bash
# Runs Brenvik.exe under Wine against handset-sim, which it finds through the real class
# search: the handset's interface is registered in the Wine prefix and its path leads to
# the emulator's pty. Flash as often as you like; close the dialog to end. What arrived
# is left in build/dialog-run/session-K/ (summary.json and the received bytes).
#
#   tests/gui/run-dialog.sh [IMAGE] [-- HANDSET-SIM OPTIONS...]
#
# IMAGE goes to the dialog's command line (a Linux path is given as Z:\...). Options after
# "--" go to handset-sim, e.g. "-- --no-auto-upgrade" when you untick auto upgrade, or
# "-- --rate 512" for a handset slow enough to watch. Needs an X display ($DISPLAY).
# BRENVIK_EXE and HANDSET_SIM name the programs (default: the windows and linux presets).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/scripts/wine-env.sh"

exe=${BRENVIK_EXE:-$root/build/windows/dialog/app/Brenvik.exe}
sim=${HANDSET_SIM:-$root/build/linux/handset/handset-sim}
out=${BRENVIK_RUN_DIR:-$root/build/dialog-run}
image=
if [ $# -gt 0 ] && [ "$1" != "--" ]; then image=$1; shift; fi
[ "${1:-}" = "--" ] && shift

die() { echo "run-dialog: $*" >&2; exit 1; }
[ -n "${DISPLAY:-}" ] || die "no X display: set DISPLAY (the dialog is for a person to use)"
[ -f "$exe" ] || die "no $exe: cmake --preset windows && cmake --build --preset windows"
[ -x "$sim" ] || die "no $sim: cmake --preset linux && cmake --build --preset linux"
exe=$(realpath "$exe") sim=$(realpath "$sim") out=$(realpath -m "$out")

guid='{25DBCE51-6C8F-4A72-8A6D-B54C2B4FC835}'
interface_key="HKLM\\System\\CurrentControlSet\\Control\\DeviceClasses\\$guid\\##?#ROOT#BRENVIK#0000#$guid"
enum_key='HKLM\System\CurrentControlSet\Enum\ROOT\BRENVIK'
link="$WINEPREFIX/dosdevices/root#brenvik#0000#$(tr 'A-Z' 'a-z' <<<"$guid")"

brenvik_wine_prefix
# The prefix's devices are ours until we end: the tests that share it take turns with us.
exec 9>"$WINEPREFIX.devices.lock"
flock -w 240 9 || die "the Wine devices of $WINEPREFIX stay busy (tests running?)"

sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  rm -f "$link"
  brenvik_wine reg delete "HKLM\\System\\CurrentControlSet\\Control\\DeviceClasses\\$guid" /f >/dev/null 2>&1 || true
  brenvik_wine reg delete "$enum_key" /f >/dev/null 2>&1 || true
}
trap cleanup EXIT

brenvik_wine reg add "$interface_key" /v DeviceInstance /d 'ROOT\BRENVIK\0000' /f >/dev/null
brenvik_wine reg add "$interface_key\\#\\Control" /v Linked /t REG_DWORD /d 1 /f >/dev/null
brenvik_wine reg add "$enum_key\\0000" /v ClassGUID /d "$guid" /f >/dev/null

rm -rf "$out" && mkdir -p "$out"
"$sim" --sessions 0 --link "$link" --out "$out" "$@" >"$out/sim.out" 2>"$out/sim.err" &
sim_pid=$!
for _ in $(seq 100); do [ -L "$link" ] && break; sleep 0.1; done
[ -L "$link" ] || die "handset-sim did not start: $(cat "$out/sim.err")"
echo "handset-sim on $(head -n1 "$out/sim.out"), seen by Wine as \\\\?\\root#brenvik#0000#..."

args=()
if [ -n "$image" ]; then
  case "$image" in /*) image="Z:$(tr '/' '\\' <<<"$image")" ;; esac
  args=("$image")
fi
# The settings file lands beside the working folder: build/dialog-run/workBrenvik.ini.
mkdir -p "$out/work"
(cd "$out/work" && BRENVIK_WINE_TIMEOUT=${BRENVIK_RUN_LIMIT:-86400} brenvik_wine "$exe" "${args[@]}") || true

kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
sim_pid=
cat "$out/sim.err"
echo "received: $out"
