#!/usr/bin/env bash
# The shift hours set by touch at 1024x768: a drag that starts on the closed
# morning-start chooser picks nothing; a tap opens its list on hour 8, a finger drags it down until hour 0 shows
# (the list stays open and keeps 8), a tap on hour 2 picks it, and Return with
# Yes stores 2 in resstatistics.json.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
command -v xdotool > /dev/null || { echo "SKIP: xdotool missing (scripts/install-deps)"; exit 77; }

fail() {
  e2e_screenshot "$APP/failed.png" 2> /dev/null || true
  [ -n "${E2E_SHOTS:-}" ] && mkdir -p "$E2E_SHOTS" && cp "$APP"/*.png "$E2E_SHOTS"/ 2> /dev/null
  echo "FAIL: $1"; exit 1
}

window_count() { e2e_x search --onlyvisible --name "" 2>/dev/null | wc -l; }

# Waits up to 5 s until the number of shown windows is $1.
wait_windows() {
  local i=0
  while [ $i -lt 50 ]; do
    [ "$(window_count)" -eq "$1" ] && return 0
    sleep 0.1; i=$((i + 1))
  done
  return 1
}

shift_hour() {
  python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$APP/resstatistics.json" "$1"
}

W=1024; H=768
export E2E_SCREEN="${W}x${H}"
e2e_setup
export E2E_FBDIR="$APP/screen"
mkdir -p "$E2E_FBDIR"
e2e_demo_data --frames part --delay 0
e2e_set_param_item system6 9 1  # statistics in use: its button is on the panel
e2e_start_board
e2e_start
e2e_wait_for "main window shown" 120
e2e_wait_for "IO board port" 20
sleep 1

e2e_tap 903 519   # Statistics on the main panel
wait_windows 3 || fail "the statistics screen did not open"
sleep 1
e2e_expect "$(shift_hour morningsStart)" 8 "morning start before"

# A drag that starts on the closed chooser opens no list and changes no hour.
chooser() { python3 "$SRC/tests/e2e/screenpoints.py" region "$E2E_FBDIR/Xvfb_screen0" 250 10 100 50; }
before="$(chooser)"
e2e_drag 300 35 300 200 0.3
sleep 1
[ "$(window_count)" -eq 3 ] && [ "$(chooser)" = "$before" ] || fail "a drag from the closed chooser picked an hour"

# The morning-start list: one window over the chooser, as high as the screen.
e2e_tap 300 35
wait_windows 4 || fail "the morning-start list did not open"
sleep 0.5
eval "$(e2e_x getwindowgeometry --shell "$(e2e_x search --onlyvisible --name "" | tail -1)" | sed -n 's/^\(X\|Y\|WIDTH\|HEIGHT\)=/L_\1=/p')"
e2e_screenshot "$APP/list-open.png"
x=$((L_X + L_WIDTH / 2))
# Two strokes down: together far more than the eight rows above hour 8.
e2e_drag $x $((L_Y + 150)) $x $((L_Y + L_HEIGHT - 150))
e2e_drag $x $((L_Y + 150)) $x $((L_Y + L_HEIGHT - 150))
sleep 1.5   # a flick runs out
e2e_screenshot "$APP/list-dragged.png"
[ "$(window_count)" -eq 4 ] || fail "dragging the list closed it (a drag picked a row)"

# At the top, hour n fills the rows' band from 50 n to 50 n + 50.
e2e_tap $x $((L_Y + 2 * 50 + 25))
wait_windows 3 || fail "a tap on hour 2 did not close the list"
sleep 0.5
e2e_screenshot "$APP/picked.png"

e2e_tap 554 95    # Return asks whether to save the changed hours
wait_windows 4 || fail "Return did not ask to save the shift hours"
sleep 0.5
e2e_tap $((W / 2 - 160)) $((H / 2 + 100))   # Yes
wait_windows 2 || fail "the statistics screen did not close after Yes"
e2e_expect "$(shift_hour morningsStart)" 2 "morning start picked by touch"
e2e_expect "$(shift_hour morningsEnd) $(shift_hour nightStart) $(shift_hour nightEnd)" "20 20 8" "other shift hours"

e2e_stop || fail "unclean exit"
if [ -n "${E2E_SHOTS:-}" ]; then mkdir -p "$E2E_SHOTS"; cp "$APP"/*.png "$E2E_SHOTS"/; fi
e2e_cleanup
trap - EXIT
echo "PASS"
