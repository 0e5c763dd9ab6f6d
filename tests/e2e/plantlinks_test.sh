#!/usr/bin/env bash
# The plant links of the running program: a Modbus client reads and resets
# the counts on port 502, the companion stand-in started by the monitor gets
# the heartbeat and the cycle's reports, and reads one shared screen frame.
# Network and IPC namespaces of the test's own.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
[ -x "$APP/cnt_net/vazir_ovizavi/vazir_ovizavi" ] || { echo "FAIL: companion stand-in not laid out"; exit 1; }

COMPANION_PID=""
plant_cleanup() {
  # The companion ends with the monitor; should the monitor have died, it is ended here.
  [ -n "$COMPANION_PID" ] && e2e_ours "$COMPANION_PID" && kill -KILL "$COMPANION_PID" 2>/dev/null || true
  e2e_cleanup
}
trap plant_cleanup EXIT

in_ns() {
  local pid; pid="$(cat "$MM_PID_FILE")"
  nsenter --net="/proc/$pid/ns/net" --ipc="/proc/$pid/ns/ipc" -- "$@"
}

# One Modbus TCP exchange inside the namespace: request bytes in hex, answer bytes in hex.
modbus() {
  in_ns python3 - "$1" <<'PY'
import socket, sys
s = socket.create_connection(("127.0.0.1", 502), timeout=5)
s.sendall(bytes.fromhex(sys.argv[1]))
head = s.recv(6)
while len(head) < 6:
    head += s.recv(6 - len(head))
rest = b""
while len(rest) < int.from_bytes(head[4:6], "big"):
    rest += s.recv(260)
print((head + rest).hex())
PY
}

companion_log() { cat "$APP/cnt_net/companion.log" 2>/dev/null || true; }

wait_log() {
  local text="$1" limit="${2:-20}" i=0
  while [ $i -lt $((limit * 10)) ]; do
    companion_log | grep -qF -- "$text" && return 0
    sleep 0.1; i=$((i + 1))
  done
  echo "FAIL: companion never logged '$text'"; companion_log | tail -20; return 1
}

e2e_demo_data --frames part --delay 0
cat > "$APP/cnt_net/config.json" <<'JSON'
{"devicename": "e2e-box", "device_worknetfunc": true, "device_workvideo": true, "device_workapifunc": false}
JSON
E2E_UNSHARE="-n -i"
e2e_start_board
e2e_start
e2e_wait_for "main window shown" 120
e2e_wait_for "IO board port" 20
wait_log "/inline/bymain/heartbeat" 20
COMPANION_PID="$(companion_log | sed -n 's/^listening [0-9]* pid \([0-9]*\)$/\1/p' | head -1)"
wait_log '"memoryinfo":[{' 10
companion_log | grep -F '/inline/bymain/heartbeat' | head -1 | grep -qF '"isPutVideo":true' \
  || { echo "FAIL: heartbeat body"; companion_log | head -5; exit 1; }

# Running, no NG, no counts: registers 0..4, exact bytes and through libmodbus.
e2e_expect "$(modbus 000100000006ff0300000005)" "00010000000dff030a00010000000000000000" "registers at start"
e2e_expect "$(in_ns python3 "$SRC/tests/e2e/modbus_client.py" 502 read 5)" "1 0 0 0 0" "libmodbus read at start"

e2e_board pulse 0
e2e_wait_file "alarmimage/camera1/detect2/NG/*.jpg" 10
wait_log "/inline/bymain/alarm_starttiming" 10
wait_log "/inline/bymain/detectonceinfo" 10
wait_log "/inline/bymain/alarmpicture" 10
wait_log '"recordtype":"run"' 10
# Running, NG shown (1: first detection of the cycle, 2: a later one), one inspection, one NG.
regs="$(modbus 000200000006010300000004)"
e2e_expect "${regs:0:18}" "00020000000b010308" "read header after NG"
e2e_expect "${regs:18:4} ${regs:26:8}" "0001 00010001" "run state, inspections and NG count"
case "${regs:22:4}" in 0001|0002) ;; *) echo "FAIL: NG register ${regs:22:4}"; exit 1 ;; esac

# The safety door lifts the alarm; the companion hears how.
e2e_board pulse 1
e2e_wait_out 0x0F 0x00 10
wait_log "/inline/bymain/alarm_finishtiming" 10
companion_log | grep -F alarm_finishtiming | grep -qF '相机1:不检测此模解除' \
  || { echo "FAIL: clear method"; companion_log | grep -F alarm_ | tail -3; exit 1; }

# Function 6 is refused; the reset by function 16 clears the counts in count.ini, not the NG count.
e2e_expect "$(modbus 000300000006010600040001)" "000300000003018601" "function 6"
e2e_expect "$(in_ns python3 "$SRC/tests/e2e/modbus_client.py" 502 reset)" "reset" "libmodbus reset"
e2e_expect "$(e2e_count list_allnum)" "0, 0, 0, 0, 0, 0, 0, 0" "count.ini after the reset"
e2e_expect "$(e2e_count gSyncNGNum)" "1" "NG count kept"
e2e_expect "$(modbus 000500000006010300000004)" "00050000000b0103080001000000000001" "registers after the reset"

# One shared frame read by the companion stand-in as the companion would.
in_ns "$APP/cnt_net/vazir_ovizavi/vazir_ovizavi" --snapshot "$APP/frame.png" || { echo "FAIL: snapshot"; exit 1; }
[ "$(stat -c %s "$APP/frame.png")" -gt 20000 ] || { echo "FAIL: frame.png looks empty"; exit 1; }

e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
i=0; while kill -0 "$COMPANION_PID" 2>/dev/null && [ $i -lt 30 ]; do sleep 0.1; i=$((i + 1)); done
kill -0 "$COMPANION_PID" 2>/dev/null && { echo "FAIL: the companion outlived the monitor"; exit 1; }
COMPANION_PID=""
echo "PASS"
