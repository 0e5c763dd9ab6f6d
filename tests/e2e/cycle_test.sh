#!/usr/bin/env bash
# An NG cycle and an OK cycle through the IO board simulator: outputs and
# lamps, the NG JPEG, RECORD rows, count.ini; a restart keeps counts and records.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
zero7=", 0, 0, 0, 0, 0, 0, 0"

# A left-over part in cavity 1: the mould detection (input 0, no delay) is NG.
e2e_demo_data --frames part --delay 0
e2e_start_board
e2e_start
e2e_wait_ready
e2e_board pulse 0
# ROI 1 names output N1 (output 0, clamp interlock) and the alarm output 2 joins it.
e2e_wait_out 0x0F 0x05 10
e2e_wait_file "alarmimage/camera1/detect2/NG/1_????-??-??_??.??.??.jpg" 10
e2e_wait_for "LEDOnOff 7 1" 5
e2e_wait_count list_allnum "1$zero7"  # inspections after NG
e2e_expect "$(e2e_count list_failnum)" "1$zero7" "NG inspections"
e2e_expect "$(e2e_count list_failcyclenum)" "1$zero7" "NG cycles"
e2e_expect "$(e2e_count gSyncNGNum)" "1" "NG count over all cameras"
e2e_expect "$(e2e_count gSyncNGcycleNum)" "1" "NG cycle count over all cameras"
e2e_expect "$(e2e_sql RECORD.db "select recordtype, recordpassword from RECORD where remarks like 'NG%'")" \
  "run|Unlogged" "NG record"

# Opening the safety door lifts the alarm (the demo parameters say so).
e2e_board pulse 1
e2e_wait_out 0x0F 0x00 10
e2e_wait_for "LEDOnOff 7 0" 5
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
# A stop long before the minute's save keeps the cycle in the statistics too.
e2e_expect "$(e2e_stats_cycles)" "1 1" "statistics cycles after a stop"

# The part is gone; after a restart the counts continue and the records stay.
e2e_demo_data --frames empty --delay 0
e2e_start
e2e_wait_ready
e2e_board pulse 0
e2e_wait_file "alarmimage/camera1/detect2/OK/*.jpg" 10
sleep 0.5
e2e_wait_count list_allnum "2$zero7"  # inspections after restart
e2e_expect "$(e2e_count list_failnum)" "1$zero7" "NG inspections after restart"
e2e_expect "$(e2e_count list_allcyclenum)" "2$zero7" "cycles after restart"
e2e_expect "$(e2e_sql RECORD.db "select count(*) from RECORD where recordtype = 'run'")" "1" "records kept"
e2e_expect "$(( $(e2e_out_word) & 0x0F ))" "0" "outputs after an OK cycle"
e2e_wait_for "LEDOnOff 6 1" 5
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
e2e_expect "$(e2e_stats_cycles)" "2 1" "statistics cycles after the second stop"

# A power cut with the statistics switch off (the demo's default), the production day having
# begun 24 hours before the start: the first cycle archives the finished day under its date and
# counts in the new one, and cycles reach the statistics within seconds, before the cut.
e2e_expect "$(e2e_param_item system6 9)" "0" "statistics switch off"
days="$(python3 - "$APP" <<'PY'
import datetime, json, sqlite3, sys
app = sys.argv[1]
now = datetime.datetime.now()
start = now.replace(hour=8, minute=0, second=0, microsecond=0)
if start > now:
    start -= datetime.timedelta(days=1)
ended = start - datetime.timedelta(days=1)
json.dump({"time": str(int(ended.timestamp())), "morningsStart": 8, "morningsEnd": 20, "nightStart": 20, "nightEnd": 8},
          open(app + "/resstatistics.json", "w"))
db = sqlite3.connect(app + "/ResStatistics.db")
day = json.loads(db.execute("select value1 from resstatistics where name='statisticsjson'").fetchone()[0])
day["date"] = ended.strftime("%Y-%m-%d")
db.execute("update resstatistics set value1 = ? where name='statisticsjson'", (json.dumps(day),))
db.commit()
print(ended.strftime("%Y-%m-%d"), start.strftime("%Y-%m-%d"))
PY
)"
ended="${days% *}"; today="${days#* }"
e2e_start
e2e_wait_ready
cycles="$(python3 "$SRC/tests/e2e/cycle_triggers.py" "$APP/ioboard.sock" 6 0.5)"
e2e_wait_count list_allcyclenum "$((2 + cycles))$zero7" 20
# The quick save's seconds, stretched by the load; then the cut.
i=0; limit=$(( 100 * $(e2e_load_factor) ))
while [ "$(e2e_stats_cycles)" != "$cycles 0" ] && [ $i -lt $limit ]; do sleep 0.1; i=$((i + 1)); done
pid="$(cat "$MM_PID_FILE")"
e2e_ours "$pid" && kill -KILL "$pid"
wait "$E2E_RUNNER" || true
E2E_RUNNER=""
e2e_wait_x_gone
e2e_expect "$(e2e_stats_cycles)" "$cycles 0" "statistics cycles of the new day after a SIGKILL"
e2e_expect "$(python3 -c 'import json,sys; print(json.loads(sys.stdin.read())["date"])' \
  <<< "$(e2e_sql ResStatistics.db "select value1 from resstatistics where name='statisticsjson'")")" "$today" "live day"
e2e_expect "$(e2e_stats_cycles "ResStatistics/$ended.db")" "2 1" "the finished day's archive"
echo "PASS"
