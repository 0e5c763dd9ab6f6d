#!/usr/bin/env bash
# The picture disk filled by another file while the whole program stores NG pictures: 8 simulated
# cameras, a part in every frame, a trigger every 0.3 s (tests/e2e/cycle_triggers.py) for 45 s. The
# program runs in a network namespace and a private mount namespace of its own, where a 192 MiB
# tmpfs lies on the application folder's alarmimage before the start; 30 s into the triggers a
# filler file takes the tmpfs down to about 4 KiB free. One table row per case:
#   default   the demo's picture counts (20 NG pictures a folder)
#   large     5000 pictures a folder, so that some 700 are stored before the fill
# Printed: pictures stored at the fill, those of them deleted after it (and when the last went),
# free space after, pictures written after the fill, pictures the log names as not written, the
# log's pruning lines. A benchmark, not a test.
#   bench/fulldisk.sh [BUILD] [SRC] [case...]     (default: both)
#   bench/fulldisk.sh BUILD SRC appfolder         (the whole application folder on a tmpfs: its own
#                                                  table, see bench/fulldisk_appfolder.sh)
# FULLDISK_FILL_S (30) and FULLDISK_RUN_S (45) move the fill and the end.
set -euo pipefail
BUILD="$(cd "${1:-$(dirname "$0")/../build}" && pwd)"
SRC="$(cd "${2:-$(dirname "$0")/..}" && pwd)"
ALL_CASES="default large"
FILL_S="${FULLDISK_FILL_S:-30}"
RUN_S="${FULLDISK_RUN_S:-45}"

if [ "${FULLDISK_CASE:-}" = "" ] && [ "${3:-}" = appfolder ]; then
  echo "| phase | triggers so far | cycles in count.ini | rows (NG rows) in RECORD.db | template0.bmp learnt while full, stored (of files)" \
       "| log: grew after the room came back / \"written again\" lines / exit line | load average |"
  echo "|---|---|---|---|---|---|---|"
  . "$SRC/bench/caserows.sh"
  rc=0
  bench_case_rows FULLDISK_CASE "appfolder" "$BUILD" "$SRC" || rc=$?
  exit $rc
