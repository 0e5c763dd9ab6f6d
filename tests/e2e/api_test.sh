#!/usr/bin/env bash
# One NG cycle read back through the HTTP API on port 10100 and pushed to a
# subscriber; both clients run inside the monitor's network namespace.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
# Until the program starts the hub after its main window, there is no API to test.
if ! grep -q 'initStart' "$SRC"/src/app/*.cpp; then
  echo "SKIP: the program does not start the network hub (VEK_NETMN::initStart) yet"; exit 77
fi
e2e_setup

# POSTs a JSON body to a route; prints the body of the answer.
api() {
  local body="${2:-}"
  in_netns curl -s --max-time 10 -H 'Content-Type: application/json' --data-binary "${body:-{\}}" \
    "http://127.0.0.1:10100/v18/http/$1"
}

# Prints the value of a python expression over the JSON on stdin (bound to j).
json() {
  python3 -c 'import json, sys; j = json.load(sys.stdin); print(eval(sys.argv[1]))' "$1"
}

e2e_demo_data --frames part --delay 0
e2e_api_on
e2e_start_board
e2e_start
e2e_wait_ready

e2e_expect "$(api get_last_detectinfo | json 'j["msg"]')" "获取列表为空，需要先检测后获取信息。" "before a cycle"
e2e_expect "$(api get_product_infos | json 'j["result"]["device_id"]')" "e2e-box" "device name"

# A subscriber for both topics, in the namespace on a port of its own, in a
# process group of its own so that ending the group ends the interpreter too.
in_netns_bg python3 "$SRC/tests/netservices/subscriber_listener.py" > "$APP/subscriber.out" 2> "$APP/subscriber.err"
LISTENER=$!
trap 'e2e_end_groups "$LISTENER"; e2e_cleanup' EXIT
i=0; while [ ! -s "$APP/subscriber.out" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
port="$(head -1 "$APP/subscriber.out")"
subscribed="$(api subscriber_baseinfo "{\"subscriber\":[
  {\"subscriber_ip\":\"127.0.0.1\",\"subscriber_port\":$port,\"subscriber_topic\":\"detected_info\"},
  {\"subscriber_ip\":\"127.0.0.1\",\"subscriber_port\":$port,\"subscriber_topic\":\"detected_picture\"}]}")"
e2e_expect "$(echo "$subscribed" | json 'len(j["result"]["subscribe_result"])')" "2" "subscriptions"

e2e_board pulse 0
e2e_wait_file "alarmimage/camera1/detect*/NG/*.jpg" 10
# The cycle's record is published once the cycle has ended.
i=0; until [ "$(api get_last_detectinfo | json 'j["result"]["detect_result"]' 2>/dev/null)" = "False" ] || [ $i -ge 100 ]; do
  sleep 0.1; i=$((i + 1))
done

last="$(api get_last_detectinfo)"
e2e_expect "$(echo "$last" | json 'j["result"]["device_id"]')" "e2e-box" "cycle device"
e2e_expect "$(echo "$last" | json 'j["result"]["detect_result"]')" "False" "cycle result"
e2e_expect "$(echo "$last" | json 'any(not r["roi_result"] for d in j["result"]["detail"] for r in d["rois"])')" \
  "True" "an NG ROI in the detail"
ng='[p for p in j["result"]["pictures"] if not p["detect_result"]][0]'
cam="$(echo "$last" | json "$ng[\"camera_index\"]")"
det="$(echo "$last" | json "$ng[\"detect_index\"]")"
name="$(echo "$last" | json "$ng[\"picture_name\"]")"
in_netns curl -s --max-time 10 -H 'Content-Type: application/json' -o "$APP/downloaded.jpg" --data-binary \
  "{\"camera_index\":$cam,\"detect_index\":$det,\"detect_result\":false,\"picture_name\":\"$name\"}" \
  "http://127.0.0.1:10100/v18/http/get_detected_picture"
cmp "$APP/downloaded.jpg" "$APP/alarmimage/camera$((cam + 1))/detect$((det + 1))/NG/$name" \
  || { echo "FAIL: downloaded picture differs"; exit 1; }

# The push: the cycle record with its uuid, then the picture's bytes.
uuid="$(echo "$last" | json 'j["result"]["uuid"]')"
i=0; while [ "$(grep -c post_detected_picture "$APP/subscriber.out" || true)" -lt 1 ] && [ $i -lt 50 ]; do
  sleep 0.1; i=$((i + 1))
done
e2e_expect "$(grep post_detected_info "$APP/subscriber.out" | head -1 | json 'j["headers"]["User-Agent"]')" \
  "$uuid" "pushed cycle record"
e2e_expect "$(grep post_detected_picture "$APP/subscriber.out" | head -1 | json 'j["headers"]["Content-Type"]')" \
  "image/jpeg" "pushed picture"

e2e_expect "$(api get_product_infos | json 'j["result"]["detect_ng"]')" "1" "NG cycles"

# Clearing the counts: saved in count.ini and recorded as an API action.
zero7=", 0, 0, 0, 0, 0, 0, 0"
e2e_expect "$(api set_clear_curcount)" '{"code":0,"msg":"OK","result":{}}' "clear count reply"
e2e_expect "$(api get_product_infos | json 'j["result"]["detect_ng"], j["result"]["detect_all"]')" "(0, 0)" \
  "counts after clearing"
e2e_expect "$(e2e_count list_allcyclenum)" "0$zero7" "count.ini cycles after clearing"
e2e_expect "$(e2e_count gSyncNGcycleNum)" "0" "count.ini NG cycles after clearing"

# Setting the clock runs date and hwclock (recording stand-ins here) and is recorded.
: > "$APP/.safebin/calls.log"
e2e_expect "$(api set_localclock '{"datetime":"2026-02-03 04:05:06"}' | json 'j["result"]["result"]')" "success" \
  "clock set"
e2e_expect "$(cat "$APP/.safebin/calls.log")" "date -s 2026-02-03 04:05:06
hwclock --systohc" "clock commands"
e2e_expect "$(api set_localclock '{"datetime":"2026-02-30 04:05:06"}' | json 'j["result"]["result"]')" "时间格式错误" \
  "impossible date"

# Both actions in today's operation records, read back through the API.
today="$(date +%F)"
records="$(api get_records "{\"datetime_start\":\"$today 00:00:00\",\"datetime_end\":\"$today 23:59:59\",
  \"recordtype\":\"API\"}")"
e2e_expect "$(echo "$records" | json '[r[2] for r in j["result"]["record"]]')" \
  "['API: 清除计数', 'API: 修改系统时间,2026-02-03 04:05:06']" "API records"
e2e_expect "$(echo "$records" | json '[r[0][:10] for r in j["result"]["record"]]')" "['$today', '$today']" \
  "API record dates"

# Each refusal with its own reason phrase, as curl reads the status line.
status_line() {
  in_netns curl -s --max-time 10 -D - -o /dev/null --data-binary '{}' "$@" | head -1 | tr -d '\r'
}
route=http://127.0.0.1:10100/v18/http
e2e_expect "$(status_line "$route/no_such_route")" "HTTP/1.1 404 Not Found" "unknown route"
e2e_expect "$(status_line -X 'GET X' "$route/get_product_infos")" "HTTP/1.1 400 Bad Request" "bad request line"
e2e_expect "$(status_line -H 'Transfer-Encoding: chunked' "$route/get_product_infos")" "HTTP/1.1 501 Not Implemented" \
  "chunked body"
e2e_expect "$(status_line -H "X-Pad: $(head -c 20000 /dev/zero | tr '\0' a)" "$route/get_product_infos")" \
  "HTTP/1.1 431 Request Header Fields Too Large" "header too large"
e2e_expect "$(status_line "$route/get_product_infos")" "HTTP/1.1 200 OK" "served after the refusals"
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
