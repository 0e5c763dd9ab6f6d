#!/usr/bin/env bash
# What a release may lift, on the real program and the board simulator, one start per setup:
# - the safety door that rises before the mould's NG (its shake-erase time still running when
#   the NG comes) leaves that NG standing until a later door;
# - the clearing input lifts only the NGs that stood when it rose: the next mould's NG, decided
#   while its 2 s run, stays; with "Input signal reset and recheck" a later clearing checks the
#   mould again and the board never sees the outputs off between the NG and the check's NG;
# - the clearing input re-detects the detection that alarmed, not the one that checked last;
# - a second trigger during the countdown is "not inspected" and an NG of the camera in every
#   count (count.ini, gSync, route, Modbus, pushed records, statistics); the door's check
#   during the countdown is answered by that check;
# - two stages with the second in use (stage groups 1: detections 3 and 4, detection 2 without
#   ROIs), a part in every frame, "prod NG skip recheck": the door after the product and mould
#   NGs checks detection 4 again, which stays NG; with the door trigger, the door's check too;
# - the board falls silent for 0.5 s while the door opens and the mould's NG is decided: the
#   door, seen only when the board answers again, may have opened before the NG, which stands;
# - the clearing input's Re-detect (delay 4 s) keeps the outputs on; detection stopped by touch
#   before that check: the outputs are the alarm again, on the NG lamp and on Modbus;
# - with the product detection on (delays 0 and 1.0 s), a second trigger 0.4 s into the mould
#   detection's countdown: each mould one NG cycle in every store, its own check closing it;
# - the door (which triggers a check and lifts alarms) rising 50 ms before a 1.0 s countdown
#   ends: the countdown's check answers it only with its frames taken 1.0 s after the door;
# - a standing NG survives a restart (a language change, SIGTERM and a new start, SIGKILL as a
#   power cut) until a release after it.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup

fail() { echo "FAIL: $*"; tail -n 12 "$APP/io-record.log" 2>/dev/null || true; exit 1; }

# A fresh folder and board for the next start, so that counts and records are its own.
fresh() {
  if [ -n "${E2E_RUNNER:-}" ]; then e2e_stop || fail "unclean exit"; fi
  e2e_cleanup
  e2e_setup
}

# The clamp and alarm outputs (0x05) come on with each NG the log decides and stay on until an
# input of the mask $1 rises after that NG (mask 0: to the end of the record). Prints what broke it.
held_from_each_ng() {
  python3 - "$APP/io-record.log" "$1" "$APP"/cnt_net/workspace/log/LOG_*.log <<'PY'
import datetime, re, sys
record, release_mask, logs = sys.argv[1], int(sys.argv[2], 0), sys.argv[3:]
outs, rises, last_in = [], [], 0
for line in open(record):
    wall, _, kind, word = line.split()
    when, word = datetime.datetime.fromisoformat(wall), int(word, 16)
    if kind == "out":
        outs.append((when, word))
    else:
        if word & release_mask & ~last_in:
            rises.append(when)
        last_in = word
ngs = sorted(datetime.datetime.strptime(l[1:22], "%Y%m%d %H:%M:%S.%f")
             for log in logs for l in open(log, errors="replace")
             if re.search(r"detection \d+: (recheck \d+: )?NG, checked in", l))
if not ngs:
    print("no NG decided")
for ng in ngs:
    release = next((t for t in rises if t > ng), datetime.datetime.max)
    # The word may reach the board a command (5 ms) after the decision's log line.
    in_force = [w for t, w in outs if t <= ng]
    words = ([(ng, in_force[-1])] if in_force else []) + [(t, w) for t, w in outs if ng < t < release]
    on = next((i for i, (t, w) in enumerate(words) if w & 5 == 5), None)
    if on is None or (words[on][0] - ng).total_seconds() > 0.3:
        print("the NG at %s raised no clamp and alarm" % ng.time())
        continue
    off = next(((t, w) for t, w in words[on:] if w & 5 != 5), None)
    if off:
        print("the NG at %s: outputs 0x%04x at %s, before any release signal after it" % (ng.time(), off[1], off[0].time()))
PY
}

# Trigger mode 3's input function $1 (1: input 3, 2: input 4) clears the alarm $2 tenths of a
# second after its signal (reInspectionDelay), with "Input signal reset and recheck" $3.
clearing_input() {
  e2e_set_param_item system10 "$1" 15
  e2e_set_param_item system13 18 "$2"
  e2e_set_param_item system9 17 "$3"
}

