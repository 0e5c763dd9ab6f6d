#!/usr/bin/env bash
# Soak run by hand (never by CI): cycles every 300 ms, HTTP polling on 16 connections,
# a subscriber for both topics, NG pictures on a small disk. Samples memory, descriptors,
# threads, disk and log use every 30 s and checks that every trigger was detected.
#   bash tests/e2e/soak.sh <build dir> <source dir> [minutes, default 10]
# A day at 300 ms is 288,000 cycles; the run is as long as the time allows.
BUILD="$1"; SRC="$2"; MINUTES="${3:-10}"
# The small picture disk is a tmpfs in a mount namespace of this script's own.
if [ -z "${MM_SOAK_NS:-}" ]; then
  exec unshare -m --propagation private env MM_SOAK_NS=1 bash "$0" "$@"
fi
. "$(dirname "$0")/lib.sh"
e2e_setup
e2e_demo_data --frames mix --delay 0
cat > "$APP/cnt_net/config.json" <<'JSON'
{"devicename": "soak", "device_workapifunc": true, "device_worknetfunc": false, "device_workvideo": false}
JSON
mkdir -p "$APP/alarmimage"
mount -t tmpfs -o size=96m tmpfs "$APP/alarmimage"
HELPERS=""
soak_cleanup() {
  for pid in $HELPERS; do kill "$pid" 2>/dev/null || true; done
  if [ -n "${E2E_RUNNER:-}" ] && kill -0 "$E2E_RUNNER" 2>/dev/null; then e2e_stop || true; fi
  umount "$APP/alarmimage" 2>/dev/null || true
  e2e_cleanup
}
trap soak_cleanup EXIT

e2e_start_board
e2e_start
e2e_wait_for "main window shown" 120
e2e_wait_for "IO board port" 20
sleep 1
MONITOR="$(cat "$MM_PID_FILE")"

e2e_subscribe
HELPERS="$HELPERS $E2E_LISTENER"

# 16 keep-alive pollers; each prints its request and failure counts when stopped.
cat > "$APP/pollers.py" <<'PY'
import http.client, json, sys, threading, time
end = time.monotonic() + float(sys.argv[1])
counts = []
def poll():
    done = failed = 0
    conn = None
    while time.monotonic() < end:
        try:
            if conn is None:
                conn = http.client.HTTPConnection('127.0.0.1', 10100, timeout=5)
            for route in ('get_product_infos', 'get_last_detectinfo'):
                conn.request('POST', '/v18/http/' + route, b'{}', {'Content-Type': 'application/json'})
                conn.getresponse().read()
                done += 1
        except Exception:
            failed += 1
            conn = None
        time.sleep(0.5)
    counts.append((done, failed))
threads = [threading.Thread(target=poll) for _ in range(16)]
for t in threads: t.start()
for t in threads: t.join()
print(json.dumps({'requests': sum(c[0] for c in counts), 'failed': sum(c[1] for c in counts)}), flush=True)
PY
in_netns_bg python3 "$APP/pollers.py" "$((MINUTES * 60))" > "$APP/pollers.out"
POLLERS=$!
HELPERS="$HELPERS $POLLERS"

# A trigger every second; after each, the door clears an NG alarm so the next cycle may start.
python3 "$SRC/tests/e2e/cycle_triggers.py" "$APP/ioboard.sock" "$((MINUTES * 60))" > "$APP/triggers.out" &
TRIGGERS=$!
HELPERS="$HELPERS $TRIGGERS"

printf '%8s %10s %6s %8s %10s %10s %10s %8s\n' seconds rss_kB fds threads pictures_kB app_kB log_kB cycles
started=$SECONDS
sample() {
  local rss fds threads pics app logs cyc
  rss="$(awk '/VmRSS/ {print $2}' "/proc/$MONITOR/status")"
  fds="$(ls "/proc/$MONITOR/fd" | wc -l)"
  threads="$(ls "/proc/$MONITOR/task" | wc -l)"
  pics="$(du -sk "$APP/alarmimage" | cut -f1)"
  app="$(du -sk --exclude=subscriber.out "$APP" | cut -f1)"   # the test subscriber's own record left out
  logs="$(du -sk "$APP/cnt_net/workspace/log" | cut -f1)"
  cyc="$(sed -n 's/^list_allcyclenum=//p' "$APP/count.ini" 2>/dev/null | cut -d, -f1 || true)"
  printf '%8d %10d %6d %8d %10d %10d %10d %8s\n' $((SECONDS - started)) "$rss" "$fds" "$threads" "$pics" "$app" "$logs" "${cyc:-0}"
}
while kill -0 "$TRIGGERS" 2>/dev/null; do sample; sleep 30; done
wait "$TRIGGERS"
wait "$POLLERS" || true
sleep 3
sample
sent="$(cat "$APP/triggers.out")"
detected="$(sed -n 's/^list_allcyclenum=//p' "$APP/count.ini" | cut -d, -f1)"
echo "triggers sent: $sent, cycles detected: $detected"
echo "pollers: $(cat "$APP/pollers.out")"
echo "pushes received: $(grep -c '"path"' "$APP/subscriber.out" || true)"
echo "pictures on the small disk: $(find "$APP/alarmimage" -name '*.jpg' | wc -l), free: $(df -k --output=avail "$APP/alarmimage" | tail -n 1) kB"
[ "$sent" = "$detected" ] || { echo "FAIL: $((sent - detected)) triggers not detected"; exit 1; }
echo "PASS"
