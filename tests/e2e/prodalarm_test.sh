#!/usr/bin/env bash
# The production alarm: after the configured number of OK cycles the clamp
# interlock and the alarm output switch on.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
e2e_demo_data --frames empty --delay 0 --ok-mold-number 2
e2e_start_board
e2e_start
e2e_wait_ready
e2e_board pulse 0
e2e_wait_for "LEDOnOff 6 1" 5
sleep 1
e2e_expect "$(( $(e2e_out_word) & 0x05 ))" "0" "outputs after one OK cycle"
e2e_board pulse 0
e2e_wait_for "production alarm at 2" 10
e2e_wait_out 0x05 0x05 10
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
