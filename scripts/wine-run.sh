#!/usr/bin/env bash
# Runs one Windows program under Wine in the project's own prefix (made once, then reused).
# ctest uses it as the cross-compiling emulator.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/../build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
export WINEARCH=win32

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      timeout 180 wineboot -i >/dev/null 2>&1 || true
      timeout 60 wineserver -w || true
      # Without a window manager every hidden window would cost seconds.
      timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
      timeout 60 wineserver -w || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi

exec timeout --kill-after=10 "${WINE_RUN_TIMEOUT:-300}" wine "$@"
