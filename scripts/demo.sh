#!/usr/bin/env bash
# The main job: build, make a sample img (boot area and BIN records), start the handset
# emulator on a pty, flash the image into it with brenvik-cli, and show what it received.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh native
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)" --target brenvik-cli handset-sim >/dev/null

work=${BRENVIK_DEMO_DIR:-$root/build/demo}
rm -rf "$work" && mkdir -p "$work"
image=$work/sample.img
python3 scripts/make-sample-image.py "$image" --records "${BRENVIK_DEMO_RECORDS:-2048}" --record-size 16384
echo "== the image"
build/linux/cli/brenvik-cli inspect "$image" | sed -n '1,7p;/^end record/,$p'

echo "== the handset (emulated) on a pty"
build/linux/handset/handset-sim --out "$work/received" --expect "$image" --path-file "$work/pty" \
  --rate "${BRENVIK_DEMO_RATE_KIB:-8192}" \
  >"$work/sim.out" 2>"$work/sim.err" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$work/pty" ] && break; sleep 0.1; done
[ -s "$work/pty" ] || { echo "handset-sim did not start:"; cat "$work/sim.err"; exit 1; }
device=$(head -n1 "$work/pty")
echo "handset-sim listens on $device"

echo "== flashing"
status=0
build/linux/cli/brenvik-cli flash --device "$device" --timeout 10 "$image" || status=$?
wait $sim || status=$((status ? status : $?))
trap - EXIT

echo "== what the handset received"
cat "$work/sim.err"
python3 - "$work/received/summary.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
records = s.get("record_list", [])
ok = sum(1 for r in records if r.get("checksum_ok"))
print(f"kind {s['kind']}, {s['records']} records received, {ok} matching the file, "
      f"boot area {s['bytes']['boot']} bytes, protocol errors: {len(s['protocol_errors'])}, "
      f"matches the image: {s.get('matches_expected')}")
PY
exit $status
