#!/usr/bin/env bash
# What the whole program makes of machine cycles in the trigger setups where the cycle has gone
# wrong before, with the IO board simulator and a subscriber of both pushed topics (records and
# pictures), each setup a fresh program in its own network namespace. One table row per setup:
#   recheck     multi-detection, 3 detections on input 1, delays 0.5/1.0/1.1 s, 2 rechecks 0.5 s apart
#   lost        mould detection only; the camera is lost for good while an NG alarm stands
#   order       multi-detection, 3 detections on input 1, delays 0.5/0.5/0 s
#   door        product and mould detection, the safety door (input 2) triggers a check 1.5 s in
#   redetect    product and mould detection, one NG alarm lifted by Multi-screen -> Re-detected
#   stopped     multi-detection on inputs 1 and 3, input 1 stops coming after two moulds
#   lostng      2 cameras, mode 0: camera 1 sees the part, camera 2 an empty mould; after two NG
#               moulds camera 1 is lost, one mould is checked without it, then it comes back
#   lostngmulti the same in multi-detection (two detections on input 1)
#   precut      recheck with pre-cut 0.3 s, the door at 2.6 s
#   precutorder the same with delays 1.0/1.0/0.5 s (out of number order)
#   recheckwait mode 0, delay 0.5 s, 2 rechecks 0.5 s apart, a mould every 1.0 s
#   twoinputs   detection 1 on input 1 with the ROIs, detection 2 on input 3 without, 2 rechecks
#               0.5 s, a mould every 0.8 s
#   fastmulti   multi-detection, delays 0.1/0.2/0.3 s, 1 recheck 0.2 s, a mould every 0.4 s
#   doorrecheck door with 2 rechecks 0.5 s apart and the door at 1.2 s, while the mould detection
#               waits for its recheck
#   load        8 cameras, a trigger every 0.3 s (100 ms pulse) for 60 s, the door after each,
#               CYCLE_MODES_BUSY (default 8) busy loops on the cores
# Only detection 2 (the mould detection) has ROIs, except in twoinputs. A part lies in every frame
# unless the setup says otherwise. The safety door, which lifts an NG alarm, is opened in every
# mould of recheck, order and precut, so that every NG can raise the outputs anew.
# A benchmark, not a test.
#   bench/cycle_modes.sh [BUILD] [SRC] [setup...]     (default: all)
set -euo pipefail
BUILD="$(cd "${1:-$(dirname "$0")/../build}" && pwd)"
SRC="$(cd "${2:-$(dirname "$0")/..}" && pwd)"
ALL_SETUPS="recheck lost order door redetect stopped lostng lostngmulti precut precutorder recheckwait twoinputs fastmulti doorrecheck load"

if [ "${CYCLE_MODES_SETUP:-}" = "" ]; then
  shift $(( $# < 2 ? $# : 2 ))
  echo "| setup | moulds | records pushed (ids) | NG records pushed | NG steps | clamp / alarm raised" \
       "| cycles counted | NG cycles (ini / gSync / route) | statistics cycles (all / NG) | gSyncNGNum" \
       "| NG pictures saved / pushed | \"not inspected\" | load average | also |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
  failed=0
  out="$(mktemp /tmp/cycle_modes-XXXXXX)"
  for setup in ${*:-$ALL_SETUPS}; do
    case " $ALL_SETUPS " in *" $setup "*) ;; *) echo "unknown setup: $setup (one of: $ALL_SETUPS)" >&2; exit 2 ;; esac
    # A process of its own per setup: its trap ends what it started, also when it fails.
    if ! CYCLE_MODES_SETUP="$setup" bash "$0" "$BUILD" "$SRC" > "$out" 2>&1; then
      failed=1
      echo "| $setup | failed: $(grep -m1 FAIL "$out" || tail -1 "$out") |"
    else
      grep '^|' "$out"
    fi
  done
  rm -f "$out"
  exit $failed
fi

. "$SRC/tests/e2e/lib.sh"
SETUP="$CYCLE_MODES_SETUP"
e2e_setup
MOULDS=0
LOAD_START="$(cut -d' ' -f1 /proc/loadavg)"
# Lines for the row's last column, gathered while the setup runs.
: > "$APP/also.txt"
BUSY_PIDS=""
trap 'rc=$?; e2e_end_groups $BUSY_PIDS; (exit $rc); e2e_cleanup' EXIT

route_field() {
  e2e_api get_product_infos | python3 -c "import json, sys; print(json.load(sys.stdin)['result']['$1'])" 2>/dev/null || echo "?"
}

# Multi-detection, 3 detections on input 1 with the delays $1 (tenths), 2 rechecks 0.5 s apart.
three_rechecked() {
  e2e_demo_data --frames part --delay 0
  e2e_multi_detection 3 "0" "$1"
  rechecks 2 5
}

