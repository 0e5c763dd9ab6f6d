#!/usr/bin/env bash
# Detections that check out of number order: three on input 1 with delays 0.5, 0.5 and 0 s,
# so that detection 3 checks at the trigger and detections 1 and 2 after it; only detection 2
# has ROIs and a part lies in every frame. Every mould is one cycle, its NG in detection 2
# makes it an NG cycle (per camera and over all cameras), and its pushed record says NG with
# detection 2's ROIs in "detail", under an id of its own.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
zero7=", 0, 0, 0, 0, 0, 0, 0"

e2e_demo_data --frames part --delay 0
e2e_multi_detection 3 "0" "5 5 0"
e2e_start_subscribed

for mould in 1 2 3; do
  e2e_board pulse 0 > /dev/null
  e2e_wait_out 0x01 0x01 "$(e2e_slow 3)"
  e2e_wait_count gSyncNGNum "$mould"
  e2e_wait_count list_failcyclenum "$mould$zero7" 5
  e2e_expect "$(e2e_count gSyncNGcycleNum)" "$mould" "NG cycles over all cameras after mould $mould"
  e2e_expect "$(e2e_count list_allcyclenum)" "$mould$zero7" "cycles after mould $mould"
  record="$(e2e_pushed "$mould" 5 | grep '^record' | sed -n "${mould}p")"
  e2e_expect "$(echo "$record" | awk '{print $3, $4}')" "NG 2" \
    "mould $mould's pushed record (result, detections with NG ROIs)"
  # The safety door lifts the alarm before the next shot.
  e2e_board pulse 1 > /dev/null
  e2e_wait_out 0x05 0x00 "$(e2e_slow 3)"
done
e2e_expect "$(e2e_pushed 3 | awk '$1 == "record" {print $2}' | sort -u | wc -l)" "3" "cycle ids pushed"
e2e_expect "$(e2e_api get_product_infos | python3 -c 'import json, sys; print(json.load(sys.stdin)["result"]["detect_ng"])')" \
  "3" "the product information's NG cycles"
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
