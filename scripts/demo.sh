#!/usr/bin/env bash
# The main job without serial hardware: a virtual null modem (socat linking two pseudo-terminals),
# the receiver on one end, the sender playing a sample data file into the other; then the capture.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DZENTAVOL_TESTS=OFF > /dev/null
cmake --build build-release -j 2 > /dev/null

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

socat "pty,raw,echo=0,link=$work/port-a" "pty,raw,echo=0,link=$work/port-b" &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/port-a" ] && [ -e "$work/port-b" ] && break; sleep 0.05; done

echo "== receiver: zentavol $work/port-a (echo follows)"
root=$PWD
(cd "$work" && exec "$root/build-release/zentavol" "$work/port-a") &
pids+=($!)
receiver=$!
sleep 0.5

echo
echo "== sender: zentavol-send $work/port-b data/sample.txt"
build-release/zentavol-send "$work/port-b" data/sample.txt | sed 's/^/   [sender] /'
sleep 0.3
kill -INT "$receiver" 2>/dev/null || true

echo
echo "== zentavol.dat: every record of the data file, each ended by its zero byte"
od -A d -t x1 -c "$work/zentavol.dat"
