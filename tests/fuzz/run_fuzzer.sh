#!/usr/bin/env bash
# Runs one fuzz target for a fixed time, starting from its committed corpus, and says how
# many inputs it tried. New inputs go to a scratch folder: the committed corpus stays as it
# is. A crashing input is kept as ARTIFACTS<kind>-<hash>.
# Usage: run_fuzzer.sh FUZZER CORPUS SECONDS ARTIFACTS [DICT]
# BRENVIK_FUZZ_SECONDS overrides SECONDS.
set -euo pipefail
fuzzer=$1 corpus=$2 seconds=${BRENVIK_FUZZ_SECONDS:-$3} artifacts=$4 dict=${5:-}
name=$(basename "$fuzzer")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$(dirname "$artifacts")"

args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
      -artifact_prefix="$artifacts")
[ -n "$dict" ] && args+=(-dict="$dict")
if ! "$fuzzer" "${args[@]}" "$scratch" "$corpus" >"$scratch.log" 2>&1; then
  tail -n 60 "$scratch.log"
  rm -f "$scratch.log"
  echo "$name: FAILED (the input is kept beside $artifacts)"
  exit 1
fi
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch.log")
rm -f "$scratch.log"
echo "$name: ${runs:-?} executions in $seconds s, no failure"