# Seconds from each rise of the door (input 2) to the next check the log decides, one word each.
door_to_check() {
  python3 - "$APP/io-record.log" "$APP"/cnt_net/workspace/log/LOG_*.log <<'PY'
import datetime, re, sys
rises, last = [], 0
for line in open(sys.argv[1]):
    wall, _, kind, word = line.split()
    if kind == "in":
        word = int(word, 16)
        if word & 2 and not last & 2:
            rises.append(datetime.datetime.fromisoformat(wall))
        last = word
checks = sorted(datetime.datetime.strptime(l[1:22], "%Y%m%d %H:%M:%S.%f")
                for log in sys.argv[2:] for l in open(log, errors="replace")
                if re.search(r"detection \d+: (OK|NG), checked in", l))
print(" ".join("%.2f" % (min([c for c in checks if c > r], default=r) - r).total_seconds() for r in rises))
PY
}

# Checks of the log, in order, as "DETECTION RESULT" (rechecks and re-detects alike); the last
# line must have been waited for (e2e_log_count): the log reaches its file up to a second late.
checks_logged() {
  sed -n 's/.*detection \([0-9]\): \(recheck [0-9]*: \)\?\(NG\|OK\), checked in.*/\1 \3/p' \
    "$APP"/cnt_net/workspace/log/LOG_*.log | tr '\n' ' '
}

# --- The door rises 0.12 s into each mould and is taken 0.3 s later, after the mould's NG. ---
e2e_demo_data --frames part --delay 0
e2e_set_param_item system6 8 3       # shakeEraseTime, tenths
e2e_start_ready
e2e_moulds 3 3 "0:pulse 0 400" "0.12:pulse 1 400"
e2e_expect "$(e2e_log_count "detection 2: NG, checked in" 3)" "3" "NGs of the three moulds"
e2e_expect "$(e2e_log_count "not inspected" 0 0)" "0" "uninspected moulds"
# Opened again after the last mould's NG, the door lifts it.
e2e_board pulse 1 400 > /dev/null
e2e_wait_out 0x05 0x00 "$(e2e_slow 3)"
broke="$(held_from_each_ng 0x02)"
[ -z "$broke" ] || fail "door released an NG decided after its signal: $broke"

# --- Two detections on input 1, input 3 "Clear alarm" 2 s after its signal. ---
for recheck in 0 1; do
  fresh
  e2e_demo_data --frames part --delay 0
  e2e_multi_detection 2 "0" "0 0"
  clearing_input 1 20 "$recheck"
  e2e_start_ready
  # The clearing input at 0.5 s, the next mould at 1.8 s: its NG comes before the release at 2.5 s.
  e2e_moulds 1 3.5 "0:pulse 0" "0.5:pulse 2" "1.8:pulse 0"
  e2e_log_count "detection 2: NG, checked in" 2 > /dev/null
  e2e_expect "$(checks_logged)" "1 OK 2 NG 1 OK 2 NG " "checks of both moulds (recheck $recheck)"
  e2e_expect "$(( $(e2e_out_word) & 5 ))" "5" "outputs after the release of the first mould's NG (recheck $recheck)"
  # A clearing signal after the NG lifts it; with the recheck, mould 2 is checked again, NG again.
  e2e_board pulse 2 > /dev/null
  if [ "$recheck" = 0 ]; then
    e2e_wait_out 0x05 0x00 "$(e2e_slow 5)"
    broke="$(held_from_each_ng 0x04)"
  else
    e2e_expect "$(e2e_log_count "detection 2: NG, checked in" 3 "$(e2e_slow 6)")" "3" "the clearing input's re-detect"
    sleep "$(e2e_slow 0.3)"   # the decision's word reaches the board within a command or two
    e2e_expect "$(checks_logged)" "1 OK 2 NG 1 OK 2 NG 2 NG " "the re-detect checks the alarmed detection"
    broke="$(held_from_each_ng 0)"
  fi
  [ -z "$broke" ] || fail "clearing input (recheck $recheck): $broke"
done

# --- Detection 1 (input 1) alarms, detection 2 (input 3) checks OK after it; input 4 clears
# with reset and recheck 0.5 s after its signal: detection 1 is checked again and stays NG. ---
fresh
e2e_demo_data --frames part --delay 0
e2e_multi_detection 2 "0 1" "0 0"
e2e_rois_to_detection1
clearing_input 2 5 1
e2e_start_ready
e2e_moulds 1 1 "0:pulse 0" "0.3:pulse 2"
e2e_log_count "detection 2: OK, checked in" > /dev/null
e2e_expect "$(checks_logged)" "1 NG 2 OK " "checks of the mould"
e2e_board pulse 3 > /dev/null
e2e_expect "$(e2e_log_count "detection 1: NG, checked in" 2 "$(e2e_slow 4)")" "2" "the re-detect of detection 1"
sleep "$(e2e_slow 0.3)"
e2e_expect "$(checks_logged)" "1 NG 2 OK 1 NG " "the clearing input re-detects the alarmed detection"
broke="$(held_from_each_ng 0)"
[ -z "$broke" ] || fail "re-detect of the alarmed detection: $broke"

