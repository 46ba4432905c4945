# Sourced by the Wine helpers: the project's Wine environment, and its prefix made once.
# The prefix lives in build/wineprefix (override with WINEPREFIX) and is reused by every
# run; creating it takes ~20 s, and a lock keeps parallel callers from racing on it.
brenvik_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# WINEARCH=win64 (the windows-x64 preset) keeps a prefix of its own.
export WINEARCH=${WINEARCH:-win32}
if [ "$WINEARCH" = win64 ]; then
  export WINEPREFIX=${WINEPREFIX:-$brenvik_root/build/wineprefix64}
  case ":$PATH:" in *":$brenvik_root/scripts/wine64:"*) ;; *) export PATH="$brenvik_root/scripts/wine64:$PATH" ;; esac
else
  export WINEPREFIX=${WINEPREFIX:-$brenvik_root/build/wineprefix}
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
# Wine names host files in the locale's charset: without a UTF-8 locale (an empty
# environment has none) a path such as 固件 cannot be made at all.
if [ "$(locale charmap 2>/dev/null)" != "UTF-8" ]; then export LC_ALL=C.UTF-8; fi

# Marks a prefix that finished its set-up; a half-made one is made anew.
brenvik_prefix_ready="$WINEPREFIX/.brenvik-ready"

brenvik_wine_prefix() {
  [ -f "$brenvik_prefix_ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock -w 300 9 || { echo "wine-env: timed out waiting for the prefix lock" >&2; exit 1; }
    [ -f "$brenvik_prefix_ready" ] && exit 0
    timeout 30 wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    echo "wine-env: creating the Wine prefix $WINEPREFIX" >&2
    timeout 180 wineboot -i </dev/null >/dev/null 2>&1 || { echo "wine-env: wineboot failed" >&2; exit 1; }
    timeout 60 wineserver -w
    # Without a window manager every hidden window would cost seconds.
    timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    timeout 60 wineserver -w
    touch "$brenvik_prefix_ready"
  ) 9>"$WINEPREFIX.lock"
}

# A Wine command with a bound (BRENVIK_WINE_TIMEOUT seconds). Its output goes through files:
# Wine's background processes (the wineserver, services.exe, ...) inherit the descriptors
# of the call that started them and would hold a ctest pipe open for seconds after the
# program ended, which also lets the next test meet a wineserver that is shutting down.
brenvik_wine() {
  local out err pid rc=0
  out=$(mktemp) err=$(mktemp)
  # A server that stays a while between programs spares each test a restart of Wine's
  # services; when one runs already this call just fails.
  wineserver -p"${BRENVIK_WINESERVER_PERSIST:-30}" </dev/null >/dev/null 2>&1 || true
  timeout --kill-after=10 "${BRENVIK_WINE_TIMEOUT:-300}" wine "$@" </dev/null >"$out" 2>"$err" &
  pid=$!
  trap 'kill -TERM $pid 2>/dev/null' TERM INT
  wait $pid || rc=$?
  while kill -0 $pid 2>/dev/null; do wait $pid || rc=$?; done  # a trapped signal ends wait early
  trap - TERM INT
  cat "$out"
  cat "$err" >&2
  rm -f "$out" "$err"
  return $rc
}
