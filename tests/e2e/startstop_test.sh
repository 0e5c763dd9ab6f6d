#!/usr/bin/env bash
# The monitor starts full screen in a prepared folder and ends cleanly on SIGTERM. Start/Stop
# tapped 2 s into a 6 s countdown (and again 1 s later) holds that mould as not inspected:
# the clamp and alarm stay on, it is one NG cycle in count.ini and a record in RECORD.db; the
# next mould, empty, is checked OK and releases it.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
command -v xdotool > /dev/null || { echo "SKIP: xdotool missing (scripts/install-deps)"; exit 77; }
e2e_setup
START_STOP="1800 213"
e2e_demo_data --frames empty --delay 60
e2e_start_ready
e2e_tap 100 300  # a touch on the camera view keeps the button panel shown
e2e_board pulse 0 > /dev/null
sleep 2  # well into the countdown also when a loaded machine takes the signal late
e2e_tap $START_STOP
e2e_expect "$(e2e_log_count "detection 2: trigger not inspected, detection stopped" 1 10)" "1" "the stopped mould"
sleep 1
e2e_tap $START_STOP
e2e_wait_out 0x05 0x05 5 || exit 1
zero7=", 0, 0, 0, 0, 0, 0, 0"
e2e_wait_count list_allcyclenum "1$zero7"
e2e_expect "$(e2e_count list_failcyclenum)" "1$zero7" "NG cycles of the camera"
e2e_expect "$(e2e_count gSyncNGcycleNum)" "1" "NG cycles"
e2e_expect "$(e2e_sql RECORD.db "select count(*) from RECORD where remarks = 'NG: detection 2 not inspected'")" "1" \
  "records of the stopped mould"
e2e_board pulse 0 > /dev/null
e2e_expect "$(e2e_log_count "detection 2: OK, checked in" 1 15)" "1" "the next mould's check"
e2e_wait_out 0x05 0x00 5 || exit 1
e2e_wait_count list_allcyclenum "2$zero7"
e2e_expect "$(e2e_count gSyncNGcycleNum)" "1" "NG cycles after the next mould"
e2e_stop
echo "PASS"
