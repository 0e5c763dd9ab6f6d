# Shared steps of the whole-program tests. Source it with BUILD and SRC set.
set -euo pipefail
# The test runs again in a mount namespace of its own with a terminal file system of its own: the
# board simulator's terminal then has a name no other test's can have, so a monitor of a parallel
# test that reopens its lost board's name never reaches this test's board (nor this one theirs).
# Nothing is mounted outside that namespace.
if [ -z "${E2E_PRIVATE_PTS:-}" ] && [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null; then
  export E2E_PRIVATE_PTS=1
  exec unshare --mount --propagation private -- bash -c \
    'mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts /dev/pts && mount --bind /dev/pts/ptmx /dev/ptmx \
       && exec bash "$0" "$@"' "$0" "$@"
fi
# The tests' screen: the monitor's Xvfb and the demo ROIs laid for it (E2E_SCREEN=1024x768: another size).
: "${E2E_SCREEN:=1920x1080}"
# A sanitizer's build runs several times slower than the plant's pace: E2E_SLOW (a whole number,
# 1 by default) stretches the pauses and waits of a test that paces the machine.
: "${E2E_SLOW:=1}"
e2e_slow() {
  awk -v t="$1" -v f="$E2E_SLOW" -v p="${E2E_PACE:-1}" 'BEGIN { print t * f * p }'
}
# Waits for an event (never the pace of the machine) follow the load as well: other work on the
# machine (a build, other tests) starves the monitor, so a deadline grows by the run queue per
# core when that is above one. A whole number: E2E_SLOW times the load, rounded up.
e2e_load_factor() {
  awk -v f="$E2E_SLOW" -v l="$(e2e_run_queue)" 'BEGIN { print f * l }'
}
# The run queue per core (the last minute's load), rounded up, at least 1.
e2e_run_queue() {
  awk -v cores="$(nproc)" '{ l = $1 / cores; print (l > 1 ? int(l + 0.999) : 1) }' /proc/loadavg
}
# $1 seconds (or ms) of a deadline, stretched by e2e_load_factor.
e2e_loaded() {
  awk -v t="$1" -v f="$(e2e_load_factor)" 'BEGIN { print t * f }'
}
# For a test whose moments of the machine only need to stay in order around the monitor's own
# timers (a door after the NG's rechecks, the next mould after the door): its pace (e2e_slow)
# grows with the load at its start, up to three times. The monitor's timers keep their length;
# what a loaded machine adds is the monitor's lag behind them, which the wider margins take.
# Not for a test whose point is a mould coming while a timer still runs.
e2e_pace_follows_load() {
  local l; l="$(e2e_run_queue)"
  E2E_PACE=$(( l < 3 ? l : 3 ))
}

e2e_setup() {
  if [ "$(id -u)" -ne 0 ] || ! unshare -n true 2>/dev/null; then
    echo "SKIP: needs root for a network namespace"; exit 77
  fi
  APP="$(mktemp -d /tmp/mm-e2e-XXXXXX)"
  E2E_BOARD_PID=""
  # Set before the folder is laid: a build without the program leaves no folder behind.
  trap e2e_cleanup EXIT
  "$SRC/scripts/prepare-app-folder" "$BUILD" "$APP" > /dev/null
  MM_PID_FILE="$APP/.monitor.pid"
  "$SRC/assets/demodata/make_safe_bin.sh" "$APP/.safebin"
  MM_IO_DEVICE="$APP/no-io-board"
}

# Re-lays the demo data with options of make_demo_data.py (--frames, --delay, ...).
e2e_demo_data() {
  python3 "$SRC/assets/demodata/make_demo_data.py" "$APP" --screen "$E2E_SCREEN" "$@"
}

# Starts the IO board simulator; the monitor is pointed at its terminal.
# The HTTP API switched on (and the companion link and screen share off) for the next start.
e2e_api_on() {
  cat > "$APP/cnt_net/config.json" <<'JSON'
{"devicename": "e2e-box", "device_workapifunc": true, "device_worknetfunc": false, "device_workvideo": false}
JSON
}

e2e_start_board() {
  rm -f "$APP/ioboard.pty"
  "$APP/ioboard-sim" --record "$APP/io-record.log" --socket "$APP/ioboard.sock" \
    --path-file "$APP/ioboard.pty" "$@" < /dev/null > "$APP/ioboard-sim.log" 2>&1 &
  E2E_BOARD_PID=$!
  local i=0
  while [ ! -s "$APP/ioboard.pty" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
  MM_IO_DEVICE="$(cat "$APP/ioboard.pty")"
}

# Sends one command line to the simulator and prints its reply.
e2e_board() {
  python3 - "$APP/ioboard.sock" "$*" <<'PY'
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(sys.argv[2].encode() + b"\n")
print(s.makefile().readline().strip())
PY
}

# The last output word the board received (decimal), 0 when none yet; with "in":
# the last input word it gave.
e2e_out_word() {
  local word
  word="$(grep " ${1:-out} " "$APP/io-record.log" 2>/dev/null | tail -1 | awk '{print $4}')"
  echo $(( ${word:-0} ))
}

# Waits up to $3 seconds (stretched by the load) until (output word & $1) == $2.
e2e_wait_out() {
  local mask=$1 value=$2 limit=$(( ${3:-20} * $(e2e_load_factor) )) i=0
  while [ $i -lt $((limit * 10)) ]; do
    [ $(( $(e2e_out_word) & mask )) -eq $(( value )) ] && return 0
    sleep 0.1; i=$((i + 1))
  done
  echo "FAIL: output word $(printf 0x%04x "$(e2e_out_word)") & $mask never became $value"
  tail -${E2E_TAIL:-5} "$APP/io-record.log" 2>/dev/null || true
  return 1
}

# Waits up to $2 seconds (stretched by the load) for a file matching a glob (relative to APP).
e2e_wait_file() {
  local pattern="$1" limit=$(( ${2:-20} * $(e2e_load_factor) )) i=0
  while [ $i -lt $((limit * 10)) ]; do
    compgen -G "$APP/$pattern" > /dev/null && return 0
    sleep 0.1; i=$((i + 1))
  done
  echo "FAIL: no file $pattern"; return 1
}

# Frames the board simulator has received so far.
e2e_board_frames() {
  e2e_board status | sed -n 's/.* frames \([0-9]*\).*/\1/p'
}

# Waits until the monitor is up and exchanging frames with the board simulator,
# so that an input raised from now on is seen as an edge.
e2e_wait_ready() {
  e2e_wait_for "main window shown" 120
  e2e_wait_for "IO board port" 20
  local i=0 limit=$(( 200 * $(e2e_load_factor) ))
  while [ $i -lt $limit ]; do
    [ "$(e2e_board_frames)" -gt $((E2E_FRAMES_MARK + 2)) ] && return 0
    sleep 0.1; i=$((i + 1))
  done
  echo "FAIL: the monitor never exchanged frames with the board"; return 1
}

# Value of a count.ini key.
e2e_count() {
  sed -n "s/^$1=//p" "$APP/count.ini"
}

# Waits up to $3 seconds (default 10, stretched by the load) until count.ini's $1 reads $2, then
# checks it: the counts are written after the outputs are set, so an output seen is not yet a count written.
e2e_wait_count() {
  local i=0 limit=$(( ${3:-10} * 10 * $(e2e_load_factor) ))
  while [ "$(e2e_count "$1" 2>/dev/null)" != "$2" ] && [ $i -lt $limit ]; do
    sleep 0.1; i=$((i + 1))
  done
  e2e_expect "$(e2e_count "$1")" "$2" "count.ini $1"
}

e2e_sql() {
  sqlite3 "$APP/$1" "$2"
}

# Item $2 (from 0) of the space-separated sysparam row $1 of PARAM.db, and setting it to $3.
e2e_param_item() {
  e2e_sql PARAM.db "select value from sysparam where name = '$1'" | awk -v k="$2" '{print $(k + 1)}'
}

e2e_set_param_item() {
  local row; row="$(e2e_sql PARAM.db "select value from sysparam where name = '$1'")"
  row="$(echo "$row" | awk -v k="$2" -v v="$3" '{$(k + 1) = v; print}')"
  e2e_sql PARAM.db "update sysparam set value = '$row' where name = '$1'"
}

# The configuration plants run, started with the board simulator: $1 simulated
# cameras at 1280x1024 with 20 ROIs each, a part in every frame (NG), positioning
# on with a range of $2 degrees.
e2e_start_positioning() {
  e2e_demo_data --frames part --delay 0 --cameras "$1" --rois 20
  e2e_set_param_item system1 3 0
  e2e_set_param_item system5 9 "$2"
  e2e_start_board
  e2e_start
  e2e_wait_for "main window shown" 180
  e2e_wait_for "IO board port" 20
}

e2e_expect() {
  if [ "$1" != "$2" ]; then echo "FAIL: $3: expected '$2', got '$1'"; exit 1; fi
}

# Starts the monitor in its own network namespace under Xvfb at $E2E_SCREEN
# (E2E_MOUNT_NS=1: in a private mount namespace as well; E2E_UNSHARE="-n -i" adds an IPC namespace of its own;
# MM_E2E_WRAP: words put before the program (and its keeper, which knows the monitor by the
# program's name), e.g. "env LD_PRELOAD=..." for a sanitizer's run;
# E2E_KEEPER=1: under the demo's keeper, which stays while the monitor restarts, so that the X server
# does too; the PID file then names the keeper, e2e_monitor_pid the monitor).
e2e_start() {
  local keeper=""
  [ -n "${E2E_KEEPER:-}" ] && keeper="$(python3 -c 'import sys; print(sys.executable)') $(cd "$SRC" && pwd)/assets/demodata/monitor_keeper.py $APP/.safebin/keeper.pid"
  : > "$APP/stdout.log"; : > "$APP/stderr.log"
  rm -f "$MM_PID_FILE"   # an earlier start's PID names no process of this start
  # Frames the board saw from an earlier run are not this run's (see e2e_wait_ready).
  E2E_FRAMES_MARK=0
  [ -n "${E2E_BOARD_PID:-}" ] && E2E_FRAMES_MARK="$(e2e_board_frames)"
  rm -f "$APP"/cnt_net/workspace/log/*.log
  # The development-machine value skips the start-up waits (E2E_HARDWARE_WAITS=1 keeps them).
  local dev_env=/opt/Qt5.15.7/plugins/platforms
  [ -n "${E2E_HARDWARE_WAITS:-}" ] && dev_env=""
  ( cd "$APP" && export PATH="$APP/.safebin:$PATH" MM_IO_DEVICE QT_QPA_PLATFORM_PLUGIN_PATH="$dev_env" keeper &&
    exec unshare ${E2E_UNSHARE:--n} ${E2E_MOUNT_NS:+--mount --propagation private} -- xvfb-run -a -f "$APP/.Xauthority" -s "-screen 0 ${E2E_SCREEN}x24 ${E2E_FBDIR:+-fbdir $E2E_FBDIR}" \
      sh -c '/usr/sbin/ip link set lo up 2>/dev/null; echo $$ > .monitor.pid; exec ${MM_E2E_WRAP:-} ${keeper:-} ./mould-monitor' \
      > "$APP/stdout.log" 2> "$APP/stderr.log" ) &
  E2E_RUNNER=$!
}

# The monitor's PID under the keeper (E2E_KEEPER=1): the keeper's child of that name.
e2e_monitor_pid() {
  local keeper pid
  keeper="$(cat "$MM_PID_FILE")"
  for pid in $(cat "/proc/$keeper/task/$keeper/children" 2>/dev/null); do
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = mould-monitor ] && { echo "$pid"; return 0; }
  done
  return 1
}

# The board simulator and the monitor started, the window shown and the board's port open.
e2e_start_ready() {
  e2e_start_board
  e2e_start
  e2e_wait_ready
}

# Runs xdotool on the monitor's display, inside the monitor's network namespace
# (the X server listens there); the display comes from the monitor's environment.
e2e_x() {
  local pid display
  pid="$(cat "$MM_PID_FILE")"
  display="$(tr '\0' '\n' < "/proc/$pid/environ" | sed -n 's/^DISPLAY=//p')"
  nsenter -t "$pid" -n env DISPLAY="$display" XAUTHORITY="$APP/.Xauthority" xdotool "$@"
}

# A touch at a screen point, and a finger drawn from one point to another (resting $5 seconds first).
e2e_tap() {
  e2e_x mousemove "$1" "$2" click 1
  sleep 0.3
}

e2e_drag() {
  local x1=$1 y1=$2 x2=$3 y2=$4 step
  e2e_x mousemove "$x1" "$y1" mousedown 1
  [ -z "${5:-}" ] || sleep "$5"
  for step in 1 2 3 4 5 6 7 8; do
    e2e_x mousemove $((x1 + (x2 - x1) * step / 8)) $((y1 + (y2 - y1) * step / 8))
  done
  e2e_x mouseup 1
  sleep 0.3
}

# Writes the screen as a PNG (the test must have started with E2E_FBDIR set).
e2e_screenshot() {
  python3 - "${2:-$E2E_FBDIR/Xvfb_screen0}" "$1" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
header = struct.unpack(">25I", data[:100])
size, width, height, bpl, ncolors = header[0], header[4], header[5], header[12], header[19]
pixels = data[size + ncolors * 12:]
rows = []
for y in range(height):
    line = pixels[y * bpl:y * bpl + width * 4]
    rows.append(b"\x00" + bytes(b for i in range(0, len(line), 4) for b in (line[i + 2], line[i + 1], line[i])))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
with open(sys.argv[2], "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + chunk(b"IEND", b""))
PY
}

# Waits up to $2 seconds (stretched by the load) for a text in the monitor's output.
e2e_wait_for() {
  local text="$1" limit=$(( ${2:-60} * $(e2e_load_factor) )) i=0
  while [ $i -lt $((limit * 10)) ]; do
    if grep -qF -- "$text" "$APP/stdout.log" "$APP/stderr.log" "$APP"/cnt_net/workspace/log/*.log 2>/dev/null; then
      return 0
    fi
    if ! kill -0 "$E2E_RUNNER" 2>/dev/null; then break; fi
    sleep 0.1; i=$((i + 1))
  done
  echo "FAIL: '$text' not seen"
  tail -n 50 "$APP/stderr.log" "$APP/stdout.log" "$APP"/cnt_net/workspace/log/LOG_*.log || true
  return 1
}

# True while PID is still a process of this test: its working folder is the test's
# folder or its command line names it. On a busy machine process and thread ids come
# round again within seconds, so a remembered PID may name another test's monitor.
e2e_ours() {
  local pid="${1:-}" cwd
  [ -n "$pid" ] && [ -e "/proc/$pid" ] || return 1
  cwd="$(readlink "/proc/$pid/cwd" 2>/dev/null || true)"
  case "$cwd" in "$APP" | "$APP"/*) return 0 ;; esac
  { tr '\0' ' ' < "/proc/$pid/cmdline"; } 2>/dev/null | grep -qF -- "$APP/"
}

# Sends SIGTERM to the monitor (the process this test started) and returns its exit code.
e2e_stop() {
  local pid; pid="$(cat "$MM_PID_FILE")"
  e2e_ours "$pid" && kill -TERM "$pid"
  local rc=0
  wait "$E2E_RUNNER" || rc=$?
  E2E_RUNNER=""
  e2e_wait_x_gone
  return $rc
}

# A power cut: SIGKILL of the monitor and of the children it has at that moment.
e2e_power_cut() {
  local pid children child
  pid="$(cat "$MM_PID_FILE")"
  children="$(cat /proc/"$pid"/task/*/children 2>/dev/null || true)"
  E2E_CUT_AT="$(date +%s.%N)"
  e2e_ours "$pid" && kill -KILL "$pid"
  for child in $children; do e2e_ours "$child" && kill -KILL "$child" 2>/dev/null || true; done
  wait "$E2E_RUNNER" || true
  E2E_RUNNER=""
  e2e_wait_x_gone
}

# xvfb-run ends its X server without waiting for it. A server on its way out removes its
# frame-buffer file, which by then can be the file of the next start's server: the next
# start waits until this run's server (the one with the test's auth file) has gone.
e2e_wait_x_gone() {
  local i=0
  while pgrep -f -- "-auth $APP/.Xauthority" > /dev/null; do
    i=$((i + 1))
    [ $i -lt 100 ] || { pkill -KILL -f -- "-auth $APP/.Xauthority" || true; sleep 0.2; return 0; }
    sleep 0.1
  done
}

e2e_cleanup() {
  local rc=$? status=0
  e2e_end_groups "${E2E_LISTENER:-}"
  [ -n "${E2E_BOARD_PID:-}" ] && e2e_ours "$E2E_BOARD_PID" && kill "$E2E_BOARD_PID" 2>/dev/null || true
  if [ -n "${E2E_RUNNER:-}" ] && kill -0 "$E2E_RUNNER" 2>/dev/null; then
    # The monitor may not have written its PID yet (a test failing early): asked again until
    # the runner ends, and the runner and its X server ended after ten seconds.
    local i=0
    while kill -0 "$E2E_RUNNER" 2>/dev/null && [ $i -lt 100 ]; do
      [ -f "$MM_PID_FILE" ] && e2e_ours "$(cat "$MM_PID_FILE")" && kill -KILL "$(cat "$MM_PID_FILE")" 2>/dev/null || true
      sleep 0.1; i=$((i + 1))
    done
    kill -KILL "$E2E_RUNNER" 2>/dev/null || true
    pkill -KILL -f -- "-auth $APP/.Xauthority" 2>/dev/null || true
    wait "$E2E_RUNNER" 2>/dev/null || true
  elif [ -n "${E2E_RUNNER:-}" ] && [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ]; then
    # The monitor ended before the failing test did: how (128 + a signal's number when
    # a signal ended it), and its last words, before its folder goes.
    wait "$E2E_RUNNER" 2>/dev/null || status=$?
    echo "the monitor ended before the test, exit status $status; the end of its output:"
    tail -n 20 "$APP/stderr.log" "$APP/stdout.log" 2>/dev/null || true
  fi
  # KEEP_E2E=1 keeps every test's folder, KEEP_E2E=failed only a failed test's.
  if [ -n "${KEEP_E2E:-}" ] && { [ "$KEEP_E2E" != failed ] || { [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ]; }; }; then
    echo "the test's folder is kept: $APP"
  else
    rm -rf "$APP"
  fi
}

# Runs a command in the monitor's network namespace.
in_netns() {
  nsenter --net="/proc/$(cat "$MM_PID_FILE")/ns/net" -- "$@"
}

in_netns_bg() {
  # Started in the background in a process group of its own: $! is the command itself and leads
  # the group, so killing it, or the group, ends it and what it started.
  setsid nsenter --net="/proc/$(cat "$MM_PID_FILE")/ns/net" -- "$@" &
}

# Ends the process groups led by the given PIDs (from in_netns_bg), each only while it is
# still this script's child: a child that ended and was reaped leaves its PID free for
# another test's process.
e2e_end_groups() {
  local pid stat fields
  for pid in "$@"; do
    [ -n "$pid" ] && stat="$(cat "/proc/$pid/stat" 2>/dev/null)" || continue
    read -r -a fields <<< "${stat##*) }"   # state, parent, ...
    [ "${fields[1]}" = "$$" ] && kill -- -"$pid" 2>/dev/null || true
  done
}

# POSTs a JSON body (default {}) to a route of the HTTP API from inside the monitor's
# namespace and prints the body of the answer.
e2e_api() {
  local body="${2:-}"
  in_netns curl -s --max-time 10 -H 'Content-Type: application/json' --data-binary "${body:-{\}}" \
    "http://127.0.0.1:10100/v18/http/$1"
}

# A subscriber of both pushed topics (cycle records and pictures) in the monitor's namespace
# (tests/netservices/subscriber_listener.py, options: the arguments), every request it receives
# one JSON line in $APP/subscriber.out (tests/e2e/pushed.py reads them). The monitor must run
# with the API on (e2e_api_on); E2E_LISTENER leads its process group, e2e_cleanup ends it.
e2e_subscribe() {
  in_netns_bg python3 "$SRC/tests/netservices/subscriber_listener.py" "$@" > "$APP/subscriber.out" 2> "$APP/subscriber.err"
  E2E_LISTENER=$!
  local i=0 port topic entries=""
  while [ ! -s "$APP/subscriber.out" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  port="$(head -1 "$APP/subscriber.out")"
  for topic in detected_info detected_picture; do
    entries="$entries${entries:+,}{\"subscriber_ip\":\"127.0.0.1\",\"subscriber_port\":$port,\"subscriber_topic\":\"$topic\"}"
  done
  i=0
  # The API answers once the hub has started after the main window.
  until e2e_api subscriber_baseinfo "{\"subscriber\":[$entries]}" | grep -q "127.0.0.1;$port;detected_picture"; do
    i=$((i + 1))
    [ $i -lt 50 ] || { echo "FAIL: the subscription was not taken"; return 1; }
    sleep 0.2
  done
}

# The API on, the board simulator and the monitor started and exchanging frames, and a
# subscriber of both pushed topics taken (e2e_subscribe).
e2e_start_subscribed() {
  e2e_api_on
  e2e_start_ready
  e2e_subscribe
}

# Multi-detection (trigger mode 3) for the next start: $1 detections, detection d on IO row d,
# row d triggered by the input choice that is word d of $2 (0: input 1, 1: input 3, ...; the
# last word serves the rows after it), delays in tenths of a second from $3 (missing ones 0).
e2e_multi_detection() {
  local count=$1 d choice choices=($2) delays=($3) tenths=""
  e2e_set_param_item numFailDetect 0 3
  e2e_set_param_item system8 0 "$count"
  for d in 0 1 2 3 4 5 6 7; do
    choice="${choices[$d]:-${choices[-1]}}"
    e2e_set_param_item system8 $((d + 1)) "$choice"
    e2e_set_param_item system9 "$d" "$([ $d -lt "$count" ] && echo $d || echo -1)"
    tenths="$tenths${tenths:+ }${delays[$d]:-0}"
  done
  e2e_sql PARAM.db "update sysparam set value = '$tenths' where name = 'trigInDelay'"
}

# What the subscriber of e2e_subscribe was pushed (lines of tests/e2e/pushed.py), once it
# holds $1 cycle records or after $2 seconds (default 10, stretched by the load).
e2e_pushed() {
  local i=0 limit=$(( ${2:-10} * 10 * $(e2e_load_factor) ))
  while [ "$(python3 "$SRC/tests/e2e/pushed.py" "$APP/subscriber.out" | grep -c '^record')" -lt "$1" ] \
    && [ $i -lt $limit ]; do
    sleep 0.1; i=$((i + 1))
  done
  python3 "$SRC/tests/e2e/pushed.py" "$APP/subscriber.out"
}

# Paces the machine through the board simulator: $1 moulds, $2 seconds apart; the other words are
# "OFFSET:BOARD COMMAND", the events of each mould (offsets in seconds from its start). Returns
# when the last mould's period is over.
e2e_moulds() {
  local count=$1 period=$2
  shift 2
  python3 - "$APP/ioboard.sock" "$count" "$(e2e_slow "$period")" "$(e2e_slow 1)" "$@" <<'PY'
import socket, sys, time
path, count, period, slow, events = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), sys.argv[5:]
plan = sorted((float(e.split(":", 1)[0]) * slow, e.split(":", 1)[1]) for e in events)
start = time.monotonic()
for mould in range(count):
    for offset, command in plan:
        time.sleep(max(0.0, start + mould * period + offset - time.monotonic()))
        s = socket.socket(socket.AF_UNIX)
        s.connect(path)
        s.sendall(command.encode() + b"\n")
        s.makefile().readline()
        s.close()
time.sleep(max(0.0, start + count * period - time.monotonic()))
PY
}

# Moves the demo's ROIs and template from detection 2 to detection 1 of camera 1 (the next start).
e2e_rois_to_detection1() {
  local detect1
  detect1="$(e2e_sql PARAM.db "select value from cammer0 where name = 'detect1'")"
  e2e_sql PARAM.db "update cammer0 set value = '$detect1' where name = 'detect0';
    update cammer0 set value = '0 0 0 0 0 0 0 0 0' where name = 'detect1';
    update cammer0 set name = replace(name, 'ROI1-', 'ROI0-') where name like 'ROI1-%'"
  mkdir -p "$APP/cammer11"
  cp "$APP/cammer12/template0.bmp" "$APP/cammer11/"
}

# The monitor's log lines that contain $1, counted once there are $2 (default 1) or after $3
# seconds (default 3, stretched by the load): the log reaches its file up to a second after the
# line was written. With $4 = all: in the logs of every start (a start archives the one before).
e2e_log_count() {
  local i=0 n limit=$(( ${3:-3} * 10 * $(e2e_load_factor) )) files="LOG_*.log"
  [ "${4:-}" = all ] && files="*_*"
  while n="$(cat "$APP"/cnt_net/workspace/log/$files 2>/dev/null | grep -cF -- "$1" || true)" \
    && [ "$n" -lt "${2:-1}" ] && [ $i -lt $limit ]; do
    sleep 0.1; i=$((i + 1))
  done
  echo "$n"
}

# What every store says of the moulds so far, once $1 cycle records were pushed (e2e_pushed) and
# count.ini's NG cycles read $1 (up to 10 s): count.ini's cycles, NG cycles, steps and NG steps of
# camera 1, gSyncNGNum and gSyncNGcycleNum; Modbus' inspections and NGs; the product-info route's
# NG cycles; the pushed records (NG of all); RECORD.db's NG lines. Started with e2e_start_subscribed.
e2e_stores() {
  local i=0 limit=$(( 100 * $(e2e_load_factor) ))
  while [ "$(e2e_count gSyncNGcycleNum 2>/dev/null)" != "$1" ] && [ $i -lt $limit ]; do sleep 0.1; i=$((i + 1)); done
  local first; first() { e2e_count "$1" | cut -d, -f1; }
  echo "cycles $(first list_allcyclenum)/$(first list_failcyclenum) steps $(first list_allnum)/$(first list_failnum)" \
    "gSync $(e2e_count gSyncNGNum)/$(e2e_count gSyncNGcycleNum)" \
    "modbus $(in_netns python3 "$SRC/tests/e2e/modbus_client.py" 502 read 4 | cut -d' ' -f3- | tr ' ' /)" \
    "route $(e2e_api get_product_infos | python3 -c 'import json, sys; r = json.load(sys.stdin)["result"]; print("%d/%d" % (r["detect_all"], r["detect_ng"]))')" \
    "pushed $(e2e_pushed "$1" 5 | awk '$1 == "record" {n++; ng += $3 == "NG"} END {print n + 0 "/" ng + 0}')" \
    "records $(e2e_sql RECORD.db "select count(*) from RECORD where remarks like 'NG%'")"
}

# Machine cycles (all, NG) of a statistics day file (default: the live day), as "all NG".
e2e_stats_cycles() {
  python3 - "$APP/${1:-ResStatistics.db}" <<'PY'
import json, sqlite3, sys
row = sqlite3.connect(sys.argv[1]).execute("select value1 from resstatistics where name='statisticsjson'").fetchone()
ok = ng = 0
for group in json.loads(row[0])["groups"] if row else []:
    for camera in group["datas"]:
        for entry in camera["data"] if camera["cameraID"] == -1 else []:
            if entry["detectID"] == -1:
                ok += sum(entry["OK"]); ng += sum(entry["NG"])
print(ok + ng, ng)
PY
}

# Two cameras for the next start: camera 1 sees the part and is lost each time lose.flag appears,
# back after $1 failed reconnects (one a second; -1: never); camera 2 sees the empty mould.
e2e_two_cameras_part_lost() {
  e2e_demo_data --frames part --delay 0 --cameras 2
  python3 - "$APP/Plugins/Cameras/simcamera.json" "$1" <<'PY'
import json, sys
path = sys.argv[1]
config = json.load(open(path))
one, two = config["real"]
one.update(lossWhenFile="../../lose.flag", reconnectFailures=int(sys.argv[2]))
two["frames"] = [f.replace("part", "empty") for f in two["frames"]]
json.dump(config, open(path, "w"), indent=2)
PY
}
