#!/usr/bin/env bash
# The display goes away under the running monitor (Qt's X11 plug-in then calls exit()):
# the monitor must be gone within seconds, not hang on threads still waiting at exit
# (E2E_BACKTRACE=<file>: where a monitor that hangs is stuck, written there by gdb).
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
e2e_start_ready
monitor="$(cat "$MM_PID_FILE")"
e2e_ours "$monitor" || { echo "FAIL: the monitor's process is not found"; exit 1; }
# The X server of this test: the one started with this test's auth file.
xserver="$(pgrep -f -- "-auth $APP/.Xauthority" | head -1)"
[ -n "$xserver" ] || { echo "FAIL: the test's X server is not found"; exit 1; }
kill -TERM "$xserver"
limit=$(( $(e2e_slow 8) * 10 )) i=0
while e2e_ours "$monitor" && [ "$(cut -d' ' -f3 "/proc/$monitor/stat" 2>/dev/null)" != Z ] && [ $i -lt "$limit" ]; do
  sleep 0.1; i=$((i + 1))
done
if e2e_ours "$monitor" && [ "$(cut -d' ' -f3 "/proc/$monitor/stat" 2>/dev/null)" != Z ]; then
  echo "FAIL: the monitor still runs $(( limit / 10 )) s after its display went away; its threads wait in:"
  for task in /proc/"$monitor"/task/*; do echo "  $(cat "$task/comm" 2>/dev/null): $(cat "$task/wchan" 2>/dev/null)"; done
  [ -n "${E2E_BACKTRACE:-}" ] && gdb -p "$monitor" -batch -ex "thread apply all bt 12" > "$E2E_BACKTRACE" 2>&1
  kill -KILL "$monitor" 2>/dev/null || true
  exit 1
fi
rc=0
wait "$E2E_RUNNER" || rc=$?
E2E_RUNNER=""
# The exit watch ends a hung exit() too: an end that needed it is a hang all the same.
if grep -q "exit did not finish in time" "$APP/stderr.log"; then
  echo "FAIL: exit() hung until the exit watch ended the monitor"; exit 1
fi
e2e_wait_for "The X11 connection broke" 5
echo "monitor ended in $((i / 10)).$((i % 10)) s, exit status $rc"
echo "PASS"
