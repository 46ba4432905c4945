#!/usr/bin/env bash
# Puts Wine's own rundll32.exe back into the prefix's system folder, should a setup test
# program have been killed while its recording stand-in stood there (setup_harness.cpp,
# SystemStandIn, keeps the original as rundll32.exe.brenvik-original until it is back), and
# checks that the system folder's rundll32.exe is Wine's own. Run by ctest before and after the
# setup tests that use the stand-in.
#
#   system-rundll32.sh restore
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
[ "${1:-}" = restore ] || { echo "usage: system-rundll32.sh restore" >&2; exit 2; }
# No prefix yet (or one being made): there is nothing to put back.
[ -f "$brenvik_prefix_ready" ] || { echo "no Wine prefix yet"; exit 0; }
system="$WINEPREFIX/drive_c/windows/system32"
if [ -f "$system/rundll32.exe.brenvik-original" ]; then
  # A rename: the file is never half written.
  mv -f "$system/rundll32.exe.brenvik-original" "$system/rundll32.exe"
  echo "put Wine's rundll32.exe back from a stand-in left behind"
fi
rm -f "$system/rundll32-calls.txt" "$system/ping-parent" "$system/rundll32.exe.brenvik-keeping"
if ! grep -q "Wine builtin DLL" "$system/rundll32.exe" 2>/dev/null; then
  echo "system-rundll32.sh: $system/rundll32.exe is not Wine's own rundll32.exe" >&2
  exit 1
fi
echo "the system folder's rundll32.exe is Wine's own"
