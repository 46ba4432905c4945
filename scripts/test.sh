#!/usr/bin/env bash
# Builds every preset and runs every test: native, native under sanitizers, Windows under
# Wine, and the main job itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

scripts/install-deps.sh all

for preset in linux linux-asan windows; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done

echo "== the main job"
BRENVIK_DEMO_RECORDS=64 BRENVIK_DEMO_RATE_KIB=0 scripts/demo.sh
