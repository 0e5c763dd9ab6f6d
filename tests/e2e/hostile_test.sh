#!/usr/bin/env bash
# The whole program under hostile conditions: a terminal link in its folder at start,
# a year of records queried while triggers arrive, 63 subscribers that never answer
# under a 1024 descriptor limit, and floods of connections, slow headers and large bodies.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
if ! grep -q 'initStart' "$SRC"/src/app/*.cpp; then
  echo "SKIP: the program does not start the network hub yet"; exit 77
fi
e2e_setup

api() {
  in_netns curl -s --max-time "${3:-10}" -H 'Content-Type: application/json' --data-binary "$2" \
    "http://127.0.0.1:10100/v18/http/$1"
}
cycles() {
  if [ -f "$APP/count.ini" ]; then e2e_count list_allcyclenum | cut -d, -f1; else echo 0; fi
}

e2e_demo_data --frames empty --delay 0
e2e_api_on
# A year of archived records, 2,000 rows a day.
python3 - "$APP/RECORD" <<'PY'
import datetime, os, sqlite3, sys
os.makedirs(sys.argv[1], exist_ok=True)
day = datetime.date.today()
for d in range(1, 367):
    db = sqlite3.connect(os.path.join(sys.argv[1], (day - datetime.timedelta(days=d)).isoformat() + '.db'))
    db.execute('CREATE TABLE RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT, recordtype TEXT)')
    db.executemany('INSERT INTO RECORD VALUES (?, ?, ?, ?)',
                   [('%02d.%02d.%02d' % (r // 3600 % 24, r // 60 % 60, r % 60), 'Unlogged', 'row %d' % r, 'run')
                    for r in range(0, 2000 * 43, 43)])
    db.commit(); db.close()
PY

# The board's terminal linked inside the application folder, with the development
# plug-in path (which does not exist here): the start must not hang on the link.
e2e_start_board --link "$APP/ioboard.tty"
started=$SECONDS
ulimit -n 1024
e2e_start
e2e_wait_for "main window shown" 60
echo "start with a terminal link in the folder: $((SECONDS - started)) s"
e2e_wait_ready

# 63 subscribers that accept and never answer, and one that answers.
in_netns_bg python3 "$SRC/tests/netservices/subscriber_listener.py" > "$APP/subscriber.out" 2> /dev/null
LISTENER=$!
in_netns_bg python3 -c '
import socket, threading, time
hung = []
for i in range(63):
    s = socket.socket(); s.bind(("127.0.0.1", 21000 + i)); s.listen(64); hung.append(s)
def keep(s, held=[]):
    while True:
        c, _ = s.accept(); held.append(c)
for s in hung:
    threading.Thread(target=keep, args=(s,), daemon=True).start()
time.sleep(300)'
HUNG=$!
trap 'e2e_end_groups "$LISTENER" "$HUNG"; e2e_cleanup' EXIT
i=0; while [ ! -s "$APP/subscriber.out" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
port="$(head -1 "$APP/subscriber.out")"
entries="{\"subscriber_ip\":\"127.0.0.1\",\"subscriber_port\":$port,\"subscriber_topic\":\"detected_info\"}"
for p in $(seq 21000 21062); do
  entries="$entries,{\"subscriber_ip\":\"127.0.0.1\",\"subscriber_port\":$p,\"subscriber_topic\":\"detected_info\"}"
done
entries="$entries,{\"subscriber_ip\":\"not-an-ip\",\"subscriber_port\":70000,\"subscriber_topic\":\"detected_info\"}"
subscribed="$(api subscriber_baseinfo "{\"subscriber\":[$entries]}")"
e2e_expect "$(echo "$subscribed" | python3 -c 'import json,sys; print(len(json.load(sys.stdin)["result"]["subscribe_result"]))')" \
  "64" "subscriptions (junk refused)"

# A year's record query while triggers arrive: every trigger is detected.
before="$(cycles)"
api get_records '{"datetime_start":"2000-01-01 00:00:00","datetime_end":"2100-01-01 00:00:00"}' "$(e2e_loaded 60)" \
  > "$APP/year.json" &
QUERY=$!
e2e_moulds 10 1.2 "0:pulse 0"
wait $QUERY || { echo "FAIL: the year's query got no answer"; exit 1; }
i=0; while [ "$(($(cycles) - before))" -lt 10 ] && [ $i -lt $((20 * $(e2e_load_factor))) ]; do sleep 0.1; i=$((i + 1)); done
e2e_expect "$(($(cycles) - before))" "10" "cycles detected during the query and the hung pushes"
python3 -c 'import json,sys; j=json.load(open(sys.argv[1])); print("year query:", list(j["result"].keys()), j["result"].get("errorstring", ""))' "$APP/year.json"

# Floods: the API still serves a well-behaved client.
for flood in 256 512; do
  in_netns python3 "$SRC/tests/e2e/hostile_peers.py" $flood || { echo "FAIL: flood of $flood"; exit 1; }
done
grep -c '"path"' "$APP/subscriber.out" > /dev/null || { echo "FAIL: the live subscriber got nothing"; exit 1; }
rss_kb="$(awk '/VmRSS/ {print $2}' "/proc/$(cat "$MM_PID_FILE")/status")"
echo "resident after the floods: ${rss_kb} kB"
log_lines="$(cat "$APP"/cnt_net/workspace/log/LOG_*.log | wc -l)"
echo "log lines: $log_lines"
[ "$log_lines" -lt 20000 ] || { echo "FAIL: the log grew to $log_lines lines"; exit 1; }
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
# Only answered pushes are logged as sent; the hung subscribers' are counted as unanswered.
logged() { cat "$APP"/cnt_net/workspace/log/LOG_*.log | grep -c -- "$1" || true; }
sent="$(logged 'send success!')"; taken="$(grep -c '"path"' "$APP/subscriber.out" || true)"
echo "pushes logged as sent: $sent, taken by the live subscriber: $taken, unanswered lines: $(logged 'no answer to')"
[ "$sent" -le "$taken" ] || { echo "FAIL: $sent pushes logged as sent, the live subscriber took $taken"; exit 1; }
[ "$(logged 'no answer to')" -ge 1 ] || { echo "FAIL: the hung subscribers' pushes went untold"; exit 1; }
echo "PASS"
