#!/usr/bin/env bash
# Builds every preset and runs every test: native, native under sanitizers, Windows under
# Wine, the worker-thread tests under ThreadSanitizer, each fuzz target for a short fixed
# time (BRENVIK_FUZZ_SECONDS, default 20), and the main job itself.
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

# Only what these two presets check is built: the worker-thread tests, the fuzz targets.
for preset in linux-tsan linux-fuzz; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done

echo "== the main job"
BRENVIK_DEMO_RECORDS=64 BRENVIK_DEMO_RATE_KIB=0 scripts/demo.sh
