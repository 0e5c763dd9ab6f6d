#!/usr/bin/env bash
# Plant clients that open a connection per API request, from three threads, for longer than
# a connection's idle limit (a silent connection held beside them), while the board triggers
# a detection every 3 s: the monitor keeps answering, no Qt object is used outside its
# thread, every trigger is counted, and it ends cleanly.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup

LOAD_SECONDS=130    # past the 120 s idle limit of a connection
THREADS=3
RATE=80             # requests a second per thread: what a two-core machine serves beside the cycle

cycles() {
  if [ -f "$APP/count.ini" ]; then e2e_count list_allcyclenum | cut -d, -f1 | tr -d ' '; else echo 0; fi
}
pulses() { grep -c " in 0x0001$" "$APP/io-record.log" || true; }
alive() { kill -0 "$E2E_RUNNER" 2>/dev/null; }
thread_warnings() {
  cat "$APP"/stdout.log "$APP"/stderr.log "$APP"/cnt_net/workspace/log/*.log 2>/dev/null | grep -F "Timers cannot be" || true
}
# The monitor ended under the load: how, and what it and the board had seen by then.
died() {
  local status=0
  wait "$E2E_RUNNER" || status=$?
  E2E_RUNNER=""
  echo "FAIL: the monitor ended $1 s into the load, exit status $status; $(thread_warnings | wc -l) thread" \
    "warning lines logged, board pulses $(pulses), cycles counted $(cycles)"
  grep -h "closed:" "$APP"/cnt_net/workspace/log/*.log 2>/dev/null | tail -n 3 || true
  tail -n 3 "$APP/clients.out" "$APP/stderr.log"
  exit 1
}
api_status() {
  in_netns curl -s -o /dev/null -w '%{http_code}' --max-time 10 -H 'Content-Type: application/json' \
    --data-binary '{}' http://127.0.0.1:10100/v18/http/get_product_infos
}

e2e_api_on
e2e_start_board
e2e_start
e2e_wait_ready
e2e_board auto 0 3 > /dev/null
i=0; while [ "$(cycles)" -lt 1 ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
e2e_expect "$(api_status)" "200" "API before the load"

in_netns_bg python3 "$SRC/tests/e2e/connection_flood.py" 1 10100 > "$APP/silent.out" 2> "$APP/silent.err"
SILENT=$!
in_netns_bg python3 "$SRC/tests/e2e/api_clients.py" "$THREADS" "$LOAD_SECONDS" "$RATE" > "$APP/clients.out" 2> "$APP/clients.err"
CLIENTS=$!
trap 'e2e_end_groups "$CLIENTS" "$SILENT"; e2e_cleanup' EXIT
load="$(e2e_load_factor)"
start=$SECONDS
while ! grep -q '^done' "$APP/clients.out" && [ $((SECONDS - start)) -lt $((LOAD_SECONDS + 20)) ]; do
  alive || died $((SECONDS - start))
  sleep 1
done
e2e_end_groups "$CLIENTS" "$SILENT"
tail -n 2 "$APP/clients.out"
alive || died $((SECONDS - start))

# The clients' tally: replies only (200, or 503 while the same route is still in work), most of them 200.
result="$(grep '^done' "$APP/clients.out")" || { echo "FAIL: the clients did not finish"; cat "$APP/clients.err"; exit 1; }
read -r requests ok others errors < <(echo "$result" | awk '{
  for (i = 2; i < NF; i += 2) {
    if ($i == "requests") n = $(i + 1)
    split($(i + 1), kv, ":")
    if ($i == "status" && kv[1] == "200") ok = kv[2]
    else if ($i == "status" && kv[1] != "503") other += kv[2]
    else if ($i == "errors") err += kv[2]
  }
  print n + 0, ok + 0, other + 0, err + 0 }')
e2e_expect "$errors" "0" "requests without a reply ($result)"
e2e_expect "$others" "0" "replies other than 200 and 503 ($result)"
# The clients share the machine with the monitor: on a loaded machine they send fewer.
[ "$ok" -ge $((requests / 2)) ] && [ "$requests" -ge $((THREADS * RATE * LOAD_SECONDS / 4 / load)) ] \
  || { echo "FAIL: too few requests served: $result"; exit 1; }

warnings="$(thread_warnings)"
[ -z "$warnings" ] || { echo "FAIL: objects used outside their thread:"; head -n 5 <<< "$warnings"; exit 1; }

# Every trigger counted: once the board stops, the cycle in flight at most is still to come.
e2e_board auto 0 0 > /dev/null
i=0; while [ "$(cycles)" -lt "$(pulses)" ] && [ $i -lt 150 ]; do sleep 0.1; i=$((i + 1)); done
echo "board pulses $(pulses), cycles counted $(cycles)"
[ "$(pulses)" -ge $((LOAD_SECONDS / 4)) ] || { echo "FAIL: the board pulsed only $(pulses) times"; exit 1; }
[ $(( $(pulses) - $(cycles) )) -le 1 ] && [ "$(cycles)" -le "$(pulses)" ] \
  || { echo "FAIL: $(pulses) pulses but $(cycles) cycles in count.ini"; exit 1; }

e2e_expect "$(api_status)" "200" "API after the load"
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
