#!/usr/bin/env bash
# The ROI editor worked by touch on the real program: the operator removes the
# area over cavity 1, draws one over cavity 2 and saves; the left-over part in
# cavity 1 then passes. A second area drawn around the part makes the next
# cycle NG, and the editor opened over that NG leaves it on the outputs, on Modbus and on
# the screen; Resample during a countdown leaves that mould to be checked after the
# learning, and a power cut while Resample saves leaves the template whole. Touches go
# through xdotool to the program's own X display.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
command -v xdotool > /dev/null || { echo "SKIP: xdotool missing (scripts/install-deps)"; exit 77; }
e2e_setup
export E2E_FBDIR="$APP/screen"
mkdir -p "$E2E_FBDIR"

# Screen points at 1920x1080: the panel's "Area Settings", the editor's column, the question's YES.
AREA_SETTINGS="1800 443"
DETECT_CHOICE="1800 137"
RECT_TOOL="1741 194"; DELETE_AREA="1741 314"; SAVE="1741 614"; RETURN="1858 614"
YES="800 640"

edit_mould_group() {
  e2e_tap $AREA_SETTINGS
  e2e_tap $DETECT_CHOICE
  e2e_x key Down Return  # the item after "Prod", whatever the list's row height
  sleep 0.3
}

save_and_return() {
  e2e_tap $SAVE
  sleep 0.5
  e2e_tap $YES
  sleep 1
  e2e_tap $RETURN
}

e2e_demo_data --frames part --delay 0
e2e_start_ready

# Cavity 1 (display 390..840 x 316..759) loses its area; cavity 2 gets a new one.
edit_mould_group
e2e_tap 450 400  # the first touch shows the camera alone, the second selects the area
e2e_tap 450 400
e2e_tap $DELETE_AREA
e2e_tap $RECT_TOOL
e2e_drag 1150 380 1450 700
e2e_screenshot "$APP/edited.png"
save_and_return
e2e_screenshot "$APP/returned.png"
e2e_board pulse 0
e2e_wait_file "alarmimage/camera1/detect2/OK/*.jpg" 10
e2e_expect "$(( $(e2e_out_word) & 0x0F ))" "0" "outputs with the part outside every area"

# An area drawn around the part (display 570..705 x 485..591, shown at
# 499..617 x 465..567 in the 1680 x 1036 view beside the column) finds it. The
# editor opens again on the mould group; the first touch shows the camera alone.
e2e_tap $AREA_SETTINGS
e2e_tap 300 900
e2e_tap $RECT_TOOL
e2e_drag 472 441 647 595
e2e_screenshot "$APP/edited-again.png"
save_and_return
e2e_board pulse 0
e2e_wait_out 0x0F 0x05 10
e2e_wait_file "alarmimage/camera1/detect2/NG/*.jpg" 10

# The editor opened over that standing NG leaves it on the outputs, on Modbus (register 1 stays 1)
# and on the screen: the view shows the alarm image, its NG area filled red at each blink.
register1() { in_netns python3 "$SRC/tests/e2e/modbus_client.py" 502 read 2 | cut -d' ' -f2; }
red_pixels() {
  python3 - "$E2E_FBDIR/Xvfb_screen0" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
h = struct.unpack(">25I", data[:100])
size, width, height, bpl, ncolors = h[0], h[4], h[5], h[12], h[19]
px = data[size + ncolors * 12:]
print(sum(1 for y in range(0, height, 2) for i in range(0, width * 4, 8)
          if px[y * bpl + i + 2] > 200 and px[y * bpl + i + 1] < 60 and px[y * bpl + i] < 60))
PY
}
sleep 2.5  # past the result's red tint of the main view
e2e_expect "$(register1)" "1" "Modbus register 1 with the NG standing"
e2e_tap $AREA_SETTINGS
# The most of a few looks (the fill blinks); outlines and texts alone make under 1000.
red=0
for i in 1 2 3 4 5 6; do n=$(red_pixels); [ "$n" -le "$red" ] || red=$n; sleep 0.25; done
[ "$red" -gt 2500 ] || { echo "FAIL: no red fill in the editor over the alarm ($red pixels)"; exit 1; }
e2e_expect "$(register1)" "1" "Modbus register 1 in the editor"
e2e_expect "$(( $(e2e_out_word) & 0x0F ))" "5" "outputs in the editor"
e2e_tap $RETURN
e2e_expect "$(register1)" "1" "Modbus register 1 after the editor"
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }

