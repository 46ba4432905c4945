#!/usr/bin/env bash
# A display for the setup.exe tests: Xvfb on :92 (a server already answering there is used
# as it is and left running), and a virtual desktop of its own on it for setup_tests.exe and
# setup_stand_in_tests.exe, whose children (setup.exe, the installers) inherit it.
#
# The desktop of the Wine session itself is no good here: its explorer.exe starts with the
# session's first program, and when that one has no DISPLAY (a console test, a listing of
# tests) every window of the session fails until the session ends. A desktop named anew for
# each run is made by the first program that asks for it, with the display.
#
#   display.sh up STATE     STATE: a folder of the build tree for the server's pid and log
#   display.sh down STATE
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/wine-env.sh"
command=${1:?command}
state=${2:?state folder}
display=${BRENVIK_SETUP_DISPLAY:-:92}
app_keys=('HKCU\Software\Wine\AppDefaults\setup_tests.exe'
          'HKCU\Software\Wine\AppDefaults\setup_stand_in_tests.exe')
desktops_key='HKCU\Software\Wine\Explorer\Desktops'
mkdir -p "$state"

# A server that lives and listens: its lock file names a live process, and its socket is up.
answering() {
  local number=${display#:} pid
  [ -S "/tmp/.X11-unix/X$number" ] && [ -f "/tmp/.X$number-lock" ] || return 1
  pid=$(tr -d ' \n' <"/tmp/.X$number-lock")
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null
}

start_server() {
  if answering; then echo "using the display on $display"; return 0; fi
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$state/xvfb.log" 2>&1 &
  echo $! >"$state/xvfb.pid"
  for _ in $(seq 100); do
    answering && { echo "Xvfb on $display"; return 0; }
    kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "display.sh: no display on $display: $(cat "$state/xvfb.log")" >&2
  return 1
}

stop_server() {
  [ -f "$state/xvfb.pid" ] || return 0
  local pid
  pid=$(cat "$state/xvfb.pid")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$state/xvfb.pid"
}

desktop_up() {
  local name="BrenvikSetup$(date +%s%N)"
  brenvik_wine_prefix
  brenvik_wine reg add "$desktops_key" /v "$name" /d 1024x768 /f >/dev/null
  for app_key in "${app_keys[@]}"; do
    brenvik_wine reg add "$app_key\\Explorer" /v Desktop /d "$name" /f >/dev/null
  done
  echo "$name" >"$state/desktop"
  echo "virtual desktop $name"
}

desktop_down() {
  [ -f "$brenvik_prefix_ready" ] || return 0
  for app_key in "${app_keys[@]}"; do
    brenvik_wine reg delete "$app_key" /f >/dev/null 2>&1 || true
  done
  if [ -f "$state/desktop" ]; then
    brenvik_wine reg delete "$desktops_key" /v "$(cat "$state/desktop")" /f >/dev/null 2>&1 || true
    rm -f "$state/desktop"
  fi
}

case "$command" in
  up) start_server; desktop_up ;;
  down) desktop_down; stop_server ;;
  *) echo "display.sh: unknown command $command" >&2; exit 1 ;;
esac