fi
if [ "${FULLDISK_CASE:-}" = "" ]; then
  shift $(( $# < 2 ? $# : 2 ))
  echo "| case | triggers | pictures stored at the fill | of them deleted after it (last gone) | free after the fill / at the end" \
       "| written after the fill | named not written in the log | pruning lines (files) | \"Pictures skipped\" lines | load average |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
  . "$SRC/bench/caserows.sh"
  rc=0
  bench_case_rows FULLDISK_CASE "$ALL_CASES" "$BUILD" "$SRC" "$@" || rc=$?
  exit $rc
fi

. "$SRC/tests/e2e/lib.sh"
e2e_setup
if [ "$FULLDISK_CASE" = appfolder ]; then
  . "$SRC/bench/fulldisk_appfolder.sh"
  exit 0
fi
LOAD_START="$(cut -d' ' -f1 /proc/loadavg)"
TRIGGERS_PID=""
# set +e: under -e the "(exit $rc)" of a failed run would leave the trap before the cleanup.
trap 'rc=$?; set +e; e2e_end_groups $TRIGGERS_PID; (exit $rc); e2e_cleanup' EXIT

e2e_demo_data --frames part --delay 0 --cameras 8
if [ "$FULLDISK_CASE" = large ]; then
  e2e_set_param_item system1 7 5000   # okRecordNum
  e2e_set_param_item system2 3 5000   # ngRecordNum
fi
# The tmpfs is mounted by the monitor's own start command, inside its private mount namespace
# (E2E_MOUNT_NS), so nothing is mounted outside it and it goes with the namespace.
mkdir -p "$APP/alarmimage"
cat > "$APP/.mount-alarmimage" <<'SH'
#!/bin/sh
/bin/mount -t tmpfs -o size=192M,mode=0755 fulldisk-bench ./alarmimage || exit 1
exec "$@"
SH
chmod +x "$APP/.mount-alarmimage"
export E2E_MOUNT_NS=1 MM_E2E_WRAP="$APP/.mount-alarmimage"
e2e_start_ready
PID="$(cat "$MM_PID_FILE")"
if ! nsenter -t "$PID" -m -- grep -q " $APP/alarmimage tmpfs " /proc/mounts; then
  echo "FAIL: no tmpfs on the monitor's alarmimage"; exit 1
fi
if grep -q " $APP/alarmimage " /proc/mounts; then
  echo "FAIL: the tmpfs leaked out of the monitor's mount namespace"; exit 1
fi

setsid python3 "$SRC/tests/e2e/cycle_triggers.py" "$APP/ioboard.sock" "$RUN_S" 0.3 > "$APP/triggers.out" &
TRIGGERS_PID=$!
# Watches the pictures from inside the monitor's mount namespace and fills the disk on time.
nsenter -t "$PID" -m -- python3 - "$APP/alarmimage" "$FILL_S" "$RUN_S" > "$APP/watch.json" <<'PY'
import errno, json, os, sys, time
root, fill_at, run_for = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
start = time.monotonic()

def pictures():
    found = set()
    for top, _, files in os.walk(root):
        found.update(os.path.join(top, f) for f in files if f.endswith(".jpg"))
    return found

def free():
    st = os.statvfs(root)
    return st.f_bavail * st.f_frsize

def fill(leave):
    # Pictures keep coming while the filler grows: aim again at what is left until it holds.
    with open(os.path.join(root, "filler.bin"), "wb") as f:
        size = 0
        for _ in range(50):
            grow = free() - leave
            if grow <= 0:
                break
            try:
                os.posix_fallocate(f.fileno(), size, grow)
                size += grow
            except OSError as e:
                if e.errno != errno.ENOSPC:
                    raise
    return size

while time.monotonic() < start + fill_at:
    time.sleep(0.1)
# Stored at the fill: those on the disk as it starts and those written while it runs.
stored = pictures()
filler = fill(4096)
filled = time.monotonic()
free_after = free()
stored |= pictures()
gone_at, written = {}, set()
while time.monotonic() < start + run_for:
    now = pictures()
    at = time.monotonic() - filled
    for p in stored - now:
        gone_at.setdefault(p, at)
    written |= now - stored
    time.sleep(0.1)
print(json.dumps({
    "stored": len(stored), "filler": filler, "free_after": free_after,
    "free_end": free(), "deleted": len(gone_at), "last_gone": max(gone_at.values(), default=None),
    "written": len(written), "left_at_end": len(pictures()),
}))
PY
wait "$TRIGGERS_PID" || true
TRIGGERS_PID=""
# The writers report their losses when they stop, the rest every 5 s.
e2e_stop > /dev/null || true

python3 - "$APP" "$FULLDISK_CASE" "$LOAD_START" <<'PY'
import glob, json, os, re, sys
app, case, load = sys.argv[1:4]
w = json.load(open(os.path.join(app, "watch.json")))
triggers = open(os.path.join(app, "triggers.out")).read().strip() or "?"
named = pruned_lines = pruned_files = skipped = 0
for path in glob.glob(os.path.join(app, "cnt_net/workspace/log/LOG_*.log")):
    for line in open(path, errors="replace"):
        m = re.search(r"(\d+) picture\(s\) not written, ", line)
        if m:
            named += int(m.group(1))
        m = re.search(r"pictures removed to keep the free-space reserve: (\d+) file", line)
        if m:
            pruned_lines += 1
            pruned_files += int(m.group(1))
        if "Pictures skipped" in line:
            skipped += 1
kib = lambda b: "%d KiB" % (b // 1024) if b < 1 << 20 else "%.1f MiB" % (b / float(1 << 20))
last = "" if w["last_gone"] is None else " (%.1f s)" % w["last_gone"]
print("| %s | %s | %d | %d%s | %s / %s | %d | %d | %d (%d) | %d | %s |" % (
    case, triggers, w["stored"], w["deleted"], last, kib(w["free_after"]), kib(w["free_end"]), w["written"],
    named, pruned_lines, pruned_files, skipped, load))
PY
