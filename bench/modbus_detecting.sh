#!/usr/bin/env bash
# Modbus reads against the real program while it detects 8 simulated cameras
# (1280x1024, 20 ROIs each, positioning on with the plants' +-2 degree range,
# a trigger every second), beside a libmodbus server in the same client process
# (bench/plantlinks_bench --modbus-port). The client runs in the program's own
# network namespace. A benchmark, not a test.
#   bench/modbus_detecting.sh [BUILD_DIR]
set -euo pipefail
SRC="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$SRC/build}" && pwd)"
. "$SRC/tests/e2e/lib.sh"
e2e_setup

e2e_start_positioning 8 2
sleep 2

# A trigger every second until the measurement ends; the loop ends itself at the stop file.
STOP="$APP/.stop-triggers"
( while [ ! -e "$STOP" ]; do e2e_board pulse 0 > /dev/null; sleep 0.5; e2e_board pulse 1 > /dev/null; sleep 0.5; done ) &
TRIGGERS=$!
end_triggers() { : > "$STOP"; wait "$TRIGGERS" 2>/dev/null || true; }
trap 'end_triggers; e2e_cleanup' EXIT
status=0
in_netns "$BUILD/bin/plantlinks_bench" --modbus-port 502 || status=$?
end_triggers
# Detections seen on the line: the clamp output switched on (every frame is NG).
checks="$(grep -c ' out 0x[0-9a-f]*[13579bdf]$' "$APP/io-record.log" 2>/dev/null || true)"
echo "  NG outputs meanwhile: ${checks:-0}, load average $(cut -d' ' -f1-3 /proc/loadavg)"
e2e_stop || true
exit "$status"