# $1 rechecks, $2 tenths of a second apart.
rechecks() {
  e2e_set_param_item system1 6 "$1"   # recheckTimes
  e2e_set_param_item system14 1 "$2"  # recheckDelay
}

# $1 moulds, $2 seconds apart, each with the board commands of the other words (e2e_moulds).
moulds() {
  e2e_moulds "$@"
  MOULDS=$((MOULDS + $1))
}

# Multi-screen, then Re-detected in the alarm box that it opens over a standing alarm (the
# places are those of the 1920x1080 screen).
redetect_by_hand() {
  local before windows
  before="$(e2e_x search --onlyvisible --name "" 2>/dev/null | wc -l)"
  # The panel hides itself after a while; a tap on the camera view calls it up.
  if [ "$(python3 "$SRC/tests/e2e/screenpoints.py" pixel "$E2E_FBDIR/Xvfb_screen0" 1799 135)" = "0 0 0" ]; then
    e2e_tap 480 540; sleep 0.5
  fi
  e2e_tap 1799 135
  local i=0
  while windows="$(e2e_x search --onlyvisible --name "" 2>/dev/null)" && [ "$(echo "$windows" | wc -l)" -le "$before" ]; do
    i=$((i + 1)); [ $i -lt 50 ] || { echo "FAIL: the alarm box did not open"; return 1; }
    sleep 0.1
  done
  sleep 0.5
  # Title, then Don't Detect, Add As Temp and Re-detected: the third button, 247 px into the box.
  eval "$(e2e_x getwindowgeometry --shell "$(echo "$windows" | tail -1)" | sed -n 's/^\(X\|Y\|WIDTH\)=/B_\1=/p')"
  e2e_tap $((B_X + B_WIDTH / 2)) $((B_Y + 247))
  i=0
  until [ "$(e2e_sql RECORD.db "select count(*) from RECORD where remarks = 'alarm cleared'")" = 1 ]; do
    i=$((i + 1)); [ $i -lt 50 ] || { echo "FAIL: Re-detected was not taken"; return 1; }
    sleep 0.1
  done
}

case "$SETUP" in
  recheck)
    three_rechecked "5 10 11"
    e2e_start_subscribed
    moulds 6 3 "0:pulse 0" "2.6:pulse 1"
    ;;
  lost)
    e2e_demo_data --frames part --delay 0 --lost-file lose.flag --reconnect-failures -1
    e2e_start_subscribed
    moulds 2 2 "0:pulse 0"
    touch "$APP/lose.flag"
    e2e_wait_for "lsotCamera" 10
    sleep "$(e2e_slow 1.5)"
    moulds 4 2 "0:pulse 0"
    ;;
  order)
    e2e_demo_data --frames part --delay 0
    e2e_multi_detection 3 "0" "5 5 0"
    e2e_start_subscribed
    moulds 10 3 "0:pulse 0" "2.6:pulse 1"
    ;;
  door)
    e2e_demo_data --frames mix --delay 5
    e2e_set_param_item system1 1 1      # enableProdDetect
    e2e_set_param_item system3 10 1     # safetyDoorTrigger
    e2e_start_subscribed
    moulds 13 3 "0:pulse 0" "1.5:pulse 1"
    ;;
  redetect)
    command -v xdotool > /dev/null || { echo "FAIL: xdotool missing (scripts/install-deps)"; exit 1; }
    export E2E_FBDIR="$APP/screen" E2E_SCREEN=1920x1080
    mkdir -p "$E2E_FBDIR"
    e2e_demo_data --frames part --delay 5
    e2e_set_param_item system1 1 1
    e2e_start_subscribed
    moulds 3 3 "0:pulse 0"
    redetect_by_hand
    sleep "$(e2e_slow 2)"
    moulds 7 3 "0:pulse 0"
    ;;
  stopped)
    e2e_demo_data --frames mix --delay 5
    e2e_multi_detection 2 "0 1" "5 5"
    e2e_start_subscribed
    moulds 2 3 "0:pulse 0" "0:pulse 2"
    moulds 8 3 "0:pulse 2"
    ;;
  lostng|lostngmulti)
    e2e_two_cameras_part_lost 3
    [ "$SETUP" = lostng ] || e2e_multi_detection 2 "0" "0 0"
    e2e_start_subscribed
    moulds 2 2 "0:pulse 0"
    touch "$APP/lose.flag"
    e2e_wait_for "lsotCamera" 10
    moulds 1 1.5 "0:pulse 0"
    echo "while lost: outputs $(printf 0x%02x $(( $(e2e_out_word) & 0xff ))), Modbus register 1 =" \
      "$(in_netns python3 "$SRC/tests/e2e/modbus_client.py" 502 read 2 | cut -d' ' -f2), detect_status $(route_field detect_status)" \
      >> "$APP/also.txt"
    e2e_wait_for "reconnect." 15
    sleep "$(e2e_slow 1)"
    echo "camera 1 back: outputs $(printf 0x%02x $(( $(e2e_out_word) & 0xff )))" >> "$APP/also.txt"
    moulds 1 2 "0:pulse 0"
    ;;
  precut|precutorder)
    three_rechecked "$([ "$SETUP" = precut ] && echo "5 10 11" || echo "10 10 5")"
    e2e_set_param_item system1 5 3      # preCutTime, tenths
    e2e_start_subscribed
    moulds 6 3 "0:pulse 0" "2.6:pulse 1"
    ;;
  recheckwait)
    e2e_demo_data --frames part --delay 5
    rechecks 2 5
    e2e_start_subscribed
    moulds 8 1 "0:pulse 0"
    ;;
  twoinputs)
    e2e_demo_data --frames part --delay 0
    e2e_multi_detection 2 "0 1" "0 0"
    e2e_rois_to_detection1
    rechecks 2 5
    e2e_start_subscribed
    moulds 8 0.8 "0:pulse 0" "0.2:pulse 2"
    ;;
  fastmulti)
    e2e_demo_data --frames part --delay 0
    e2e_multi_detection 3 "0" "1 2 3"
    rechecks 1 2
    e2e_start_subscribed
    moulds 20 0.4 "0:pulse 0"
    ;;
  doorrecheck)
    e2e_demo_data --frames part --delay 5
    e2e_set_param_item system1 1 1      # enableProdDetect
    e2e_set_param_item system3 10 1     # safetyDoorTrigger
    rechecks 2 5
    e2e_start_subscribed
    moulds 5 3 "0:pulse 0" "1.2:pulse 1"
    ;;
  load)
    e2e_demo_data --frames part --delay 0 --cameras 8
    e2e_start_subscribed
    sleep 1
    for _ in $(seq 1 "${CYCLE_MODES_BUSY:-8}"); do
      setsid timeout 90 sh -c 'while :; do :; done' &
      BUSY_PIDS="$BUSY_PIDS $!"
    done
    MOULDS="$(python3 "$SRC/tests/e2e/cycle_triggers.py" "$APP/ioboard.sock" 60 0.3)"
    echo "load average at the last pulse: $(cut -d' ' -f1 /proc/loadavg)" >> "$APP/also.txt"
    e2e_end_groups $BUSY_PIDS
    BUSY_PIDS=""
    ;;
