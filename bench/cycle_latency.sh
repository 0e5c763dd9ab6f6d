#!/usr/bin/env bash
# Trigger-to-output latency of the whole program, positioning on with the
# plants' +-2 degree range and with shift only, measured with the IO board
# simulator: from the trigger input edge (delay 0) to the NG output word on the
# line, for 1 and 8 simulated cameras at 1280x1024 with 20 ROIs each (median and
# spread), split at the check's start and end (from its log line), beside the
# checks' own time and the lateness of the 100 ms cycle timer. With 8 cameras it then measures, with no trigger for 10 s,
# the GUI thread's and the whole program's CPU share and the resident memory by
# kind. A benchmark, not a test.
#   bench/cycle_latency.sh [BUILD_DIR] [ROUNDS] [ANGLE_RANGES]   (default "2 0")
set -euo pipefail
SRC="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$SRC/build}" && pwd)"
ROUNDS="${2:-20}"
ANGLES="${3:-2 0}"
IDLE_SECONDS=10
. "$SRC/tests/e2e/lib.sh"
e2e_setup

# Positioning on (motion correction 0) with an angle range in degrees (0: shift only).
positioning_on() {
  e2e_set_param_item system1 3 0
  e2e_set_param_item system5 9 "$1"
}

report() {
  python3 - "$APP/io-record.log" "$APP"/cnt_net/workspace/log/LOG_*.log "$1" "$2" <<'PY'
import datetime, re, statistics, sys
record, logs, cams, angle = sys.argv[1], sys.argv[2:-2], sys.argv[-2], sys.argv[-1]
latencies, cycles, pending, last_in = [], [], None, 0
for line in open(record):
    wall, ms, kind, word = line.split()
    ms, word, wall = int(ms), int(word, 16), datetime.datetime.fromisoformat(wall)
    if kind == "in":
        if word & 1 and not last_in & 1:
            pending = (ms, wall)
        last_in = word
    elif kind == "out" and word & 1 and pending is not None:
        latencies.append(ms - pending[0])
        cycles.append((pending[1], wall))
        pending = None
checks, engine, lateness, finds, decided = [], [], [], 0, []
for log in logs:
    for line in open(log, errors="replace"):
        m = re.search(r"detection \d+: NG, checked in (\d+) ms, engine ([\d/]+) ms", line)
        if m:
            decided.append((datetime.datetime.strptime(line[1:22], "%Y%m%d %H:%M:%S.%f"), int(m.group(1))))
            checks.append(int(m.group(1)))
            engine.append(max(int(v) for v in m.group(2).split("/")))
        m = re.search(r"cycle timer: \d+ passes, lateness mean ([\d.]+) ms, max (\d+) ms", line)
        if m:
            lateness.append((float(m.group(1)), int(m.group(2))))
        if "OK\u8fd0\u884c\u65f6\u95f4" in line:
            finds += 1
def spread(v):
    if not v:
        return "-"
    q = statistics.quantiles(v, n=10) if len(v) > 1 else [v[0]] * 9
    return "median %.0f ms (p10 %.0f, p90 %.0f, min %d, max %d, n=%d)" % (
        statistics.median(v), q[0], q[-1], min(v), max(v), len(v))
print("%s camera(s), positioning on, +-%s degrees (%d finds): trigger->NG output %s" % (
    cams, angle, finds, spread(latencies)))
print("  detection checked in %s; slowest camera's engine %s" % (spread(checks), spread(engine)))
# The split by wall clock (the record's stamps are whole ms): the NG line is written as the check ends.
to_start, to_out = [], []
for edge, out in cycles:
    ends = [(end, took) for end, took in decided if edge < end <= out + datetime.timedelta(milliseconds=1)]
    if ends:
        end, took = ends[-1]
        to_start.append((end - edge).total_seconds() * 1000 - took)
        to_out.append(max(0.0, (out - end).total_seconds() * 1000))
def median(v):
    return "median %.1f ms (%.1f-%.1f, n=%d)" % (statistics.median(v), min(v), max(v), len(v)) if v else "-"
print("  trigger edge to check start %s; check end to output %s" % (median(to_start), median(to_out)))
print("  cycle timer lateness: %s" % (", ".join("mean %.2f max %d ms" % l for l in lateness) or "- (run shorter than 20 s)"))
PY
}

