#!/usr/bin/env bash
# Every screen of the real program drawn at 1920x1080 and 1024x768 in the four
# languages: the main window, the ROI editor, a selected ROI's panel and its
# fine-tuning row, the settings screen and the statistics screen, reached by
# touch. Each screen must show something new and the program must live through
# all of them and end cleanly. MM_SCREENSHOT_DIR keeps the pictures (<screen>_<language>_<size>.png)
# for a person to look at; E2E_SIZES and E2E_LANGUAGES choose fewer runs.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
command -v xdotool > /dev/null || { echo "SKIP: xdotool missing (scripts/install-deps)"; exit 77; }
e2e_setup
export E2E_FBDIR="$APP/screen"
mkdir -p "$E2E_FBDIR"
OUT="${MM_SCREENSHOT_DIR:-$APP/shots}"
mkdir -p "$OUT"


LAST=""
# Saves the screen as $1 and checks that it differs from the screen saved before.
# The screen is taken once it differs from that one and held still for 0.3 s (a
# loaded machine can take seconds to draw a new screen), 20 s at most.
shot() {
  local file="$OUT/$1_${LANGUAGE}_${SIZE}.png" now="$APP/screen-now" held="$APP/screen-held" i=0
  rm -f "$held"
  while [ $i -lt 60 ]; do
    sleep 0.3
    cp "$E2E_FBDIR/Xvfb_screen0" "$now"
    if [ -f "$held" ] && cmp -s "$held" "$now" && ! { [ -n "$LAST" ] && cmp -s "$LAST" "$now"; }; then break; fi
    mv "$now" "$held"; i=$((i + 1))
  done
  [ -f "$now" ] || mv "$held" "$now"
  if [ -n "$LAST" ] && cmp -s "$LAST" "$now"; then
    echo "FAIL: $1 at $SIZE in language $LANGUAGE looks like the screen before it"; exit 1
  fi
  e2e_screenshot "$file" "$now"
  mv "$now" "$APP/screen-last"
  LAST="$APP/screen-last"
}

for SIZE in ${E2E_SIZES:-1920x1080 1024x768}; do
  W=${SIZE%x*}; H=${SIZE#*x}
  # The areas are stored in screen pixels: laid again for each size.
  E2E_SCREEN="$SIZE" e2e_demo_data --frames part --delay 0
  e2e_set_param_item system6 9 1  # the statistics button on the panel
  # The button column at the right edge (rows of 76 px under the 96 px logo) and the
  # editor's column over it; the camera area is left of it, above the 44 px status bar.
  PANEL_X=$((W - 120)); EDITOR_RETURN_X=$((W - 62))
  VIEW_W=$((W - 240)); VIEW_H=$((H - 44))
  for LANGUAGE in ${E2E_LANGUAGES:-0 1 2 3}; do
    e2e_set_param_item system2 12 "$LANGUAGE"  # the language
    E2E_SCREEN="$SIZE" e2e_start
    e2e_wait_for "main window shown" 120
    sleep 1
    LAST=""
    shot main

    e2e_tap "$PANEL_X" 443  # Area Settings
    shot roieditor
    e2e_tap "$PANEL_X" 137  # the detection choice: the mould group holds the demo's areas
    shot roichoice
    e2e_x key Down Return  # the item after "Prod": the mould group
    # The demo's area over cavity 1 (display 390..840 x 316..759 at 1920x1080): the first
    # touch shows the camera alone, the second selects the area.
    e2e_tap $((615 * W / 1920)) $((537 * H / 1080))
    e2e_tap $((615 * W / 1920)) $((537 * H / 1080))
    shot roipanel
    # "Fine tuning": third of the bottom row, right of the two sync buttons.
    if [ "$W" -ge 1920 ]; then FINE_X=785; else FINE_X=$((VIEW_W - 10 - 55)); fi
    e2e_tap "$FINE_X" $((VIEW_H - 43))
    shot roimove
    e2e_tap "$EDITOR_RETURN_X" 614
    sleep 0.5

    e2e_tap "$PANEL_X" 289  # System Param
    shot settings
    if [ "$W" -ge 1920 ]; then e2e_tap 1810 50; else e2e_tap 916 135; fi  # Return
    e2e_tap 100 300  # a touch on the camera view brings the panel back
    sleep 0.5

    e2e_tap "$PANEL_X" 520  # statistics
    shot statistics
    if [ "$W" -ge 1920 ]; then
      # The morning start hour, right of its caption (the English one is the longest).
      if [ "$LANGUAGE" = 1 ]; then HOUR_X=620; else HOUR_X=512; fi
      e2e_tap "$HOUR_X" 35  # its drop-down list
      shot shifthours
      e2e_tap "$HOUR_X" 35  # the hour under the finger is the one chosen before
      e2e_tap 1790 35  # Export: the choice of days
      shot export
    fi
    kill -0 "$(cat "$MM_PID_FILE")" || { echo "FAIL: the monitor ended at $SIZE in language $LANGUAGE"; exit 1; }
    e2e_stop || { echo "FAIL: unclean exit at $SIZE in language $LANGUAGE"; exit 1; }
  done
done
echo "screens of $(ls "$OUT" | wc -l) pictures in $OUT"
