#!/usr/bin/env bash
# Trigger-to-output latency of the whole program, measured with the IO board
# simulator: from the trigger input edge (delay 0) to the NG output word on the
# line, for 1, 2 and 8 simulated cameras at 1280x1024 with 20 ROIs each, beside
# the engine's own check time for the same frames and the lateness of the
# 100 ms cycle timer while the cameras are checked. A benchmark, not a test.
#   bench/cycle_latency.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
SRC="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$SRC/build}" && pwd)"
ROUNDS="${2:-12}"
. "$SRC/tests/e2e/lib.sh"
e2e_setup

report() {
  python3 - "$APP/io-record.log" "$APP"/cnt_net/workspace/log/LOG_*.log "$1" <<'PY'
import re, statistics, sys
record, logs, cams = sys.argv[1], sys.argv[2:-1], sys.argv[-1]
latencies, pending, last_in = [], None, 0
for line in open(record):
    _, ms, kind, word = line.split()
    ms, word = int(ms), int(word, 16)
    if kind == "in":
        if word & 1 and not last_in & 1:
            pending = ms
        last_in = word
    elif kind == "out" and word & 1 and pending is not None:
        latencies.append(ms - pending)
        pending = None
checks, engine, lateness = [], [], []
for log in logs:
    for line in open(log, errors="replace"):
        m = re.search(r"detection \d+: NG, checked in (\d+) ms, engine ([\d/]+) ms", line)
        if m:
            checks.append(int(m.group(1)))
            engine.append(max(int(v) for v in m.group(2).split("/")))
        m = re.search(r"cycle timer: \d+ passes, lateness mean ([\d.]+) ms, max (\d+) ms", line)
        if m:
            lateness.append((float(m.group(1)), int(m.group(2))))
def mean(v):
    return "%.1f" % statistics.mean(v) if v else "-"
print("%s camera(s): trigger->NG output %s ms (min %s, max %s, n=%d); cycle check %s ms; "
      "engine per camera %s ms; overhead %s ms; timer lateness %s" % (
      cams, mean(latencies), min(latencies, default="-"), max(latencies, default="-"), len(latencies),
      mean(checks), mean(engine),
      "%.1f" % (statistics.mean(latencies) - statistics.mean(checks)) if latencies and checks else "-",
      ", ".join("mean %.2f max %d ms" % l for l in lateness) or "- (run shorter than 20 s)"))
PY
}

for cameras in 1 2 8; do
  e2e_demo_data --frames part --delay 0 --cameras "$cameras" --rois 20
  rm -f "$APP/io-record.log" "$APP/count.ini" "$APP/RECORD.db" "$APP/SN.db"
  e2e_start_board
  e2e_start
  e2e_wait_for "main window shown" 180
  e2e_wait_for "IO board port" 20
  sleep 2
  start=$SECONDS
  for _ in $(seq "$ROUNDS"); do
    e2e_board pulse 0 > /dev/null
    e2e_wait_out 0x01 0x01 30
    e2e_board pulse 1 > /dev/null
    e2e_wait_out 0x01 0x00 30
    sleep 0.5
  done
  # Keep the cameras checked until the timer has reported once (every 200 passes).
  while [ $((SECONDS - start)) -lt 33 ]; do
    e2e_board pulse 0 > /dev/null; sleep 1; e2e_board pulse 1 > /dev/null; sleep 1
  done
  e2e_stop || true
  report "$cameras"
  kill "$E2E_BOARD_PID" 2>/dev/null || true
  wait "$E2E_BOARD_PID" 2>/dev/null || true
  E2E_BOARD_PID=""
done