# --- Delay 3.0 s, an empty mould: a second trigger 1.2 s into the countdown in three moulds,
# then the door (which triggers a check) 1.2 s into the fourth's. The input stays low 0.9 s
# between two pulses, which an IO thread a loaded machine runs late still sees. ---
fresh
e2e_demo_data --frames empty --delay 30
e2e_set_param_item system3 10 1      # safetyDoorTrigger
e2e_start_subscribed
e2e_moulds 3 5 "0:pulse 0" "1.2:pulse 0"
e2e_moulds 1 5 "0:pulse 0" "1.2:pulse 1"
e2e_expect "$(e2e_log_count "trigger not inspected" 3)" "3" "second triggers not inspected"
e2e_expect "$(e2e_log_count "safety door check answered by the check under way")" "1" "the door's check answered"
e2e_expect "$(e2e_log_count "safety door check not inspected" 0 0)" "0" "door checks refused"
zero7=", 0, 0, 0, 0, 0, 0, 0"
# Four checks and three uninspected triggers, each an NG of the camera.
e2e_wait_count list_allcyclenum "4$zero7"
e2e_wait_count list_failcyclenum "3$zero7"
e2e_expect "$(e2e_count gSyncNGcycleNum)" "3" "NG cycles over all cameras"
e2e_expect "$(e2e_count list_allnum)" "7$zero7" "inspections"
e2e_expect "$(e2e_count list_failnum)" "3$zero7" "NG inspections"
e2e_expect "$(e2e_count gSyncNGNum)" "3" "NG steps"
e2e_expect "$(in_netns python3 "$SRC/tests/e2e/modbus_client.py" 502 read 4 | cut -d' ' -f3-)" "7 3" \
  "Modbus inspections and NGs"
e2e_expect "$(e2e_api get_product_infos | python3 -c 'import json, sys; print(json.load(sys.stdin)["result"]["detect_ng"])')" \
  "3" "the product information's NG cycles"
e2e_expect "$(e2e_pushed 4 | awk '$1 == "record" {print $3}' | sort | uniq -c | awk '{printf "%s %s ", $1, $2}')" "3 NG 1 OK " \
  "pushed cycle records"
e2e_stop || fail "unclean exit"
e2e_expect "$(e2e_stats_cycles)" "4 3" "statistics cycles (all, NG)"

# --- An NG stands (0x05) and the monitor restarts: a language change by touch (the program
# starts itself again, under the demo's keeper), a new start, SIGTERM and a new start, SIGKILL
# (a power cut) and a new start. Each new process keeps the clamp and alarm from its first
# output word and says so in its log and RECORD.db, until the door lifts the alarm; a start
# after that raises nothing. ---
# Every output word the board got since line $1 of its record keeps the clamp and alarm on.
held_since() {
  local word words
  words="$(tail -n +$(($1 + 1)) "$APP/io-record.log" | awk '$3 == "out" {print $4}' | tr '\n' ' ')"
  for word in $words; do
    [ $(( word & 5 )) -eq 5 ] || fail "after $2 the new process wrote $word (words: $words)"
  done
  e2e_expect "$(( $(e2e_out_word) & 5 ))" "5" "outputs after $2"
}
fresh
e2e_demo_data --frames part --delay 0
e2e_set_param_item system3 1 1       # safetyDoorClearsAlarm
e2e_start_board
E2E_KEEPER=1 e2e_start
e2e_wait_ready
first="$(e2e_monitor_pid)"
e2e_board pulse 0 > /dev/null
e2e_wait_out 0x05 0x05 "$(e2e_slow 5)" || fail "no NG"
e2e_log_count "detection 2: NG, checked in" > /dev/null
mark=$(wc -l < "$APP/io-record.log")
e2e_tap 100 300                      # the panel back over the alarm
e2e_tap 1800 289; sleep 1.5          # System Param
e2e_tap 1430 49; sleep 1             # its System page
e2e_tap 473 128; sleep 0.5           # the language
e2e_x key Down Return; sleep 0.5
e2e_tap 810 640                      # YES
i=0; again=""
while { [ -z "$again" ] || [ "$again" = "$first" ]; } && [ $i -lt $((600 * $(e2e_load_factor))) ]; do
  sleep 0.1; i=$((i + 1)); again="$(e2e_monitor_pid || true)"
