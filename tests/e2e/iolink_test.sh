#!/usr/bin/env bash
# A board that stops answering, garbage and bad sums on the line: the monitor
# keeps running, reopens the link with the held NG outputs still on the line,
# and the next cycles are counted.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
e2e_demo_data --frames part --delay 0
e2e_start_board
e2e_start
e2e_wait_ready
e2e_board pulse 0 > /dev/null
e2e_wait_out 0x0F 0x05 10

board_outputs() { e2e_board status | sed -n 's/.*outputs \(0x[0-9a-f]*\).*/\1/p'; }

e2e_board mute 1 > /dev/null
e2e_wait_for "IO board link closed" 10
sleep 1
e2e_board mute 0 > /dev/null
e2e_wait_for "IO board answering again on" 10
for _ in $(seq 50); do [ $(( $(board_outputs) & 0x0F )) -eq 5 ] && break; sleep 0.1; done
e2e_expect "$(( $(board_outputs) & 0x0F ))" "5" "outputs after the link came back"

e2e_board garbage 200 > /dev/null
e2e_board badsum 3 > /dev/null
sleep 1
e2e_board pulse 1 > /dev/null
e2e_wait_out 0x0F 0x00 10
e2e_board pulse 0 > /dev/null
e2e_wait_out 0x0F 0x05 10
e2e_wait_count list_failnum "2, 0, 0, 0, 0, 0, 0, 0"  # NG inspections across the outage
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
