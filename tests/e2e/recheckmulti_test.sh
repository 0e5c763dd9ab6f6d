#!/usr/bin/env bash
# Rechecks in multi-detection: three detections on input 1 check 0.5, 1.0 and 1.1 s after the
# trigger, only detection 2 has ROIs and a part lies in every frame; an NG is checked twice
# more, 0.5 s apart. Detection 3 checking while detection 2 waits for its recheck must not drop
# it: in every mould the NG confirmed by both rechecks interlocks the clamp before the next
# mould's trigger (3 s on), is counted as an NG and an NG cycle, saves its NG picture, and the
# cycle's pushed record says NG.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
e2e_pace_follows_load
zero7=", 0, 0, 0, 0, 0, 0, 0"
PERIOD_MS="$(e2e_slow 3000)"

# Milliseconds from the last trigger edge (input 1) to the clamp output's next on-edge.
trigger_to_clamp() {
  python3 - "$APP/io-record.log" <<'PY'
import sys
edge = clamp = None
last_in = last_out = 0
for line in open(sys.argv[1]):
    _, ms, kind, word = line.split()
    ms, word = int(ms), int(word, 16)
    if kind == "in":
        if word & 1 and not last_in & 1:
            edge, clamp = ms, None
        last_in = word
    else:
        if edge is not None and clamp is None and word & 1 and not last_out & 1:
            clamp = ms
        last_out = word
print(clamp - edge if edge is not None and clamp is not None else -1)
PY
}

e2e_demo_data --frames part --delay 0
e2e_multi_detection 3 "0" "5 10 11"
e2e_set_param_item system1 6 2      # recheckTimes
e2e_set_param_item system14 1 5     # recheckDelay, tenths of a second
e2e_start_subscribed

for mould in 1 2 3; do
  e2e_board pulse 0 > /dev/null
  e2e_wait_out 0x01 0x01 "$(e2e_slow 3)" > /dev/null || true
  took="$(trigger_to_clamp)"
  if [ "$took" -lt 0 ] || [ "$took" -ge "$PERIOD_MS" ]; then
    echo "FAIL: mould $mould: the NG of detection 2 raised no clamp output before the next mould's trigger" \
      "(trigger to clamp: $took ms, the next trigger at $PERIOD_MS ms)"
    grep -h "detection [0-9]:" "$APP"/cnt_net/workspace/log/LOG_*.log | tail -6 | cut -c 1-100
    exit 1
  fi
  # Checked at 1.0 s, then rechecked at 1.5 and 2.0 s: an alarm before that skipped a recheck.
  [ "$took" -ge 1900 ] || { echo "FAIL: mould $mould: clamp $took ms after the trigger, before the rechecks"; exit 1; }
  e2e_wait_count gSyncNGNum "$mould"
  e2e_wait_count list_failcyclenum "$mould$zero7"
  e2e_expect "$(e2e_count gSyncNGcycleNum)" "$mould" "NG cycles over all cameras after mould $mould"
  e2e_expect "$(e2e_count list_allcyclenum)" "$mould$zero7" "cycles after mould $mould"
  i=0
  while [ "$(compgen -G "$APP/alarmimage/camera1/detect2/NG/*.jpg" | wc -l)" -lt "$mould" ] && [ $i -lt 50 ]; do
    sleep 0.1; i=$((i + 1))
  done
  e2e_expect "$(compgen -G "$APP/alarmimage/camera1/detect2/NG/*.jpg" | wc -l)" "$mould" "NG pictures after mould $mould"
  # The operator opens the safety door, which lifts the alarm before the next shot.
  e2e_board pulse 1 > /dev/null
  e2e_wait_out 0x05 0x00 "$(e2e_slow 3)"
done
e2e_expect "$(e2e_sql RECORD.db "select count(*) from RECORD where recordtype = 'run' and remarks like 'NG:%'")" "3" \
  "NG records"

pushed="$(e2e_pushed 3)"
e2e_expect "$(echo "$pushed" | awk '$1 == "record" {print $3, $4}' | tr '\n' ' ')" "NG 2 NG 2 NG 2 " \
  "pushed cycle records (result, detections with NG ROIs)"
e2e_expect "$(echo "$pushed" | awk '$1 == "record" {print $2}' | sort -u | wc -l)" "3" "cycle ids pushed"
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