done
[ -n "$again" ] && [ "$again" != "$first" ] || fail "no restart after the language change"
e2e_expect "$(e2e_log_count "alarm raised again after restart" 1 60 all)" "1" "the alarm raised again after the language change"
sleep "$(e2e_slow 0.5)"
held_since "$mark" "the language change"
e2e_stop || fail "unclean exit"
e2e_start
e2e_wait_ready || fail "no start"
for how in TERM KILL; do
  mark=$(wc -l < "$APP/io-record.log")
  if [ "$how" = TERM ]; then
    e2e_stop || fail "unclean exit"
  else
    e2e_power_cut
  fi
  e2e_start
  e2e_wait_ready || fail "no restart after SIG$how"
  e2e_expect "$(e2e_log_count "alarm raised again after restart" 1 5)" "1" "the alarm raised again after SIG$how"
  sleep "$(e2e_slow 0.5)"
  held_since "$mark" "SIG$how"
done
e2e_expect "$(e2e_sql RECORD.db "select count(*) from RECORD where recordtype = 'operate' and remarks like '%alarm raised again after restart%'")" \
  "4" "operation records of the raised alarm"
e2e_board pulse 1 > /dev/null
e2e_wait_out 0x05 0x00 "$(e2e_slow 5)" || fail "the door did not lift the raised alarm"
e2e_stop || fail "unclean exit"
e2e_start
e2e_wait_ready || fail "no start after the release"
sleep "$(e2e_slow 1)"
e2e_expect "$(( $(e2e_out_word) & 5 ))" "0" "outputs at a start after the release"
e2e_expect "$(e2e_log_count "alarm raised again after restart" 0 0)" "0" "alarm raised after its release"
e2e_stop || fail "unclean exit"

# --- Trigger mode 1, stage groups 1: product (detection 3) on input 1, mould (detection 4) on
# input 4, both with the demo's ROIs; detection 2 has none. The door (input 2) at 1.5 s. ---
for door_trigger in 0 1; do
  fresh
  e2e_demo_data --frames part --delay 0
  detect1="$(e2e_sql PARAM.db "select value from cammer0 where name = 'detect1'")"
  e2e_sql PARAM.db "update cammer0 set value = '$detect1' where name in ('detect2', 'detect3');
    insert into cammer0 select replace(name, 'ROI1-', 'ROI2-'), value from cammer0 where name like 'ROI1-%';
    update cammer0 set name = replace(name, 'ROI1-', 'ROI3-') where name like 'ROI1-%';
    update cammer0 set value = '0 0 0 0 0 0 0 0 0' where name = 'detect1'"
  mkdir -p "$APP/cammer13" "$APP/cammer14"
  cp "$APP/cammer12/template0.bmp" "$APP/cammer13/"
  cp "$APP/cammer12/template0.bmp" "$APP/cammer14/"
  e2e_set_param_item numFailDetect 0 1      # trigMode
  e2e_set_param_item numFailDetect 1 1      # stageGroups
  e2e_set_param_item system1 1 1            # enableProdDetect
  e2e_set_param_item system13 17 1          # prodNgSkipRecheck
  e2e_set_param_item system3 10 "$door_trigger"   # safetyDoorTrigger
  e2e_start_ready
  e2e_moulds 1 3 "0:pulse 0" "0.3:pulse 3" "1.5:pulse 1"
  e2e_expect "$(e2e_log_count "detection 4: NG, checked in" 2 "$(e2e_slow 4)")" "2" \
    "the mould detection checked again after the door (door trigger $door_trigger)"
  sleep "$(e2e_slow 0.3)"
  e2e_expect "$(checks_logged)" "3 NG 4 NG 4 NG " "checks (door trigger $door_trigger)"
  e2e_expect "$(( $(e2e_out_word) & 5 ))" "5" "outputs after the door (door trigger $door_trigger)"
  broke="$(held_from_each_ng 0)"
  [ -z "$broke" ] || fail "two stages, stage groups 1 (door trigger $door_trigger): $broke"
  if [ "$door_trigger" = 1 ]; then
    # Without a product NG the door's own check is made by detection 4.
    e2e_board pulse 1 > /dev/null
    e2e_expect "$(e2e_log_count "detection 4: NG, checked in" 3 "$(e2e_slow 4)")" "3" "the door's own check"
    e2e_expect "$(e2e_log_count "detection 2:" 0 0)" "0" "checks of detection 2"
  fi
