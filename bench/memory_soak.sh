#!/usr/bin/env bash
# Resident memory of the whole program over a long run: 8 simulated cameras at
# 1280x1024 with 20 ROIs each, positioning on with the plants' +-2 degree
# range, a part in every frame (an NG and its picture every cycle), a trigger
# every second. Prints the resident size every 30 s. A benchmark, not a test.
#   bench/memory_soak.sh [BUILD_DIR] [MINUTES, default 10]
set -euo pipefail
SRC="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$SRC/build}" && pwd)"
MINUTES="${2:-10}"
SAMPLE_SECONDS=30
. "$SRC/tests/e2e/lib.sh"
e2e_setup

e2e_start_positioning 8 2
sleep 2
pid="$(cat "$MM_PID_FILE")"
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"; }

start=$SECONDS
next=0
cycles=0
echo "seconds cycles resident_kB load_average"
while [ $((SECONDS - start)) -le $((MINUTES * 60)) ]; do
  if [ $((SECONDS - start)) -ge "$next" ]; then
    echo "$((SECONDS - start)) $cycles $(rss) $(cut -d' ' -f1 /proc/loadavg)"
    next=$((next + SAMPLE_SECONDS))
  fi
  e2e_board pulse 0 > /dev/null
  e2e_wait_out 0x01 0x01 30
  e2e_board pulse 1 > /dev/null
  e2e_wait_out 0x01 0x00 30
  cycles=$((cycles + 1))
  sleep 0.5
done
e2e_stop || true