# CPU ticks (user + system) of one thread of the monitor.
thread_ticks() {
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/task/$2/stat"
}

# With the cameras still streaming but no trigger: CPU shares and resident memory.
idle_report() {
  local pid="$1" tck t0 p0 t1 p1
  tck="$(getconf CLK_TCK)"
  t0="$(thread_ticks "$pid" "$pid")"
  p0="$(awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$pid/stat")"
  sleep "$IDLE_SECONDS"
  t1="$(thread_ticks "$pid" "$pid")"
  p1="$(awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$pid/stat")"
  awk -v a="$((t1 - t0))" -v b="$((p1 - p0))" -v t="$tck" -v s="$IDLE_SECONDS" 'BEGIN {
    printf "  idle %d s, no trigger: GUI thread %.1f %% of a core, whole program %.1f %% of a core\n",
      s, 100 * a / t / s, 100 * b / t / s }'
  python3 - "$pid" <<'PY'
import collections, re, sys
pid = sys.argv[1]
status = dict(l.split(":", 1) for l in open("/proc/%s/status" % pid))
print("  resident %s (anonymous %s, files %s, shared memory %s)" % tuple(
    status[k].strip() for k in ("VmRSS", "RssAnon", "RssFile", "RssShmem")))
kinds, name = collections.Counter(), None
for line in open("/proc/%s/smaps" % pid):
    head = re.match(r"^[0-9a-f]+-[0-9a-f]+ \S+ \S+ \S+ \S+\s*(.*)$", line)
    if head:
        name = head.group(1) or "[anonymous]"
        base = name.rsplit("/", 1)[-1]
        name = re.sub(r"\.so[.\d]*$", ".so", base) if ".so" in base else name
    elif line.startswith("Rss:"):
        kinds[name] += int(line.split()[1])
top = ", ".join("%s %d MiB" % (n, kb // 1024) for n, kb in kinds.most_common(8))
print("  largest parts: %s" % top)
PY
}

for angle in $ANGLES; do
for cameras in 1 8; do
  e2e_demo_data --frames part --delay 0 --cameras "$cameras" --rois 20
  positioning_on "$angle"
  rm -f "$APP/io-record.log" "$APP/count.ini" "$APP/RECORD.db" "$APP/SN.db" "$APP"/cnt_net/workspace/log/LOG_*.log
  e2e_start_board
  e2e_start
  e2e_wait_for "main window shown" 180
  e2e_wait_for "IO board port" 20
  sleep 2
  start=$SECONDS
  for _ in $(seq "$ROUNDS"); do
    e2e_board pulse 0 > /dev/null
    e2e_wait_out 0x01 0x01 30
    e2e_board pulse 1 > /dev/null
    e2e_wait_out 0x01 0x00 30
    sleep 0.5
  done
  # Keep the cameras checked until the timer has reported once (every 200 passes).
  while [ $((SECONDS - start)) -lt 33 ]; do
    e2e_board pulse 0 > /dev/null; sleep 1; e2e_board pulse 1 > /dev/null; sleep 1
  done
  if [ "$cameras" -eq 8 ]; then
    sleep 3
    idle_report "$(cat "$MM_PID_FILE")" > "$APP/idle.txt"
  fi
  e2e_stop || true
  report "$cameras" "$angle"
  [ -f "$APP/idle.txt" ] && cat "$APP/idle.txt"
  rm -f "$APP/idle.txt"
  kill "$E2E_BOARD_PID" 2>/dev/null || true
  wait "$E2E_BOARD_PID" 2>/dev/null || true
  E2E_BOARD_PID=""
done
done
