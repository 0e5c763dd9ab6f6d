#!/usr/bin/env bash
# Modbus while 8 cameras detect: a client reads the registers without pause
# while resets arrive a few milliseconds after trigger edges, inside the
# detections. Every read and reset is answered, each reset clears the counts
# and later detections count again from there, and no NG is lost.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup

e2e_start_positioning 8 2

# The rest of a machine cycle after its trigger: NG on the clamp output, the
# safety door lifts it, and both inputs fall again (a pulse sent to an input
# still high would make no edge).
ng_cycle() {
  local i=0
  e2e_wait_out 0x01 0x01 30
  e2e_board pulse 1 500 > /dev/null
  e2e_wait_out 0x01 0x00 30
  while [ "$(e2e_out_word in)" -ne 0 ] && [ $i -lt $((50 * $(e2e_load_factor))) ]; do
    sleep 0.1; i=$((i + 1))
  done
}
counted() { e2e_count list_allnum | tr -d ' ' | tr ',' '\n' | awk '{ s += $1 } END { print s + 0 }'; }

# Reads registers 0-4 on one connection until the stop file appears;
# prints the reads made and the longest wait for an answer in ms.
STOP="$APP/.stop-reads"
cat > "$APP/reader.py" <<'PY'
import os, socket, sys, time
s = socket.create_connection(("127.0.0.1", 502), timeout=5)
reads, longest, tid = 0, 0.0, 0
while not os.path.exists(sys.argv[1]):
    tid = (tid + 1) & 0xFFFF
    start = time.monotonic()
    s.sendall(tid.to_bytes(2, "big") + bytes.fromhex("000000060103000000" "05"))
    answer = b""
    while len(answer) < 19:
        chunk = s.recv(19 - len(answer))
        if not chunk:
            sys.exit("closed after %d reads" % reads)
        answer += chunk
    if answer[:2] != tid.to_bytes(2, "big") or answer[7] != 3:
        sys.exit("bad answer %s" % answer.hex())
    longest = max(longest, time.monotonic() - start)
    reads += 1
    time.sleep(0.001)
print(reads, int(longest * 1000))
PY
in_netns_bg python3 "$APP/reader.py" "$STOP" > "$APP/reads.txt" 2> "$APP/reads.err"
READER=$!

for _ in 1 2 3; do e2e_board pulse 0 500 > /dev/null; ng_cycle; done
per_cycle=$(( $(counted) / 3 ))
[ "$per_cycle" -gt 0 ] || { echo "FAIL: nothing counted: $(e2e_count list_allnum)"; exit 1; }

# A trigger edge, then the reset 5, 10 and 15 ms later: the checks of 8
# cameras take longer than that, so the reset meets a running detection.
for delay in 0.005 0.010 0.015; do
  answer="$(in_netns python3 - "$APP/ioboard.sock" "$delay" <<'PY'
import socket, sys, time
modbus = socket.create_connection(("127.0.0.1", 502), timeout=5)
board = socket.socket(socket.AF_UNIX)
board.connect(sys.argv[1])
board.sendall(b"pulse 0 500\n")
board.makefile().readline()
time.sleep(float(sys.argv[2]))
modbus.sendall(bytes.fromhex("00010000000901100004000102" "0001"))
print(modbus.recv(260).hex())
PY
)"
  e2e_expect "$answer" "000100000006011000040001" "reset $delay s after the trigger"
  ng_cycle
done
for _ in 1 2; do e2e_board pulse 0 500 > /dev/null; ng_cycle; done

: > "$STOP"
wait "$READER" || { echo "FAIL: reader: $(cat "$APP/reads.txt" "$APP/reads.err")"; exit 1; }
read -r reads longest < "$APP/reads.txt"
[ "$reads" -gt 100 ] || { echo "FAIL: only $reads reads answered"; exit 1; }
# A bound against a server that waits for the detections, far above any normal answer.
[ "$longest" -lt 2000 ] || { echo "FAIL: a read waited $longest ms"; exit 1; }

# Counted since the last reset: the two later cycles, and the one the reset met
# when its count landed after the reset.
after=$(counted)
case "$after" in
  $((2 * per_cycle))|$((3 * per_cycle))) ;;
  *) echo "FAIL: $after counted after the last reset ($per_cycle per cycle)"; exit 1 ;;
esac
e2e_expect "$(e2e_count gSyncNGNum)" "8" "NG count over all 8 cycles, untouched by the resets"
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS (reads $reads, longest $longest ms, $after counted after the last reset, $per_cycle per cycle)"
