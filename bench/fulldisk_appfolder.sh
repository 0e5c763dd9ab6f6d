# The "appfolder" case of bench/fulldisk.sh (sourced by it after e2e_setup): the whole application
# folder on a tmpfs that another file fills while 8 simulated cameras see a part in every frame and
# a trigger comes every 0.5 s. The tmpfs lives in a private mount namespace held by a sleeping
# process of this script, so that it outlasts a stop and a start of the monitor, which is started
# inside it. One table row per phase:
#   room again     filled 10 s into the triggers, Resample tapped 3 s later (template0.bmp of every
#                  camera's checked groups), room again 10 s after
#                  the fill; measured 40 s after the room came back
#   stop on full   filled again, 10 s of triggers, the monitor stopped (SIGTERM) on the full disk
#   start on full  started on the full disk, 10 s of triggers, room again, stopped 40 s later
# FULLDISK_SHOTS=DIR keeps screenshots of the box (the frame buffer) there.
HOLDER=""
TRIGGERS_PID=""
STAGE="$(mktemp -d /tmp/mm-fulldisk-stage-XXXXXX)"
E2E_FBDIR="$(mktemp -d /tmp/mm-fulldisk-fb-XXXXXX)"
trap 'rc=$?; set +e; e2e_end_groups $TRIGGERS_PID; (exit $rc); e2e_cleanup
      [ -n "$HOLDER" ] && kill "$HOLDER" 2>/dev/null; wait "$HOLDER" 2>/dev/null
      rm -rf "$STAGE" "$STAGE".* "$E2E_FBDIR"; exit $rc' EXIT
LOAD_START="$(cut -d' ' -f1 /proc/loadavg)"
PERIOD=0.5

e2e_demo_data --frames part --delay 0 --cameras 8
size_mb=$(( $(du -sm "$APP" | cut -f1) + 64 ))
setsid unshare -m --propagation private sh -c \
  'mount -t tmpfs -o "size=$1" fulldisk-bench "$2" && cp -a "$3/." "$2/" && mount --move "$2" "$3" && : > "$2.ready" &&
   exec sleep 100000' sh "${size_mb}m" "$STAGE" "$APP" &
HOLDER=$!
i=0
while [ ! -e "$STAGE.ready" ]; do
  kill -0 "$HOLDER" 2>/dev/null && [ $i -lt 600 ] || { echo "FAIL: no tmpfs on the application folder"; exit 1; }
  sleep 0.1; i=$((i + 1))
done
in_app() { nsenter -t "$HOLDER" -m -- "$@"; }
if grep -q " $APP tmpfs " /proc/mounts; then
  echo "FAIL: the tmpfs leaked out of its mount namespace"; exit 1
fi

# The monitor enters the holder's namespace; the X server's cookie is on the host's side.
cat > "$STAGE.enter" <<SH
#!/bin/sh
cp "$APP/.Xauthority" "$STAGE.xauth"
export XAUTHORITY="$STAGE.xauth"
exec nsenter -t $HOLDER -m -- sh -c 'cd "\$0" && exec "\$@"' "$APP" "\$@"
SH
chmod +x "$STAGE.enter"
export MM_E2E_WRAP="$STAGE.enter" E2E_FBDIR

# The monitor's working folder lies in the holder's namespace, out of the host's sight: a process
# there is this script's.
e2e_ours() {
  local pid="${1:-}"
  [ -n "$pid" ] && [ -e "/proc/$pid" ] || return 1
  [ "$(readlink "/proc/$pid/ns/mnt")" = "$(readlink "/proc/$HOLDER/ns/mnt")" ] && return 0
  { tr '\0' ' ' < "/proc/$pid/cmdline"; } 2>/dev/null | grep -qF -- "$APP/"
}

# The monitor's log is on the tmpfs: looked for there.
e2e_wait_for() {
  local text="$1" limit=$(( ${2:-60} * $(e2e_load_factor) )) i=0
  while [ $i -lt $((limit * 10)) ]; do
    in_app sh -c 'grep -qF -- "$1" "$2"/cnt_net/workspace/log/*.log 2>/dev/null' sh "$text" "$APP" && return 0
    kill -0 "$E2E_RUNNER" 2>/dev/null || break
    sleep 0.1; i=$((i + 1))
  done
  echo "FAIL: '$text' not seen"; return 1
}
# A start on a full disk has no log to watch: frames exchanged with the board tell it is up.
wait_frames() {
  local i=0 limit=$(( 600 * $(e2e_load_factor) ))
  while [ "$(e2e_board_frames)" -le $((E2E_FRAMES_MARK + 2)) ]; do
    [ $i -lt $limit ] || { echo "FAIL: the monitor never exchanged frames with the board"; return 1; }
    sleep 0.1; i=$((i + 1))
  done
}

