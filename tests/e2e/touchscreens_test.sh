#!/usr/bin/env bash
# The operator screens used by touch, as a setter would, at 1024x768 and at
# 1920x1080: a value typed on the on-screen keypad into the first box of each
# settings page is stored in PARAM.db by Confirm; a page scrolls when dragged;
# every screen and dialog reached lies on the screen and closes by its own
# button; with an NG alarm standing, each screen gives the main screen back with
# its button panel, and a tap on the camera view calls a hidden panel back; a file that cannot
# be written brings one box that a touch closes. Taps go through xdotool to the program's own X display; boxes and
# the keypad are found on the frame buffer, so the taps hit at either size.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
command -v xdotool > /dev/null || { echo "SKIP: xdotool missing (scripts/install-deps)"; exit 77; }
command -v sqlite3 > /dev/null || { echo "SKIP: sqlite3 missing"; exit 77; }
POINTS="$SRC/tests/e2e/screenpoints.py"

# Keeps the screen as it was for the report, then fails.
fail() {
  e2e_screenshot "$APP/failed.png" 2> /dev/null || true
  [ -n "${E2E_SHOTS:-}" ] && mkdir -p "$E2E_SHOTS" && cp "$APP"/*.png "$E2E_SHOTS"/ 2> /dev/null
  echo "FAIL: $1"; exit 1
}

points() { python3 "$POINTS" "$1" "$E2E_FBDIR/Xvfb_screen0" "${@:2}"; }

# Every shown top-level window lies inside the screen.
windows_inside() {
  local w x y ww hh
  for w in $(e2e_x search --onlyvisible --name "" 2>/dev/null); do
    eval "$(e2e_x getwindowgeometry --shell "$w" | sed -n 's/^\(X\|Y\|WIDTH\|HEIGHT\)=/G_\1=/p')"
    if [ "$G_X" -lt 0 ] || [ "$G_Y" -lt 0 ] || [ $((G_X + G_WIDTH)) -gt "$W" ] || [ $((G_Y + G_HEIGHT)) -gt "$H" ]; then
      fail "$1: window ${G_WIDTH}x${G_HEIGHT} at ($G_X,$G_Y) leaves the ${W}x${H} screen"
    fi
  done
}

window_count() { e2e_x search --onlyvisible --name "" 2>/dev/null | wc -l; }

# Waits up to 5 s until the number of shown windows compares ($1: -gt, -eq) with $2.
wait_windows() {
  local i=0
  while [ $i -lt 50 ]; do
    [ "$(window_count)" "$1" "$2" ] && return 0
    sleep 0.1; i=$((i + 1))
  done
  return 1
}

# The newest shown window's geometry into D_X D_Y D_W D_H.
newest_window() {
  local w; w="$(e2e_x search --onlyvisible --name "" 2>/dev/null | tail -1)"
  eval "$(e2e_x getwindowgeometry --shell "$w" | sed -n 's/^\(X\|Y\|WIDTH\|HEIGHT\)=/D_\1=/p')"
}

# Opens a dialog by a tap, checks it fits, closes it by its button (offset in the dialog).
dialog_round() {
  local name="$1" tap_x="$2" tap_y="$3" dx="$4" dy="$5" before
  before="$(window_count)"
  e2e_tap "$tap_x" "$tap_y"
  wait_windows -gt "$before" || fail "$name did not open"
  sleep 0.5
  windows_inside "$name"
  newest_window
  e2e_screenshot "$APP/$name-$W.png"
  e2e_tap $((D_X + dx)) $((D_Y + dy))
  wait_windows -eq "$before" || fail "$name did not close by its button"
}

# Types a value on the number keypad that the last tap opened, then its Confirm.
type_on_keypad() {
  local corner kx ky digit slot
  corner="$(points keypad)" || { fail "no keypad shown"; }
  kx=${corner% *}; ky=${corner#* }
  for digit in $(echo "$1" | grep -o .); do
    slot=$(( (digit + 9) % 10 ))
    e2e_tap $((kx + 55 + slot % 4 * 106)) $((ky + 40 + slot / 4 * 76))
    points keypad > /dev/null || { fail "the keypad closed on key $digit"; }
  done
  e2e_tap $((kx + 55 + 3 * 106)) $((ky + 40 + 2 * 76))
}

# Taps a button of the main panel; a hidden panel is first called up by a tap on the camera view.
panel_tap() {
  if [ "$(points pixel "$1" "$2")" = "0 0 0" ]; then e2e_tap $((W / 4)) $((H / 2)); sleep 0.5; fi
  e2e_tap "$1" "$2"; sleep 1
}

# Page buttons of the settings screen: one row of ten on the wide screen, two rows of five on the small one.
page_at() {
  if [ "$W" -ge 1800 ]; then echo $((100 + $1 * 190)) 49; else echo $((108 + $1 % 5 * 202)) $((49 + $1 / 5 * 86)); fi
}

# The panel's column: rows of 76 px under the 96 px logo (Multi-screen, Stop Detection,
# System Param, Resample, Area Settings, statistics), the same at both sizes.
panel_row() { echo $((W - 120)) $((135 + $1 * 77)); }

# The column from the logo down to Area Settings, the pointer parked on the status bar
# (the frame buffer holds the cursor). PANEL_LOOK is the column as the shown panel draws it.
column_look() {
  e2e_x mousemove $((W / 2)) $((H - 22))
  sleep 0.2
  points region $((W - 240)) 0 240 481
}
panel_drawn() { [ "$(column_look)" = "$PANEL_LOOK" ]; }

# Waits up to about 10 s until the panel is drawn ($1 = shown) or gone ($1 = hidden).
wait_panel() {
  local i=0
  while [ $i -lt 25 ]; do
    if panel_drawn; then [ "$1" = shown ] && return 0; else [ "$1" = hidden ] && return 0; fi
    sleep 0.2; i=$((i + 1))
  done
  return 1
}

# With an NG alarm standing, every screen closed by touch gives the main screen back with its
# panel, a tap on the camera view calls a hidden panel back, and its buttons still act.
alarm_round() {
  local base col0 row2
  if [ "$W" -ge 1800 ]; then col0=170; row2=299; else col0=168; row2=372; fi
  e2e_board pulse 0  # the mould detection sees the left-over part
  e2e_wait_out 0x0F 0x05 10 || fail "no NG alarm at ${W}x${H}"
  sleep 1
  base="$(window_count)"
  e2e_screenshot "$APP/alarm-$W.png"
  # Taken while the panel is known to be there: the program starts with it and nothing hid it yet.
  PANEL_LOOK=""
  while [ "$PANEL_LOOK" != "$(column_look)" ]; do PANEL_LOOK="$(column_look)"; done
  # System Param's own grey above its text (the longest texts reach the button's sides).
  [ "$(points pixel $((W - 120)) $(( $(panel_row 2 | cut -d' ' -f2) - 33 )))" = "50 47 47" ] || fail "no panel on the alarm page"

  # Settings left by Return, after its parameter groups page and the network dialog.
  e2e_tap $(panel_row 2)
  wait_panel hidden || fail "System Param did not open the settings during the alarm"
  e2e_tap $(page_at 6); sleep 0.5
  e2e_screenshot "$APP/alarm-groups-$W.png"
  e2e_tap $(page_at 7); sleep 0.5
  e2e_tap $col0 $row2
  wait_windows -gt "$base" || fail "the network dialog did not open during the alarm"
  sleep 1
  newest_window
  e2e_tap $((D_X + D_WIDTH - 164)) $((D_Y + 30))
  wait_windows -eq "$base" || fail "the network dialog did not close by Cancel during the alarm"
  e2e_tap $(page_at 9)
  wait_panel shown || fail "the settings' Return left the main screen without its panel"
  e2e_screenshot "$APP/alarm-settings-return-$W.png"

  # Settings left by Confirm and YES.
  e2e_tap $(panel_row 2)
  wait_panel hidden || fail "System Param did not open the settings again"
  e2e_tap $(page_at 8); sleep 0.5
  e2e_tap $((W / 2 - 160)) $((H / 2 + 100))  # YES
  wait_panel shown || fail "the settings' Confirm left the main screen without its panel"

  # The ROI editor, left by its Return.
  e2e_tap $(panel_row 4)
  wait_panel hidden || fail "Area Settings did not open the ROI editor during the alarm"
  e2e_screenshot "$APP/alarm-editor-$W.png"
  e2e_tap $((W - 62)) 614
  wait_panel shown || fail "the ROI editor's Return left the main screen without its panel"

  # The statistics screen and the IO page.
  e2e_tap $(panel_row 5)
  wait_windows -gt "$base" || fail "the statistics screen did not open during the alarm"
  sleep 0.5
  if [ "$W" -ge 1800 ]; then e2e_tap 1519 34; else e2e_tap 554 95; fi   # Return
  wait_windows -eq "$base" || fail "the statistics screen did not close during the alarm"
  wait_panel shown || fail "the statistics screen's Return left the main screen without its panel"
  if [ "$W" -ge 1800 ]; then dialog_round alarm-io-page 300 $((H - 20)) 1391 574; else dialog_round alarm-io-page 300 $((H - 20)) 752 434; fi
  wait_panel shown || fail "the IO page's Return left the main screen without its panel"

  # A tap on the logo hides the panel; a tap on the camera view brings it back.
  e2e_tap $((W - 120)) 48
  wait_panel hidden || fail "a tap on the logo did not hide the panel"
  e2e_tap $((W / 4)) $((H / 2))
  wait_panel shown || fail "a tap on the camera view did not bring the panel back during the alarm"
  e2e_screenshot "$APP/alarm-tapped-$W.png"

  # Its buttons act: System Param opens the settings, Return the alarm release box.
  e2e_tap $(panel_row 2)
  wait_panel hidden || fail "System Param of the panel called back did not open the settings"
  e2e_tap $(page_at 9)
  wait_panel shown || fail "no panel after the settings opened from the panel called back"
  e2e_tap $(panel_row 0)
  wait_windows -gt "$base" || fail "Return did not open the alarm release box"
  sleep 0.5
  windows_inside "alarm release box"
  newest_window
  e2e_screenshot "$APP/alarm-release-$W.png"
  e2e_tap $((D_X + D_WIDTH / 2)) $((D_Y + D_HEIGHT - 55))  # Cancel, the last choice
  wait_windows -eq "$base" || fail "the alarm release box did not close by Cancel"
  [ $(( $(e2e_out_word) & 0x05 )) -eq 5 ] || fail "cancelling the release box lifted the alarm"
  wait_panel shown || fail "no panel after the alarm release box was cancelled"

  e2e_board pulse 1  # the safety door lifts the alarm
  e2e_wait_out 0x0F 0x00 10 || fail "the door did not lift the alarm"
}

# A stored file that cannot be written: count.ini's place taken by a folder (the whole program's
# disk cannot be filled without a mount). The NG's count brings one box, above the main window and
# inside the screen; once the file is written after all the same box says so, and closes by its
# Confirm; the door then lifts the alarm.
fulldisk_round() {
  local base
  e2e_wait_file count.ini 10 || fail "no count.ini after the first NG"
  mv "$APP/count.ini" "$APP/count.ini.kept"; mkdir "$APP/count.ini"
  base="$(window_count)"
  e2e_board pulse 0
  e2e_wait_out 0x0F 0x05 10 || fail "no NG at ${W}x${H} before the full disk"
  wait_windows -gt "$base" || fail "no full-disk box at ${W}x${H}"
  sleep 1
  [ "$(window_count)" -eq $((base + 1)) ] || fail "more than one full-disk box"
  windows_inside "full-disk box"
  newest_window
  e2e_x mousemove $((W / 2)) $((H - 22)); sleep 0.3
  e2e_screenshot "$APP/fulldisk-$W.png"
  # Its white frame is drawn: no window lies over the box.
  [ "$(points pixel $((D_X + 2)) $((D_Y + D_HEIGHT / 2)))" = "255 255 255" ] || fail "the full-disk box is covered"
  # Written again by the next retry (half a minute): the same box says so in place of its text.
  local text i=0 limit=$((450 * $(e2e_load_factor)))
  text="$(points region $((D_X + 10)) $((D_Y + 10)) $((D_WIDTH - 20)) $((D_HEIGHT / 2)))"
  rmdir "$APP/count.ini"; mv "$APP/count.ini.kept" "$APP/count.ini"
  while [ "$(points region $((D_X + 10)) $((D_Y + 10)) $((D_WIDTH - 20)) $((D_HEIGHT / 2)))" = "$text" ]; do
    i=$((i + 1)); [ $i -lt $limit ] || fail "the full-disk box never told count.ini saved after all"
    sleep 0.1
  done
  sleep 0.5
  [ "$(window_count)" -eq $((base + 1)) ] || fail "the file saved after all brought another box"
  e2e_screenshot "$APP/fulldisk-saved-$W.png"
  e2e_tap $((D_X + D_WIDTH / 2)) $((D_Y + D_HEIGHT - 75))  # Confirm
  wait_windows -eq "$base" || fail "the full-disk box did not close by its Confirm"
  e2e_board pulse 1
  e2e_wait_out 0x0F 0x00 10 || fail "the door did not lift the alarm after the full disk"
}

run_at() {
  W=$1; H=$2
  local page_y sys_x sys_y page
  e2e_setup
  export E2E_FBDIR="$APP/screen" E2E_SCREEN="${W}x${H}"
  mkdir -p "$E2E_FBDIR"
  e2e_demo_data --frames part --delay 0
  e2e_set_param_item system6 9 1  # statistics in use: its button is on the panel
  # E2E_LANG=0..3 runs it in another language (the pictures are kept with E2E_SHOTS).
  [ -n "${E2E_LANG:-}" ] && e2e_set_param_item system2 12 "$E2E_LANG"
  e2e_start_board
  e2e_start
  e2e_wait_ready
  sleep 1
  windows_inside "main window"
  alarm_round
  fulldisk_round

  # The panel's column: System Param, then Statistics further down.
  if [ "$W" -ge 1800 ]; then sys_x=1799; sys_y=287; else sys_x=903; sys_y=288; fi
  e2e_tap $sys_x $sys_y; sleep 1
  # One value per page, typed into its first box: row and item of its stored place.
  local values=(42 12 150 37 15) stored=("exposeTime 0" "trigInDelay 0" "system2 4" "system4 1" "system2 3")
  for page in 0 1 2 3 4; do
    e2e_tap $(page_at $page); sleep 0.5
    e2e_screenshot "$APP/page$page-$W.png"
    local box; box="$(points whitebox 130)" || { fail "page $page shows no value box"; }
    e2e_tap $box
    type_on_keypad "${values[$page]}"
  done
  e2e_tap $(page_at 8); sleep 0.5   # Confirm
  windows_inside "save question"
  e2e_screenshot "$APP/save-question-$W.png"
  e2e_tap $((W / 2 - 160)) $((H / 2 + 100)); sleep 1  # YES
  for page in 0 1 2 3 4; do
    e2e_expect "$(e2e_param_item ${stored[$page]})" "${values[$page]}" "typed value of page $page at ${W}x${H}"
  done

  # Opened again: a long page is dragged up and shows other boxes.
  panel_tap $sys_x $sys_y
  e2e_tap $(page_at 1); sleep 0.5
  local before after
  before="$(points region 0 180 $((W - 40)) $((H - 200)))"
  e2e_drag 120 $((H - 100)) 120 $((H / 2))
  sleep 1
  after="$(points region 0 180 $((W - 40)) $((H - 200)))"
  if [ "$H" -lt 1000 ] && [ "$before" = "$after" ]; then fail "dragging the page did not scroll it"; fi

  # The System page's dialogs, each closed by its own cancelling button.
  e2e_tap $(page_at 7); sleep 0.5
  local col0 col1 col2 row1 row2 row3
  if [ "$W" -ge 1800 ]; then col0=170; col1=476; col2=782; row1=213; row2=299; row3=385; else col0=168; col1=473; col2=780; row1=286; row2=372; row3=458; fi
  dialog_round modify-time $col0 $row1 534 285
  dialog_round export-choice $col1 $row1 579 253
  dialog_round camera-order $col2 $row1 635 187
  dialog_round image-storage $col2 $row2 413 244
  dialog_round calibration $col0 $row3 534 285
  # The network dialog: its Cancel sits left of the title bar's OK.
  e2e_tap $col0 $row2; sleep 2
  windows_inside "network settings"
  newest_window
  e2e_screenshot "$APP/network-$W.png"
  e2e_tap $((D_X + D_WIDTH - 164)) $((D_Y + 30))
  wait_windows -eq 2 || fail "the network dialog did not close by Cancel"
  e2e_tap $(page_at 9); sleep 0.5   # Return

  # The statistics screen: its Return is on the screen and leaves it.
  if [ "$W" -ge 1800 ]; then panel_tap 1799 518; else panel_tap 903 519; fi
  wait_windows -eq 3 || fail "the statistics screen did not open"
  sleep 0.5
  windows_inside "statistics"
  newest_window
  e2e_screenshot "$APP/statistics-$W.png"
  [ "$D_WIDTH" -eq "$W" ] || { fail "statistics screen ${D_WIDTH} wide on a $W screen"; }
  if [ "$W" -ge 1800 ]; then e2e_tap 1519 34; else e2e_tap 554 95; fi   # Return
  wait_windows -eq 2 || fail "the statistics screen did not close by Return"
  sleep 1
  # The IO page from the status bar, closed by its Return.
  if [ "$W" -ge 1800 ]; then dialog_round io-page 300 $((H - 20)) 1391 574; else dialog_round io-page 300 $((H - 20)) 752 434; fi
  e2e_stop || { fail "unclean exit"; }
  if [ -n "${E2E_SHOTS:-}" ]; then mkdir -p "$E2E_SHOTS"; cp "$APP"/*.png "$E2E_SHOTS"/; fi
  e2e_cleanup
  trap - EXIT
}

for size in ${E2E_SIZES:-1024x768 1920x1080}; do
  run_at "${size%x*}" "${size#*x}"
done
echo "PASS"