esac
# The last cycle's pictures and pushes.
sleep "$(e2e_slow 3)"
ng_route="$(route_field detect_ng)"
python3 "$SRC/tests/e2e/pushed.py" "$APP/subscriber.out" > "$APP/pushed.txt"
# The statistics are read from their file once the monitor has stopped and saved them.
e2e_stop > /dev/null || true
stats="$(e2e_stats_cycles 2>/dev/null | tr ' ' / || echo "?")"

python3 - "$APP" "$SETUP" "$MOULDS" "$ng_route" "$stats" "$LOAD_START" <<'PY'
import datetime, glob, os, re, sqlite3, sys
app, setup, moulds, ng_route, stats, load = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5], sys.argv[6]

def log_lines():
    for path in glob.glob(os.path.join(app, "cnt_net/workspace/log/LOG_*.log")):
        for line in open(path, errors="replace"):
            if line[:1] in "IWE" and line[1:2] == "2":
                # A line of a kind the log folded stands for the lines it held back.
                folded = re.search(r" \.\.\. repeated ([\d,]+) times$", line.rstrip())
                for _ in range(int(folded.group(1).replace(",", "")) if folded else 1):
                    yield datetime.datetime.strptime(line[1:22], "%Y%m%d %H:%M:%S.%f"), line

outs, ins = [], []
for line in open(os.path.join(app, "io-record.log")):
    wall, _, kind, word = line.split()
    (outs if kind == "out" else ins).append((datetime.datetime.fromisoformat(wall), int(word, 16)))
def on_edges(bit, words=outs):
    edges, last = [], 0
    for when, word in words:
        if word & bit and not last & bit:
            edges.append(when)
        last = word
    return edges

count = dict(line.strip().split("=", 1) for line in open(os.path.join(app, "count.ini")) if "=" in line)
first = lambda key: count.get(key, "?").split(",")[0].strip()
records = [l.split() for l in open(os.path.join(app, "pushed.txt")) if l.startswith("record")]
pictures = [l.split() for l in open(os.path.join(app, "pushed.txt")) if l.startswith("picture")]
ng_steps = sqlite3.connect(os.path.join(app, "RECORD.db")).execute(
    "select count(*) from RECORD where recordtype = 'run' and remarks like 'NG:%'").fetchone()[0]