fill() {
  in_app python3 - "$APP" <<'PY'
import errno, os, sys
root = sys.argv[1]
with open(os.path.join(root, "filler.bin"), "ab") as f:
    for _ in range(50):
        st = os.statvfs(root)
        grow = st.f_bavail * st.f_frsize
        if grow <= 0:
            break
        try:
            os.posix_fallocate(f.fileno(), os.fstat(f.fileno()).st_size, grow)
        except OSError as e:
            if e.errno != errno.ENOSPC:
                raise
PY
}
room() { in_app rm -f "$APP/filler.bin"; }
TRIGGERED=0
triggers() {   # seconds, in the background
  setsid python3 "$SRC/tests/e2e/cycle_triggers.py" "$APP/ioboard.sock" "$1" "$PERIOD" > "$APP/triggers.out" &
  TRIGGERS_PID=$!
}
triggers_end() {
  wait "$TRIGGERS_PID" || true
  TRIGGERS_PID=""
  TRIGGERED=$((TRIGGERED + $(cat "$APP/triggers.out" 2>/dev/null || echo 0)))
}
cycles() { in_app sed -n 's/^list_allcyclenum=//p' "$APP/count.ini" | cut -d, -f1 | tr -d ' '; }
record_rows() {
  in_app sqlite3 "$APP/RECORD.db" "select count(*) || ' (' || sum(remarks like 'NG:%') || ')' from RECORD" 2>/dev/null || echo "?"
}
templates() { in_app sh -c 'cd "$1" && md5sum cammer[1-8][1-8]/template0.bmp 2>/dev/null' sh "$APP" || true; }
changed_templates() {
  diff <(echo "$TEMPLATES_BEFORE") <(templates) | grep -c '^>' || true
}
log_bytes() { in_app sh -c 'cat "$1"/cnt_net/workspace/log/LOG_*.log 2>/dev/null | wc -c' sh "$APP"; }
log_has() { in_app sh -c 'cat "$1"/cnt_net/workspace/log/LOG_*.log 2>/dev/null | grep -cF -- "$2"' sh "$APP" "$1" || true; }
shot() {
  [ -n "${FULLDISK_SHOTS:-}" ] || return 0
  mkdir -p "$FULLDISK_SHOTS" && e2e_screenshot "$FULLDISK_SHOTS/$1.png" 2>/dev/null || true
}
# Resample from the panel (shown again by a tap on the camera view when it has hidden itself).
W="${E2E_SCREEN%x*}"; H="${E2E_SCREEN#*x}"
pixel() { python3 "$SRC/tests/e2e/screenpoints.py" pixel "$E2E_FBDIR/Xvfb_screen0" "$1" "$2"; }
# The message box (750 x 370, white frame, centred) closed by its Confirm, and the ones waiting after it.
close_boxes() {
  local i=0
  while [ "$(pixel $((W / 2 - 374)) $((H / 2)))" = "255 255 255" ] && [ $i -lt 20 ]; do
    e2e_tap $((W / 2)) $((H / 2 + 100)); sleep 0.5; i=$((i + 1))
  done
}
resample() {
  local x=$((W - 120)) y=$((135 + 3 * 77))
  close_boxes
  if [ "$(pixel "$x" "$y")" = "0 0 0" ]; then
    e2e_tap $((W / 4)) $((H / 2)); sleep 0.5
  fi
  e2e_tap "$x" "$y"
}
row() {
  printf '| %s | %s | %s | %s | %s of %s | %s | %s |\n' "$1" "$TRIGGERED" "$(cycles)" "$(record_rows)" "$(changed_templates)" \
    "$(echo "$TEMPLATES_BEFORE" | grep -c . || true)" "$2" "$LOAD_START"
}

# Room again while the program runs.
e2e_start_ready
triggers 30
sleep 9
TEMPLATES_BEFORE="$(templates)"
sleep 1; fill
sleep 2; shot full; resample; sleep 2; shot after-resample
sleep 5
log_at_room="$(log_bytes)"; again_at_room="$(log_has "Stored file written again")"
room
triggers_end
sleep 30
shot room-again
row "room again" "$(( $(log_bytes) - log_at_room )) B / $(( $(log_has "Stored file written again") - again_at_room )) / -"

# Stopped on the full disk.
fill
triggers 10
triggers_end
sleep 2
e2e_stop > /dev/null || true
row "stop on full" "- / - / $(log_has "] exit ")"

# Started on the full disk, room again, stopped.
in_app sh -c 'rm -f "$1"/cnt_net/workspace/log/LOG_*.log' sh "$APP"
fill
e2e_start
wait_frames
triggers 10
triggers_end
shot start-full
log_at_room="$(log_bytes)"
room
sleep 40
e2e_stop > /dev/null || true
row "start on full" "$(( $(log_bytes) - log_at_room )) B / $(log_has "Stored file written again") / $(log_has "] exit ")"
