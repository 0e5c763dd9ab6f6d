#!/usr/bin/env bash
# The whole program with 1024 descriptors under 1,100 idle connections to each of its
# Modbus and HTTP ports: it keeps detecting with 8 cameras and writing count.ini, a plant
# client is still served, a reset over Modbus while the cameras detect keeps the counts
# exact, and a flood of resets ends with the file exact.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup

cycles() {
  if [ -f "$APP/count.ini" ]; then e2e_count list_allcyclenum | cut -d, -f1 | tr -d ' '; else echo 0; fi
}
first_count() { e2e_count list_allnum | cut -d, -f1 | tr -d ' '; }
wait_cycles() {
  local want="$1" i=0
  while [ "$(cycles)" -lt "$want" ] && [ $i -lt $((200 * $(e2e_load_factor))) ]; do sleep 0.1; i=$((i + 1)); done
  e2e_expect "$(cycles)" "$want" "cycles in count.ini"
}
pulses() {
  e2e_moulds "$1" 1.2 "0:pulse 0"
}


e2e_demo_data --cameras 8 --frames part --delay 0
e2e_api_on
e2e_start_board
ulimit -Sn 1024   # the usual default; the flood peer raises its own
e2e_start
e2e_wait_for "main window shown" 120
e2e_wait_for "IO board port" 20
pulses 1
wait_cycles 1

# 1,100 idle connections to each port, held while the machine runs.
in_netns_bg python3 "$SRC/tests/e2e/connection_flood.py" 1100 502 10100 > "$APP/flood.out" 2> "$APP/flood.err"
FLOOD=$!
trap 'e2e_end_groups "$FLOOD"; e2e_cleanup' EXIT
i=0; while [ "$(grep -c '^held' "$APP/flood.out" 2>/dev/null || true)" -lt 2 ] && [ $i -lt 1000 ]; do sleep 0.1; i=$((i + 1)); done
cat "$APP/flood.out"
[ "$(grep -c '^held' "$APP/flood.out")" -eq 2 ] || { echo "FAIL: the flood did not get its connections"; cat "$APP/flood.err"; exit 1; }

pid="$(cat "$MM_PID_FILE")"
echo "monitor: $(ls "/proc/$pid/fd" | wc -l) descriptors open, limit $(awk '/open files/ {print $4}' "/proc/$pid/limits")"
before="$(cycles)"
pulses 10
wait_cycles $((before + 10))
if grep -qi "too many open files" "$APP/stderr.log" "$APP"/cnt_net/workspace/log/*.log 2>/dev/null; then
  echo "FAIL: the program ran out of descriptors"; grep -i "too many open files" "$APP"/cnt_net/workspace/log/*.log | head -3; exit 1
fi
e2e_expect "$(in_netns python3 "$SRC/tests/e2e/modbus_client.py" 502 read 4 | cut -d' ' -f1)" "1" "plant client served during the flood"
status="$(in_netns curl -s -o /dev/null -w '%{http_code}' --max-time 10 --interface 127.0.0.2 \
  -H 'Content-Type: application/json' --data-binary '{}' http://127.0.0.1:10100/v18/http/get_product_infos)"
e2e_expect "$status" "200" "API served during the flood"

# A reset over Modbus while the 8 cameras check: the cycle in flight counts before or after it.
ng="$(e2e_count gSyncNGNum)"
e2e_board pulse 0 > /dev/null
e2e_expect "$(in_netns python3 "$SRC/tests/e2e/modbus_client.py" 502 reset)" "reset" "reset while detecting"
sleep "$(e2e_loaded 1.5)"
after_reset="$(first_count)"
[ "$after_reset" -le 1 ] || { echo "FAIL: camera 1 counts $after_reset after the reset"; exit 1; }
[ "$(e2e_count gSyncNGNum)" -ge "$ng" ] || { echo "FAIL: the NG count went back"; exit 1; }
before="$(cycles)"
pulses 3
wait_cycles $((before + 3))
e2e_expect "$(first_count)" "$((after_reset + 3))" "camera 1 counts after the reset"

# A flood of resets: each answered, the file exact soon after.
answered="$(in_netns python3 - <<'PY'
import socket
s = socket.create_connection(("127.0.0.1", 502), timeout=10)
ok = 0
for i in range(2000):
    s.sendall(bytes.fromhex("%04x0000000901100004000102" % i + "0001"))
    reply = b""
    while len(reply) < 12:
        chunk = s.recv(12 - len(reply))
        if not chunk:
            break
        reply += chunk
    ok += reply == bytes.fromhex("%04x00000006011000040001" % i)
print(ok)
PY
)"
e2e_expect "$answered" "2000" "resets answered"
e2e_wait_count list_allnum "0, 0, 0, 0, 0, 0, 0, 0" 1
e2e_expect "$(e2e_count list_failnum)" "0, 0, 0, 0, 0, 0, 0, 0" "NG counts after the reset flood"

e2e_end_groups "$FLOOD"
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
