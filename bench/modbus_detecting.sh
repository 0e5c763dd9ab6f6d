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

e2e_demo_data --frames part --delay 0 --cameras 8 --rois 20
python3 - "$APP/PARAM.db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
for name, index, value in (("system1", 3, "0"), ("system5", 9, "2")):
    items = db.execute("SELECT value FROM sysparam WHERE name = ?", (name,)).fetchone()[0].split()
    items[index] = value
    db.execute("UPDATE sysparam SET value = ? WHERE name = ?", (" ".join(items), name))
db.commit()
PY
e2e_start_board
e2e_start
e2e_wait_for "main window shown" 180
e2e_wait_for "IO board port" 20
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
