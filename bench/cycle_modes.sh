#!/usr/bin/env bash
# What the whole program makes of machine cycles in the trigger setups where the cycle has gone
# wrong before, with the IO board simulator and a subscriber of both pushed topics (records and
# pictures), each setup a fresh program in its own network namespace. One table row per setup:
#   recheck   multi-detection, 3 detections on input 1, delays 0.5/1.0/1.1 s, 2 rechecks 0.5 s apart
#   lost      mould detection only; the camera is lost for good while an NG alarm stands
#   order     multi-detection, 3 detections on input 1, delays 0.5/0.5/0 s
#   door      product and mould detection, the safety door (input 2) triggers a check 1.5 s in
#   redetect  product and mould detection, one NG alarm lifted by Multi-screen -> Re-detected
#   stopped   multi-detection on inputs 1 and 3, input 1 stops coming after two moulds
# Only detection 2 (the mould detection) has ROIs. The safety door, which lifts an NG alarm,
# is opened in every mould of recheck and order, so that every NG can raise the outputs anew.
# A benchmark, not a test.
#   bench/cycle_modes.sh [BUILD] [SRC] [setup...]     (default: all six)
set -euo pipefail
BUILD="$(cd "${1:-$(dirname "$0")/../build}" && pwd)"
SRC="$(cd "${2:-$(dirname "$0")/..}" && pwd)"
ALL_SETUPS="recheck lost order door redetect stopped"

if [ "${CYCLE_MODES_SETUP:-}" = "" ]; then
  shift $(( $# < 2 ? $# : 2 ))
  echo "| setup | moulds | records pushed (ids) | NG records pushed | NG steps | clamp / alarm raised" \
       "| cycles counted | NG cycles (ini / gSync / route) | gSyncNGNum | NG pictures saved / pushed | also |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|"
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
    e2e_demo_data --frames part --delay 0
    e2e_multi_detection 3 "0" "5 10 11"
    e2e_set_param_item system1 6 2      # recheckTimes
    e2e_set_param_item system14 1 5     # recheckDelay, tenths
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
esac
# The last cycle's pictures and pushes.
sleep "$(e2e_slow 3)"
ng_route="$(e2e_api get_product_infos | python3 -c 'import json, sys; print(json.load(sys.stdin)["result"]["detect_ng"])' \
  2>/dev/null || echo "?")"
python3 "$SRC/tests/e2e/pushed.py" "$APP/subscriber.out" > "$APP/pushed.txt"

python3 - "$APP" "$SETUP" "$MOULDS" "$ng_route" <<'PY'
import datetime, glob, os, re, sqlite3, sys
app, setup, moulds, ng_route = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]

def log_lines():
    for path in glob.glob(os.path.join(app, "cnt_net/workspace/log/LOG_*.log")):
        for line in open(path, errors="replace"):
            if line.startswith("I2"):
                yield datetime.datetime.strptime(line[1:22], "%Y%m%d %H:%M:%S.%f"), line

outs = []
for line in open(os.path.join(app, "io-record.log")):
    wall, _, kind, word = line.split()
    if kind == "out":
        outs.append((datetime.datetime.fromisoformat(wall), int(word, 16)))
def on_edges(bit):
    edges, last = [], 0
    for when, word in outs:
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

print("| %s | %d | %d (%d) | %d | %d | %d / %d | %s | %s / %s / %s | %s | %d / %d | %s |" % (
    setup, moulds, len(records), len({r[1] for r in records}), sum(1 for r in records if r[2] == "NG"), ng_steps,
    len(on_edges(1)), len(on_edges(4)), first("list_allcyclenum"), first("list_failcyclenum"),
    count.get("gSyncNGcycleNum", "?"), ng_route, count.get("gSyncNGNum", "?"), saved,
    sum(1 for p in pictures if p[4] == "NG"), "; ".join(also) or "-"))
PY
e2e_stop > /dev/null || true
