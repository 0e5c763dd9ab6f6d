#!/usr/bin/env bash
# An NG cycle and an OK cycle through the IO board simulator: outputs and
# lamps, the NG JPEG, RECORD rows, count.ini; a restart keeps counts and records, and so do
# power cuts (SIGKILL) at random moments while cycles run.
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
e2e_power_cut
e2e_expect "$(e2e_stats_cycles)" "$cycles 0" "statistics cycles of the new day after a SIGKILL"
e2e_expect "$(python3 -c 'import json,sys; print(json.loads(sys.stdin.read())["date"])' \
  <<< "$(e2e_sql ResStatistics.db "select value1 from resstatistics where name='statisticsjson'")")" "$today" "live day"
e2e_expect "$(e2e_stats_cycles "ResStatistics/$ended.db")" "2 1" "the finished day's archive"

# Power cuts at random moments while NG cycles run, the door lifting each alarm 1.2 s into its cycle
# (E2E_CUTS of them, default 8): after each cut every stored file parses, the counts are those of
# cycles closed before it, the next start neither adds nor loses one, and an alarm the file kept
# stands again. A clean run at the end counts each of its cycles once.
e2e_demo_data --frames part --delay 0
cut_files() {
  python3 - "$APP" <<'PY'
import configparser, json, os, re, sqlite3, sys
app = sys.argv[1]
def fail(what):
    print("FAIL: " + what); sys.exit(1)
count = configparser.ConfigParser()
count.read_string(open(os.path.join(app, "count.ini")).read())
lists = [[int(v) for v in count["General"][k].split(",")]
         for k in ("list_allnum", "list_failnum", "list_allcyclenum", "list_failcyclenum")]
if any(len(l) != 8 for l in lists):
    fail("count.ini lists")
ng = [int(count["General"][k]) for k in ("gSyncNGNum", "gSyncNGcycleNum")]
alarm = open(os.path.join(app, "alarm.ini")).read() if os.path.exists(os.path.join(app, "alarm.ini")) else "[alarm]\n"
lines = alarm.splitlines()
if lines[:1] != ["[alarm]"] or any(not re.fullmatch(r"(position|cameras|detection\d\.(cameras|outputs))=[0-9 ]*", l)
                                   for l in lines[1:]):
    fail("alarm.ini: %r" % alarm)
json.load(open(os.path.join(app, "resstatistics.json")))
for name in ("RECORD.db", "ResStatistics.db", "PARAM.db"):
    if sqlite3.connect(os.path.join(app, name)).execute("pragma integrity_check").fetchone()[0] != "ok":
        fail(name + " damaged")
day = sqlite3.connect(os.path.join(app, "ResStatistics.db")).execute(
    "select value1 from resstatistics where name='statisticsjson'").fetchone()
json.loads(day[0])
records = sqlite3.connect(os.path.join(app, "RECORD.db")).execute(
    "select count(*) from RECORD where remarks like 'NG:%'").fetchone()[0]
# Parts of writes a cut stopped, left until the next run writes into their folder.
parts = [n for n in os.listdir(app) if ".storing-" in n]
print(lists[2][0], lists[3][0], ng[1], records, "stands" if "cameras=" in alarm else "none", len(parts))
PY
}
# Seconds the board had clamp and alarm on at the last cut (E2E_CUT_AT), from the board's record.
on_at_cut() {
  python3 - "$APP/io-record.log" "$E2E_CUT_AT" <<'PY'
import datetime, sys
cut, since = float(sys.argv[2]), None
for line in open(sys.argv[1]):
    wall, _, kind, word = line.split()
    at = datetime.datetime.fromisoformat(wall).timestamp()
    if kind != "out" or at > cut:
        continue
    on = int(word, 16) & 5 == 5
    since = (since or at) if on else None
print("%.3f" % (cut - since) if since else "0")
PY
}
cuts=${E2E_CUTS:-8}; standing=0
read -r cycles_before ng_cycles sync_ng _ <<< "$(cut_files)"
# The cycles of the earlier runs that were OK, and those of them gSyncNGcycleNum counts apart.
ok_cycles=$((cycles_before - ng_cycles)); sync_apart=$((sync_ng - ng_cycles))
for cut in $(seq 1 "$cuts"); do
  e2e_start
  e2e_wait_ready || { echo "FAIL: no start after cut $((cut - 1))"; exit 1; }
  e2e_moulds 3 2 "0:pulse 0 300" "1.2:pulse 1 300" &
  triggers=$!
  sleep "$(awk -v r="$RANDOM" 'BEGIN { printf "%.2f", 0.5 + 5 * r / 32767 }')"
  e2e_power_cut
  wait "$triggers"
  outputs=$(( $(e2e_out_word) & 5 ))
  at_cut="$(cut_files)" || { echo "$at_cut after cut $cut"; exit 1; }
  read -r cycles ng_cycles sync_ng records alarm parts <<< "$at_cut"
  echo "cut $cut: cycles $cycles, NG cycles $ng_cycles/$sync_ng, NG records $records, alarm $alarm, outputs $outputs, parts left $parts"
  # An alarm the board had on at the cut was kept (one lifted just before it may still be). The
  # file follows the outputs of its decision in the same event (it never delays the machine): a
  # cut in that moment, which a loaded machine stretches, may come before it.
  on_for="$(on_at_cut)"
  [ "$outputs" -eq 0 ] || [ "$alarm" = stands ] || awk -v t="$on_for" -v g="$(e2e_loaded 1)" 'BEGIN { exit !(t < g) }' \
    || { echo "FAIL: cut $cut: the outputs were on for $on_for s, no alarm kept"; exit 1; }
  [ "$cycles" -ge "$cycles_before" ] && [ "$cycles" -le $((cycles_before + 3)) ] \
    || { echo "FAIL: cut $cut: $cycles cycles, $cycles_before before and 3 triggered"; exit 1; }
  e2e_expect "$((cycles - ng_cycles)) $((sync_ng - ng_cycles))" "$ok_cycles $sync_apart" "cut $cut: every cycle NG in count.ini"
  stats="$(e2e_stats_cycles)"
  [ "${stats% *}" -le "$cycles" ] || { echo "FAIL: cut $cut: statistics $stats over $cycles cycles"; exit 1; }
  e2e_start
  e2e_wait_ready || { echo "FAIL: no start after cut $cut"; exit 1; }
  if [ "$alarm" = stands ]; then
    standing=$((standing + 1))
    e2e_expect "$(e2e_log_count "NG alarm raised again after restart" 1 10)" "1" "cut $cut: the alarm raised again"
    e2e_wait_out 0x05 0x05 10 || { echo "FAIL: cut $cut: outputs of the raised alarm"; exit 1; }
  else
    e2e_expect "$(e2e_log_count "NG alarm raised again after restart" 0 0)" "0" "cut $cut: an alarm raised with none kept"
  fi
  sleep 1
  read -r cycles_after _ <<< "$(cut_files)"
  e2e_expect "$cycles_after" "$cycles" "cut $cut: cycles after the next start"
  reserve="$(stat -c '%b %B' "$APP/.storedfile.reserve")"
  [ $(( ${reserve% *} * ${reserve#* } )) -ge $((8 * 1024 * 1024)) ] || { echo "FAIL: cut $cut: reserve $reserve"; exit 1; }
  # The door lifts what was raised again, so that the next round starts without an alarm.
  e2e_board pulse 1 > /dev/null
  e2e_wait_out 0x05 0x00 10 || { echo "FAIL: cut $cut: the door did not lift the alarm"; exit 1; }
  e2e_stop || { echo "FAIL: unclean exit after cut $cut"; exit 1; }
  read -r cycles_before _ _ _ _ parts <<< "$(cut_files)"
  e2e_expect "$parts" "0" "cut $cut: parts of cut writes after a run"
  after="$(e2e_stats_cycles)"
  [ "${after% *}" -ge "${stats% *}" ] || { echo "FAIL: cut $cut: statistics $stats at the cut, $after after the next run"; exit 1; }
done
echo "$cuts cuts, the alarm kept at $standing of them"
stats="$(e2e_stats_cycles)"
e2e_start
e2e_wait_ready
sent="$(python3 "$SRC/tests/e2e/cycle_triggers.py" "$APP/ioboard.sock" 4)"
e2e_wait_count list_allcyclenum "$((cycles_before + sent))$zero7" 20
e2e_stop || { echo "FAIL: unclean exit after the cuts"; exit 1; }
after="$(e2e_stats_cycles)"
e2e_expect "$(( ${after% *} - ${stats% *} ))" "$sent" "statistics cycles of the run after the cuts"
echo "PASS"