done

# --- Delay 0.3 s, the door lifts alarms: the board is mute from 0.1 s to 0.6 s, the door rises
# at 0.15 s, the NG comes at 0.3 s. ---
fresh
e2e_demo_data --frames part --delay 3
e2e_set_param_item system3 1 1       # safetyDoorClearsAlarm
e2e_start_ready
e2e_moulds 1 2 "0:pulse 0" "0.1:mute 1" "0.15:in 1 1" "0.6:mute 0" "1.0:in 1 0"
e2e_expect "$(e2e_log_count "detection 2: NG, checked in")" "1" "the mould's NG"
e2e_expect "$(( $(e2e_out_word) & 5 ))" "5" "outputs after a door seen late that may have opened before the NG"
e2e_board pulse 1 400 > /dev/null
e2e_wait_out 0x05 0x00 "$(e2e_slow 3)" || fail "a door opened after the NG did not lift it"

# --- One detection on input 1 (delay 4 s), input 3 clears at once with reset and recheck; Stop
# Detection (the panel's second row) is tapped while the Re-detect counts down. ---
fresh
e2e_demo_data --frames part --delay 0
e2e_multi_detection 1 "0" "40"
e2e_rois_to_detection1
clearing_input 1 0 1
e2e_start_ready
registers() { in_netns python3 "$SRC/tests/e2e/modbus_client.py" 502 read 2; }
e2e_board pulse 0 > /dev/null
e2e_expect "$(e2e_log_count "detection 1: NG, checked in" 1 "$(e2e_slow 8)")" "1" "the mould's NG"
e2e_board pulse 2 > /dev/null
wait_registers() {
  local i=0
  while [ "$(registers)" = "$1" ] && [ $i -lt "$(( 30 * $(e2e_load_factor) ))" ]; do sleep 0.1; i=$((i + 1)); done
}
wait_registers "1 1"
e2e_expect "$(( $(e2e_out_word) & 5 )) $(registers)" "5 1 0" "outputs and Modbus (running, NG) while the Re-detect counts down"
e2e_tap $(( ${E2E_SCREEN%x*} - 120 )) 212
wait_registers "1 0"
e2e_expect "$(( $(e2e_out_word) & 5 )) $(registers)" "5 0 1" "outputs and Modbus (running, NG) once detection stopped"
e2e_expect "$(e2e_log_count "LEDOnOff 7 1" 2)" "2" "the NG lamp's switches on"
# --- Mode 0 with the product detection (delay 0) and the mould detection (delay 1.0 s, the ROIs),
# an empty mould, a second trigger 0.4 s into the countdown. Per mould the product detection's two
# steps, the refused one and the mould detection's check; one NG cycle. ---
fresh
e2e_demo_data --frames empty --delay 10
e2e_set_param_item system1 1 1       # enableProdDetect
e2e_set_param_item trigInDelay 0 0
e2e_start_subscribed
e2e_moulds 3 3 "0:pulse 0" "0.4:pulse 0"
e2e_expect "$(e2e_log_count "trigger not inspected" 3)" "3" "product detection: second triggers not inspected"
stores="$(e2e_stores 3)"
echo "product detection: $stores"
e2e_expect "$stores" \
  "cycles 3/3 steps 12/3 gSync 3/3 modbus 12/3 route 3/3 pushed 3/3 records 3" "product detection: every store"
e2e_stop || fail "unclean exit"
e2e_expect "$(e2e_stats_cycles)" "3 3" "product detection: statistics cycles (all, NG)"

# --- Delay 1.0 s, an empty mould; the door rises 0.95 s after each of two triggers for 400 ms. ---
fresh
e2e_demo_data --frames empty --delay 10
e2e_set_param_item system3 10 1      # safetyDoorTrigger
e2e_start_ready
e2e_moulds 2 4 "0:pulse 0" "0.95:pulse 1 400"
e2e_expect "$(e2e_log_count "detection 2: OK, checked in" 2)" "2" "late door: one check per mould and door"
e2e_expect "$(e2e_log_count "safety door check answered by the check under way, moved to 1.0 s" 2)" "2" \
  "late door: the countdown moved to the door's own delay"
gaps="$(door_to_check)"
echo "late door: door to check $gaps s"
for gap in $gaps; do
  awk -v g="$gap" 'BEGIN { exit !(g >= 0.95) }' || fail "late door: a check $gap s after the door answered it"
done
echo "PASS"
