#!/usr/bin/env bash
# A lost camera interlocks the clamp (output 0), is recorded, and releases
# the output when it comes back.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
e2e_demo_data --frames empty --delay 0 --lost-file lose.flag --reconnect-failures 3
e2e_start_board
e2e_start
e2e_wait_ready
touch "$APP/lose.flag"
e2e_wait_for "lsotCamera" 10
e2e_wait_out 0x01 0x01 10
e2e_wait_for "reconnect." 15
e2e_wait_out 0x01 0x00 10
e2e_expect "$(e2e_sql RECORD.db "select remarks from RECORD where recordtype = 'info' and remarks like 'Camera 1 lost%'")" \
  "Camera 1 lost for the 1 time!" "loss record"
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