saved = len(glob.glob(os.path.join(app, "alarmimage/camera*/detect*/NG/*.jpg")))

also = []
if setup == "recheck":
    ngs = [t for t, l in log_lines() if "detection 2: NG" in l]
    clamps = [t for t in on_edges(1) if ngs and t >= ngs[0]]
    also.append("first NG to first clamp %s" % ("%.1f s" % (clamps[0] - ngs[0]).total_seconds() if clamps else "never"))
if setup == "lost":
    lost = [t for t, l in log_lines() if "lsotCamera" in l]
    if lost:
        # The word in force when the camera went, and every word after it.
        before = [w for t, w in outs if t < lost[0]]
        after = before[-1:] + [w for t, w in outs if t >= lost[0]]
        also.append("alarm output %s" % ("stayed on" if after and all(w & 4 for w in after) else "went off"))
        checks = sum(1 for t, l in log_lines() if t > lost[0] and re.search(r"detection \d+: OK", l))
        pushed = [r for r in records if float(r[4]) > lost[0].timestamp()]
        also.append("while lost: %d checks logged OK, %d records pushed (%d OK)" % (
            checks, len(pushed), sum(1 for r in pushed if r[2] == "OK")))
    else:
        also.append("the camera was never lost")
if setup == "redetect":
    also.append("one Re-detect")
lines = list(log_lines())
check_re = re.compile(r"detection \d+: (recheck \d+: )?(NG|OK), checked in")
if setup in ("precut", "precutorder"):
    # Per mould (input 1 edge): the clamp's time off between its first rise and the door (input 2).
    doors, gaps = on_edges(2, ins), []
    for edge in on_edges(1, ins):
        door = next((d for d in doors if d > edge), None)
        words = [(t, w) for t, w in outs if t > edge and (door is None or t < door)]
        rise = next((t for t, w in words if w & 1), None)
        off, gap = None, 0.0
        for t, w in words:
            if rise is None or t < rise:
                continue
            if not w & 1 and off is None:
                off = t
            elif w & 1 and off is not None:
                gap, off = gap + (t - off).total_seconds(), None
        if off is not None and door is not None:
            gap += (door - off).total_seconds()
        gaps.append(gap)
    off = [g for g in gaps if g > 0]
    also.append("clamp off between pre-cut and the door in %d of %d moulds%s" % (
        len(off), len(gaps), ", %.2f s at most" % max(off) if off else ""))
if setup in ("lostng", "lostngmulti", "twoinputs", "recheckwait", "doorrecheck"):
    also.append("records in order: %s" % " ".join(r[2] for r in records))
if setup in ("recheckwait", "twoinputs", "fastmulti", "doorrecheck"):
    also.append("NG confirmed by the next mould: %d" % sum(1 for _, l in lines if "the next mould came before the recheck" in l))
if setup == "recheckwait":
    edges = on_edges(1, ins)
    clamps = on_edges(1)
    if len(edges) > 1:
        also.append("first clamp %s" % ("%+.2f s from the second trigger" % (clamps[0] - edges[1]).total_seconds()
                                         if clamps else "never"))
if setup in ("fastmulti", "load"):
    ids = {r[1] for r in records}
    also.append("cycle ids with pictures but no record: %d" % len({p[1] for p in pictures} - ids))
if setup in ("door", "doorrecheck"):
    also.append("door checks given %d" % len(on_edges(2, ins)))
if setup == "load":
    given = len(on_edges(1, ins))
    checks = sum(1 for _, l in lines if check_re.search(l) and "recheck" not in l)
    refused = sum(1 for _, l in lines if "trigger not inspected" in l)
    also.append("pulses given %d, checks %d (%.0f %%), silent %d" % (
        given, checks, 100.0 * checks / given if given else 0, given - checks - refused))
also += [l.strip() for l in open(os.path.join(app, "also.txt")) if l.strip()]
also.append("checks logged (with rechecks) %d" % sum(1 for _, l in lines if check_re.search(l)))
uninspected = sum(1 for _, l in lines if "not inspected" in l)

print("| %s | %d | %d (%d) | %d | %d | %d / %d | %s | %s / %s / %s | %s | %s | %d / %d | %d | %s | %s |" % (
    setup, moulds, len(records), len({r[1] for r in records}), sum(1 for r in records if r[2] == "NG"), ng_steps,
    len(on_edges(1)), len(on_edges(4)), first("list_allcyclenum"), first("list_failcyclenum"),
    count.get("gSyncNGcycleNum", "?"), ng_route, stats, count.get("gSyncNGNum", "?"), saved,
    sum(1 for p in pictures if p[4] == "NG"), uninspected, load, "; ".join(also) or "-"))
PY
