#!/usr/bin/env bash
# A software download from the update server while the machine runs a cycle a
# second: the backup of an installed program folder of real size (150 MB that
# does not compress) must not hold the detection cycle, so every trigger raised
# during the download is inspected and recorded. Driven by touch as an operator
# would: System Param, System page, the version button, a package, YES. Told to
# quit during the next backup, the monitor ends cleanly with that package stored.
# Killed during the third backup (the folder grown to 200 MB), tar ends with it,
# the earlier backup stays whole and the next start removes what the cut left.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
for tool in xdotool nginx sqlite3 curl; do
  command -v "$tool" > /dev/null || { echo "SKIP: no $tool"; exit 77; }
done
e2e_setup
export E2E_FBDIR="$APP/screen" E2E_SCREEN=1920x1080
mkdir -p "$E2E_FBDIR"
W=1920; H=1080
points() { python3 "$(dirname "$0")/screenpoints.py" "$1" "$E2E_FBDIR/Xvfb_screen0" "${@:2}"; }
NGINX_PID=""
# tar and its gzip working on this test's folder (the backup's, the check's).
our_tars() {
  local p cwd
  for p in $(pgrep -x 'tar|gzip'); do
    cwd="$(readlink "/proc/$p/cwd" 2> /dev/null || true)"
    { [ "$cwd" = "$APP" ] || [[ "$cwd" == "$APP"/* ]] || tr '\0' ' ' < "/proc/$p/cmdline" | grep -qF -- "$APP/"; } \
      2> /dev/null && echo "$p"
  done
  true
}
download_cleanup() {
  local rc=$? pid
  for pid in $(our_tars); do kill -KILL "$pid" 2> /dev/null || true; done
  e2e_end_groups "$NGINX_PID"
  (exit $rc); e2e_cleanup
}
trap download_cleanup EXIT

fail() {
  e2e_screenshot "$APP/failed.png" 2> /dev/null || true
  [ -n "${E2E_SHOTS:-}" ] && mkdir -p "$E2E_SHOTS" && cp "$APP"/*.png "$E2E_SHOTS"/ 2> /dev/null
  echo "FAIL: $1"; exit 1
}

# The installed program: 150 MB of random bytes (a real installation's size; gzip cannot
# shrink them, so the backup takes its real time), less when the disk is short. The backup
# and the package need about as much again.
MB=150
avail_mb=$(( $(df --output=avail -k "$APP" | tail -1) / 1024 ))
[ "$avail_mb" -lt $((3 * MB + 200)) ] && MB=$(( (avail_mb - 200) / 30 * 10 ))
[ "$MB" -ge 40 ] || { echo "SKIP: only $avail_mb MB free"; exit 77; }
e2e_demo_data --frames part --delay 0
conf="$("$SRC/assets/demodata/make_update_server.sh" "$APP")"
mkdir -p "$APP/bin-ZEV/lib"
for i in $(seq 1 $((MB / 10))); do
  head -c $((10 << 20)) /dev/urandom > "$APP/bin-ZEV/lib/part$i.so"
done
echo "installed program folder: $(du -sm "$APP/bin-ZEV" | cut -f1) MB"

# The update server, in the network namespace of the monitor now running.
start_update_server() {
  e2e_end_groups "$NGINX_PID"
  in_netns_bg nginx -p "$APP/.update-server" -c "$conf"
  NGINX_PID=$!
  for _ in $(seq 50); do in_netns curl -sf -o /dev/null http://127.0.0.1:10440/monitor/ && break; sleep 0.1; done
}
e2e_start_ready
start_update_server

# The dialog is a child of the main window, 1280x960 in the middle of the screen; its boxes lie
# at (265,295) in it, 750x370 with a white frame, YES at (100,220) and Confirm at (265,220) in
# them, 220x100; the packages of the first column at (113,180 + 80 i), 200x50.
DX=$(( (W - 1280) / 2 )); DY=$(( (H - 960) / 2 ))
BX=$((DX + 265)); BY=$((DY + 295))
PX=$((DX + 213)); PY=$((DY + 205))
box_shown() { [ "$(points pixel $((BX + 2)) $((BY + 200)))" = "255 255 255" ]; }
# Waits up to $2 seconds until the box is shown ($1 = 1) or gone ($1 = 0).
wait_box() {
  local i=0
  while [ $i -lt $(($2 * 10)) ]; do
    if box_shown; then [ "$1" = 1 ] && return 0; else [ "$1" = 0 ] && return 0; fi
    sleep 0.1; i=$((i + 1))
  done
  return 1
}
# Taps package $1 (0: first) of the first column and YES on the question; the notice
# without buttons follows, then the outcome, told by the colour of its button at a point
# between the question's two buttons (above the texts).
download() {
  e2e_tap $PX $((PY + 80 * $1))
  wait_box 1 10 || fail "no question before the download"
  BUTTON="$(points pixel $((BX + 175)) $((BY + 230)))"
  e2e_tap $((BX + 210)) $((BY + 270))
}
wait_outcome() {
  local i=0
  while [ $i -lt $(($1 * 10)) ]; do
    [ "$(points pixel $((BX + 340)) $((BY + 230)))" = "$BUTTON" ] && return 0
    sleep 0.1; i=$((i + 1))
  done
  return 1
}
# The install folder's backups beside it.
backups() { ls "$APP"/bin-ZEV-*.tar.gz 2> /dev/null || true; }
# The version inside the stored package.
stored_version() { tar -xzOf "$APP/bin-ZEV/newupdate.tar.gz" VERSION 2> /dev/null || true; }

# The backup tar's process while it writes.
backup_tar() {
  local pid
  for pid in $(our_tars); do tr '\0' ' ' < "/proc/$pid/cmdline" 2> /dev/null | grep -q -- " -zcf " && echo "$pid"; done
  true
}
wait_backup_tar() {
  for _ in $(seq 300); do [ -n "$(backup_tar)" ] && return 0; sleep 0.1; done
  return 1
}
# What a cut download or backup leaves: the partial package, the partial backup beside the folder.
cut_leftovers() {
  ls -A "$APP/bin-ZEV/.newupdate.partial" "$APP"/.bin-ZEV* 2> /dev/null | xargs -r -n1 basename | tr '\n' ' ' || true
}
# System Param, its System page, the version button; the dialog reads the listing, then shows.
open_dialog() {
  local before
  e2e_tap 1799 287; sleep 1
  e2e_tap $((100 + 7 * 190)) 49; sleep 0.5
  before="$(points region $((PX - 100)) $((PY - 25)) 200 50)"
  e2e_tap 476 299
  for _ in $(seq 100); do
    [ "$(points region $((PX - 100)) $((PY - 25)) 200 50)" != "$before" ] && break; sleep 0.1
  done
  sleep 1
}
open_dialog

# A trigger a second from here on: every mould opening raised during the download must be checked.
mark=$(wc -l < "$APP/io-record.log")
runs_before=$(e2e_sql RECORD.db "select count(*) from RECORD where recordtype = 'run'")
e2e_board auto 0 1 > /dev/null
sleep 2
download 0
started=$SECONDS
wait_outcome 90 || fail "no outcome after the download"
echo "download and backup: $((SECONDS - started)) s"
e2e_expect "$(stored_version)" "V17_18.0.1.tar.gz" "stored package"
[ "$(backups | wc -l)" = 1 ] && [ "$(du -m "$(backups)" | cut -f1)" -ge "$MB" ] || fail "no whole backup: $(backups)"
sleep 3
e2e_board auto 0 0 > /dev/null

triggers() {
  local n=0 kind word
  while read -r _ _ kind word; do
    [ "$kind" = in ] && [ $((word & 1)) -eq 1 ] && n=$((n + 1))
  done < <(tail -n +"$((mark + 1))" "$APP/io-record.log")
  echo $n
}
checks() { echo $(( $(e2e_sql RECORD.db "select count(*) from RECORD where recordtype = 'run'") - runs_before )); }
# The cycle in flight when the triggers stopped may still end.
for _ in $(seq $((50 * $(e2e_load_factor)))); do [ "$(checks)" -ge "$(triggers)" ] && break; sleep 0.1; done
echo "triggers $(triggers), checks $(checks)"
[ "$(triggers)" -ge 5 ] || fail "only $(triggers) triggers reached the board"
e2e_expect "$(checks)" "$(triggers)" "cycles checked of the triggers raised during the download"

# The monitor told to quit while the next backup runs: it ends cleanly, with that package stored.
e2e_tap $((BX + 375)) $((BY + 270))
wait_box 0 10 || fail "the outcome stayed"
first="$(backups)"
download 1
wait_backup_tar || fail "the second backup never started"
e2e_stop || fail "unclean exit during the backup"
e2e_expect "$(stored_version)" "V17_18.0.2.tar.gz" "package stored while quitting"
[ ! -e "$APP/bin-ZEV/.newupdate.partial" ] || fail "the partial package was left"
earlier="$(backups)"
[ "$(echo "$earlier" | wc -l)" = 1 ] && [ "$earlier" != "$first" ] || fail "not the second backup alone: $earlier"

# Killed during the next backup, as a power cut or the watchdog would: the earlier backup beside
# the folder, the folder grown to 200 MB (the rest sparse, so the test stays short).
truncate -s $(( (200 - MB) << 20 )) "$APP/bin-ZEV/lib/grown.so"
earlier_sum="$(sha256sum < "$earlier")"
e2e_start
e2e_wait_ready
start_update_server
open_dialog
download 2
wait_backup_tar || fail "the third backup never started"
sleep 0.5
pid="$(cat "$MM_PID_FILE")"
e2e_ours "$pid" && kill -KILL "$pid"
# Measured at once: the backup would end on its own a few seconds later.
for _ in $(seq 10); do [ -z "$(our_tars)" ] && break; sleep 0.1; done
outlived=$(our_tars | wc -l)
wait "$E2E_RUNNER" 2> /dev/null || true
E2E_RUNNER=""
e2e_wait_x_gone
if [ -f "$earlier" ] && [ "$(sha256sum < "$earlier")" = "$earlier_sum" ] && tar -tzf "$earlier" > /dev/null 2>&1; then
  kept=whole
else
  kept=lost
fi
for pid in $(our_tars); do kill -KILL "$pid" 2> /dev/null || true; done
cut_left="$(cut_leftovers)"
e2e_start
e2e_wait_ready
left="$(cut_leftovers)"
echo "killed during the backup: tar or gzip still running 1 s after: $outlived; earlier backup: $kept;" \
  "left by the cut: ${cut_left:-nothing}; after the next start: ${left:-nothing}"
[ "$outlived" = 0 ] || fail "tar outlived the monitor"
[ "$kept" = whole ] || fail "the earlier backup was not kept whole"
[ -z "$left" ] || fail "the next start left $left"
e2e_expect "$(backups)" "$earlier" "backups after the next start"
e2e_stop || fail "unclean exit after the kill"
echo "PASS"