# Learning pauses detection: a mould whose 8 s countdown runs while Resample learns is
# checked once the learning ends, not dropped.
RESAMPLE="1858 374"
e2e_demo_data --frames part --delay 80
e2e_start
e2e_wait_ready
e2e_board pulse 0 > /dev/null
sleep 0.5
edit_mould_group
e2e_tap $RESAMPLE
sleep 0.5
e2e_tap $YES
e2e_expect "$(e2e_log_count "detection resumed" 1 10)" "1" "detection resumed after the learning"
e2e_expect "$(e2e_log_count "detection 2: OK, checked in" 1 15)" "1" "the mould checked after the learning"
e2e_expect "$(e2e_log_count "not inspected" 0 0)" "0" "moulds not inspected"
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }

# Power cuts (SIGKILL of the monitor and its children) at random moments after Resample's YES
# (E2E_CUTS of them, default 4): the template is each time a whole picture of the camera's size,
# PARAM.db is whole, the next start checks the mould, and its run leaves no part of a cut write.
template_shape() {
  python3 - "$APP" <<'PY'
import os, re, sqlite3, struct, sys
app = sys.argv[1]
data = open(os.path.join(app, "cammer12/template0.bmp"), "rb").read()
if data[:2] != b"BM" or struct.unpack("<I", data[2:6])[0] != len(data):
    print("damaged %d bytes" % len(data)); sys.exit()
db = sqlite3.connect(os.path.join(app, "PARAM.db"))
whole = db.execute("pragma integrity_check").fetchone()[0]
rois = [r for (r,) in db.execute("select value from cammer0 where name like 'ROI1-%'") if not re.fullmatch(r"[-0-9. ]+", r)]
parts = [n for d, _, names in os.walk(app) for n in names if ".storing-" in n]
print("%dx%d" % struct.unpack("<ii", data[18:26]), whole, "rows", "bad" if rois else "ok", "parts", len(parts))
PY
}
e2e_demo_data --frames part --delay 0
shape="$(template_shape)"
for cut in $(seq 1 "${E2E_CUTS:-4}"); do
  e2e_start
  e2e_wait_ready || { echo "FAIL: no start after cut $((cut - 1))"; exit 1; }
  edit_mould_group
  e2e_tap $RESAMPLE
  sleep 0.5
  e2e_x mousemove ${YES% *} ${YES#* } click 1
  sleep "$(awk -v r="$RANDOM" 'BEGIN { printf "%.2f", 1.5 * r / 32767 }')"
  e2e_power_cut
  at_cut="$(template_shape)"
  echo "cut $cut: $(e2e_log_count "detection resumed" 0 0) learning(s) ended before it, template $at_cut"
  e2e_expect "${at_cut% parts *}" "${shape% parts *}" "cut $cut: template and PARAM.db"
  e2e_start
  e2e_wait_ready || { echo "FAIL: no start after cut $cut"; exit 1; }
  e2e_board pulse 0 > /dev/null
  e2e_expect "$(e2e_log_count "checked in" 1 15)" "1" "cut $cut: the mould checked after the next start"
  e2e_stop || { echo "FAIL: unclean exit after cut $cut"; exit 1; }
  e2e_expect "$(template_shape)" "${shape% parts *} parts 0" "cut $cut: after the next run"
done
echo "PASS"
