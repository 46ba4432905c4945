#!/usr/bin/env bash
# Puts pty-backed devices into the project's Wine prefix for the Windows tests, and takes
# them out again, leaving the prefix as it was.
#
#   wine-fixture.sh up STATE      host an echo pty as COM9 and a silent one as COM8, and
#                                 register three present handset interfaces: the first,
#                                 named, with a port name and a location, has a third
#                                 (echo) pty as its path; a bare one; a USB device with
#                                 its description
#   wine-fixture.sh down STATE    all of that undone
#   wine-fixture.sh absent STATE  no handset interface registered
#   wine-fixture.sh absent-end STATE
#
# STATE is a folder of the build tree that keeps the host's pid, log and pty paths. From
# "up" to "down", and from "absent" to "absent-end", the run holds the prefix's device
# lock: runs that share a prefix take turns instead of undoing each other's devices.
set -eEuo pipefail
# Whatever fails says where: a step that fails silently would otherwise leave no trace.
trap 'echo "wine-fixture: line $LINENO failed (exit $?)" >&2' ERR
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/wine-env.sh"

command=${1:?command}
state=${2:?state folder}
python=${PYTHON:-python3}
lifetime=${BRENVIK_PTY_LIFETIME:-900}
lock_wait=${BRENVIK_DEVICES_LOCK_WAIT:-240}

guid='{25DBCE51-6C8F-4A72-8A6D-B54C2B4FC835}'
guid_lower=$(tr 'A-Z' 'a-z' <<<"$guid")
classes='HKLM\System\CurrentControlSet\Control\DeviceClasses'
enum_key='HKLM\System\CurrentControlSet\Enum\ROOT\BRENVIK'
usb_instance='USB\VID_049F&PID_0003\BV0001'
usb_enum_key='HKLM\System\CurrentControlSet\Enum\USB\VID_049F&PID_0003'
dosdevices="$WINEPREFIX/dosdevices"
interface_link="$dosdevices/root#brenvik#0000#$guid_lower"
echo_port=com9
silent_port=com8

die() { echo "wine-fixture: $*" >&2; exit 1; }

pty_path() {  # the n-th pty the host printed (1-based)
  sed -n "${1}p" "$state/host.out"
}

hold_lock() {  # $1: the stage's name; a sleeping holder keeps the lock until released
  release_lock "$1"
  mkdir -p "$state" "$(dirname "$WINEPREFIX")"
  (flock -w "$lock_wait" 9 || exit 1; echo locked; exec sleep "$lifetime") \
    9>"$WINEPREFIX.devices.lock" </dev/null >"$state/$1.lock" 2>&1 &
  echo $! >"$state/$1.lock.pid"
  while ! grep -q locked "$state/$1.lock" 2>/dev/null; do
    kill -0 "$(cat "$state/$1.lock.pid")" 2>/dev/null ||
      die "another run held the Wine devices of $WINEPREFIX for $lock_wait s"
    sleep 0.1
  done
}

release_lock() {
  if [ -f "$state/$1.lock.pid" ]; then
    kill "$(cat "$state/$1.lock.pid")" 2>/dev/null || true
    rm -f "$state/$1.lock.pid" "$state/$1.lock"
  fi
}

stop_host() {
  if [ -f "$state/host.pid" ]; then
    local pid
    pid=$(cat "$state/host.pid")
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$state/host.pid"
  fi
}

ptys_down() {
  stop_host
  rm -f "$dosdevices/$echo_port" "$dosdevices/$silent_port"
}

ptys_up() {
  stop_host
  # Detached from ctest's pipes, so that the set-up step ends while the host serves.
  "$python" "$here/pty_host.py" echo silent echo --lifetime "$lifetime" \
    </dev/null >"$state/host.out" 2>"$state/host.err" &
  echo $! >"$state/host.pid"
  for _ in $(seq 100); do
    [ "$(wc -l <"$state/host.out")" -ge 3 ] && break
    kill -0 "$(cat "$state/host.pid")" 2>/dev/null || die "pty host ended: $(cat "$state/host.err")"
    sleep 0.1
  done
  [ "$(wc -l <"$state/host.out")" -ge 3 ] || die "pty host printed no paths within 10 s"
  brenvik_wine_prefix
  ln -sfn "$(pty_path 1)" "$dosdevices/$echo_port"
  ln -sfn "$(pty_path 2)" "$dosdevices/$silent_port"
  echo "COM9 -> $(pty_path 1), COM8 -> $(pty_path 2)"
}

handset_down() {
  rm -f "$interface_link"
  [ -f "$brenvik_prefix_ready" ] || return 0
  # Deleting an absent key fails; only presence afterwards is an error.
  brenvik_wine reg delete "$classes\\$guid" /f >/dev/null 2>&1 || true
  brenvik_wine reg delete "$enum_key" /f >/dev/null 2>&1 || true
  brenvik_wine reg delete "$usb_enum_key" /f >/dev/null 2>&1 || true
  if brenvik_wine reg query "$classes\\$guid" >/dev/null 2>&1; then
    die "the interface class is still registered"
  fi
  echo "handset interface removed"
}

# One value into the registry. A fresh 64-bit prefix once failed such a write with no word
# at all while other tests started Wine beside it; it is said, and tried once more.
reg_add() {
  local rc=0
  brenvik_wine reg add "$@" /f >/dev/null || rc=$?
  [ "$rc" -eq 0 ] && return 0
  echo "wine-fixture: reg add $1 failed (exit $rc); trying once more" >&2
  sleep 1
  brenvik_wine reg add "$@" /f >/dev/null || die "reg add $1 failed twice"
}
register_interface() {  # $1: the device's instance id
  local key="$classes\\$guid\\##?#${1//\\/#}#$guid"
  reg_add "$key" /v DeviceInstance /d "$1"
  reg_add "$key\\#\\Control" /v Linked /t REG_DWORD /d 1
  reg_add "HKLM\\System\\CurrentControlSet\\Enum\\$1" /v ClassGUID /d "$guid"
}

handset_up() {
  [ -s "$state/host.out" ] || die "no pty host"
  brenvik_wine_prefix
  register_interface 'ROOT\BRENVIK\0000'
  reg_add "$enum_key\\0000" /v FriendlyName /d 'Brenvik Handset (COM5)'
  reg_add "$enum_key\\0000" /v DeviceDesc /d 'Not the friendly name'
  reg_add "$enum_key\\0000\\Device Parameters" /v PortName /d COM5
  reg_add "$enum_key\\0000" /v LocationInformation /d 'Port_#0004.Hub_#0003'
  register_interface 'ROOT\BRENVIK\0001'
  register_interface "$usb_instance"
  reg_add "HKLM\\System\\CurrentControlSet\\Enum\\$usb_instance" /v DeviceDesc \
    /d 'Windows CE USB Device'
  # Whatever wrote the registry: a location with an escape in it is none.
  reg_add "HKLM\\System\\CurrentControlSet\\Enum\\$usb_instance" /v LocationInformation \
    /d $'Port_#0002\e[2J.Hub_#0001'
  ln -sfn "$(pty_path 3)" "$interface_link"
  echo "handset interface -> $(pty_path 3)"
}

case "$command" in
  up) hold_lock devices; ptys_up; handset_down >/dev/null; handset_up ;;
  down) handset_down; ptys_down; release_lock devices ;;
  absent) hold_lock absent; handset_down ;;
  absent-end) release_lock absent ;;
  *) die "unknown command $command" ;;
esac
