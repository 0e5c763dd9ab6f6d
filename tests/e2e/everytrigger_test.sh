#!/usr/bin/env bash
# No mould passes unchecked without a word. A part lies in every frame; each setup is a fresh
# program with the board simulator and a subscriber of the pushed records and pictures. The moulds
# come as a machine sends them: the mould-open input high for 0.3-0.5 s, low for more than a
# second, which a monitor starved by a loaded machine still sees (a 100 ms low it may not).
#   recheck wait  mode 0, delay 1.0 s, 2 rechecks 1.0 s apart, a mould every 2.0 s: the next
#                 mould confirms the NG waiting for its recheck; every mould is an NG record and
#                 the first NG interlocks at the second trigger at the latest
#   two inputs    detection 1 on input 1 with the ROIs, detection 2 on input 3 without, 2
#                 rechecks 1.0 s, a mould every 1.6 s: every mould an NG record
#   fast moulds   multi-detection, delays 0.5/1.0/1.5 s, 1 recheck 1.0 s, a mould every 2.0 s:
#                 every mould a record or a logged "not inspected", no picture without a record
#                 but a given-up cycle's: a mould whose last check the next trigger took over
#                 (its "not inspected", which stops the machine) goes out under its own id, its
#                 NG carried into the next record; a loaded machine that lags a countdown by
#                 0.5 s gives one
#   door          the safety door checks the mould detection while it still counts down (empty
#                 mould): that countdown's check answers it, an OK record per mould, no clamp
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
zero7=", 0, 0, 0, 0, 0, 0, 0"

start() {
  # A fresh program: no count, and no alarm the last setup left standing to raise again.
  rm -f "$APP/io-record.log" "$APP/count.ini" "$APP/alarm.ini"
  e2e_start_subscribed
}

stop() {
  e2e_stop || { echo "FAIL: $1: unclean exit"; exit 1; }
  e2e_end_groups "$E2E_LISTENER"
  kill "$E2E_BOARD_PID"; wait "$E2E_BOARD_PID" 2>/dev/null || true
  E2E_LISTENER="" E2E_BOARD_PID=""
}

# The results of the pushed records, one word each ("NG NG ...").
records() {
  e2e_pushed "$1" 5 | awk '$1 == "record" {print $3}' | tr '\n' ' '
}

# ms from the second input 1 edge to the first clamp rise (negative: before it).
first_clamp_after_second_trigger() {
  python3 - "$APP/io-record.log" <<'PY'
import sys
edges, clamp, last = [], None, {"in": 0, "out": 0}
for line in open(sys.argv[1]):
    _, ms, kind, word = line.split()
    ms, word = int(ms), int(word, 16)
    if kind == "in" and word & 1 and not last["in"] & 1:
        edges.append(ms)
    if kind == "out" and clamp is None and word & 1:
        clamp = ms
    last[kind] = word
print(clamp - edges[1] if clamp is not None and len(edges) > 1 else "none")
PY
}

# --- recheck wait
e2e_demo_data --frames part --delay 10
e2e_set_param_item system1 6 2      # recheckTimes
e2e_set_param_item system14 1 10    # recheckDelay, tenths
start
e2e_moulds 4 2.0 "0:pulse 0"
e2e_expect "$(records 4)" "NG NG NG NG " "recheck wait: records of 4 moulds"
e2e_wait_count list_failcyclenum "4$zero7"
e2e_expect "$(e2e_log_count "the next mould came before the recheck, NG confirmed" 3)" "3" \
  "recheck wait: NGs confirmed by the next mould"
took="$(first_clamp_after_second_trigger)"
[ "$took" != none ] && [ "$took" -le "$(e2e_loaded 400)" ] \
  || { echo "FAIL: recheck wait: the first NG interlocked $took ms after the second mould's trigger"; exit 1; }
stop "recheck wait"

# --- two inputs
e2e_demo_data --frames part --delay 0
e2e_multi_detection 2 "0 1" "0 0"
e2e_rois_to_detection1
e2e_set_param_item system1 6 2
e2e_set_param_item system14 1 10
start
e2e_moulds 4 1.6 "0:pulse 0" "0.4:pulse 2"
e2e_expect "$(records 4)" "NG NG NG NG " "two inputs: records of 4 moulds"
e2e_wait_count list_failcyclenum "4$zero7"
stop "two inputs"

# --- fast moulds
e2e_demo_data --frames part --delay 0
e2e_multi_detection 3 "0" "5 10 15"
e2e_set_param_item system1 6 1
e2e_set_param_item system14 1 10
start
e2e_moulds 10 2.0 "0:pulse 0 500"
# Until every mould is accounted for and every picture has its record (both come after the
# moulds on a loaded machine), or the time is up.
i=0; limit=$(( 100 * $(e2e_load_factor) ))
while :; do
  pushed="$(e2e_pushed 0 0)"
  got="$(echo "$pushed" | grep -c '^record' || true)"
  refused="$(e2e_log_count "trigger not inspected" 0)"
  orphans="$(echo "$pushed" | awk '$1 == "record" {r[$2] = 1} $1 == "picture" {p[$2] = 1}
    END {n = 0; for (id in p) if (!(id in r)) n++; print n}')"
  [ $((got + refused)) -ge 10 ] && [ "$orphans" -le "$refused" ] && break
  [ $i -lt $limit ] || break
  sleep 0.1; i=$((i + 1))
done
echo "fast moulds: $got records, $refused triggers not inspected, $(e2e_log_count "IO board not read for" 0) lines of an unread board"
[ $((got + refused)) -ge 10 ] || { echo "FAIL: fast moulds: 10 moulds gave $got records and $refused 'not inspected'"; exit 1; }
e2e_expect "$(echo "$pushed" | awk '$1 == "record" && $3 != "NG"' | wc -l)" "0" "fast moulds: OK records"
[ "$orphans" -le "$refused" ] \
  || { echo "FAIL: fast moulds: $orphans cycle ids with pictures but no record, $refused 'not inspected'"; exit 1; }
stop "fast moulds"

# --- door
e2e_demo_data --frames empty --delay 5
e2e_set_param_item system3 10 1     # safetyDoorTrigger
start
e2e_moulds 3 1.5 "0:pulse 0" "0.2:pulse 1"
e2e_expect "$(records 3)" "OK OK OK " "door: records of 3 moulds"
e2e_expect "$(e2e_log_count "detection 2: safety door check answered by the check under way" 3)" "3" \
  "door: door checks answered by the countdown's check"
e2e_expect "$(e2e_log_count "not inspected" 0)" "0" "door: nothing refused"
# The empty mould's own check (0.5 s) answers the door: the clamp never comes on.
clamped="$(python3 -c 'import sys; print(sum(1 for l in open(sys.argv[1]) if l.split()[2] == "out" and int(l.split()[3], 16) & 1))' \
  "$APP/io-record.log")"
e2e_expect "$clamped" "0" "door: output words with the clamp on"
stop "door"
echo "PASS"
