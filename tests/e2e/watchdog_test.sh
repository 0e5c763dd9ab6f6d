#!/usr/bin/env bash
# The detection cycle stamps the IO watchdog: the board is still served well
# past the 11 s watchdog time, one frame about every 5 ms.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
e2e_start_board
e2e_start
e2e_wait_for "main window shown" 120
e2e_wait_for "IO board port" 20
sleep 13
first="$(e2e_board status | sed -n 's/.* frames \([0-9]*\).*/\1/p')"
sleep 2
second="$(e2e_board status | sed -n 's/.* frames \([0-9]*\).*/\1/p')"
if [ -z "$first" ] || [ $((second - first)) -lt 150 ]; then
  echo "FAIL: the board was not served after the watchdog time ($first -> $second frames)"; exit 1
fi
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
