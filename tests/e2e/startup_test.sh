#!/usr/bin/env bash
# Start-up on the box: the network-card script and the camera wait, the
# version in cnt_net/config.json, the desktop notice, the IO link.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
E2E_HARDWARE_WAITS=1
e2e_start_board
started=$SECONDS
e2e_start
e2e_wait_for "main window shown" 120
elapsed=$((SECONDS - started))
if [ $elapsed -lt 14 ]; then echo "FAIL: the hardware waits took only $elapsed s"; exit 1; fi
grep -qx "python3 ./cnt_net/orulx40_upnetcard.py" "$APP/.safebin/calls.log" || { echo "FAIL: no network-card script"; exit 1; }
grep -qx "notify-send 监视器已开启" "$APP/.safebin/calls.log" || { echo "FAIL: no desktop notice"; exit 1; }
e2e_wait_for "version 18.0.1.86" 1
e2e_expect "$(python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(d["version"], d["camcount"])' \
  "$APP/cnt_net/config.json")" "18.0.1.86 1" "cnt_net/config.json"
e2e_wait_for "IO board port" 20
# The lamp device's warning on a PC reaches the warning log file, not only the console.
[ -e /dev/led ] || grep -qF "device /dev/led not available" "$APP"/cnt_net/workspace/log/LOG_*.log \
  || { echo "FAIL: the lamp device's warning is not in the log files"; exit 1; }
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
