#!/usr/bin/env bash
# ctest's emulator for setup_stand_in_tests.exe: scripts/wine-run.sh with the override
# rundll32.exe=n added to the project's overrides. Wine starts a native rundll32.exe from the
# system folder (the recording stand-in the tests put there) only under that override, and
# only when it is in the environment the process tree was started with: a Windows program's
# SetEnvironmentVariable does not reach the load order of the programs it starts (checked,
# Wine 8). ctest cannot give these tests a second ENVIRONMENT entry (gtest_discover_tests in
# CMake 3.25 splits the list), hence this wrapper.
#
# The override makes Wine's own rundll32.exe unstartable, and wineboot needs it: the prefix is
# made (if need be) before the override is set.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
brenvik_wine_prefix
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;rundll32.exe=n"
BRENVIK_WINE_TIMEOUT=${WINE_RUN_TIMEOUT:-300} brenvik_wine "$@"
