#!/usr/bin/env bash
# Runs one Windows program under Wine in the project's own prefix (made once, then reused).
# ctest uses it as the cross-compiling emulator. WINE_RUN_TIMEOUT bounds the run (seconds).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
brenvik_wine_prefix
BRENVIK_WINE_TIMEOUT=${WINE_RUN_TIMEOUT:-300} brenvik_wine "$@"
