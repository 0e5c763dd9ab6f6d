#!/usr/bin/env bash
# The evaluation set once through the real program: inspection_eval writes the
# test split's frames and the engine's verdicts; each frame is then served by
# the simulated camera to the monitor (its own network namespace, under Xvfb),
# triggered through the IO board simulator, and the monitor's verdict (its
# NG count) is compared with the engine's.
#
#   bench/inspection_e2e.sh BUILD_DIR [GOOD_PER_CLASS] [PARTS_PER_CASE]
#
# BUILD_DIR must hold bin/inspection_eval (-DMM_BUILD_BENCH=ON) and the program.
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
SRC="$(cd "$(dirname "$0")/.." && pwd)"
GOOD="${2:-2}"
PARTS="${3:-1}"
. "$SRC/tests/e2e/lib.sh"
e2e_setup

FRAMES="$APP/evalframes"
mkdir -p "$FRAMES"
"$BUILD/bin/inspection_eval" --split test --good "$GOOD" --parts "$PARTS" --write "$FRAMES" > "$APP/eval.txt" 2>&1
e2e_demo_data --frames empty --delay 0

# The mould's ROIs and template in the demo's camera 1, mould detection (group 2).
python3 - "$APP" "$FRAMES" <<'PY'
import json, os, shutil, sqlite3, sys
app, frames = sys.argv[1], sys.argv[2]
boxes = [tuple(map(int, line.split())) for line in open(os.path.join(frames, "rois.txt"))]
sx, sy = 1920 / 1280, 1080 / 1024  # display the ROIs are stored in / camera frame

def display(first, size, scale):
    """Display corners whose image box (as the program converts it) is exactly first..first+size."""
    for a in range(int(first * scale) - 3, int(first * scale) + 4):
        for b in range(a + int(size * scale) - 3, a + int(size * scale) + 4):
            if round(a / scale) == first and round((b - a + 1) / scale) == size:
                return a, b
    raise SystemExit("no display corners for %d+%d" % (first, size))

db = sqlite3.connect(os.path.join(app, "PARAM.db"))
db.execute("DELETE FROM cammer0 WHERE name LIKE 'ROI1-%'")
db.execute("UPDATE cammer0 SET value = ? WHERE name = 'detect1'", (" ".join([str(len(boxes))] + ["0"] * 8),))
for r, (x, y, w, h) in enumerate(boxes):
    x1, x2 = display(x, w, sx)
    y1, y2 = display(y, h, sy)
    # min size 3, sensitivity 45, area 100, defect check, rectangle, output N1
    db.execute("INSERT INTO cammer0 VALUES (?, ?)", ("ROI1-%d" % r, "3 45 100 0 1 0 0 %d %d %d %d" % (x1, y1, x2, y2)))
db.commit()
shutil.copy(os.path.join(frames, "template0.bmp"), os.path.join(app, "cammer12", "template0.bmp"))
PY

# Points the simulated camera at one frame.
serve() {
  python3 - "$APP/Plugins/Cameras/simcamera.json" "$1" <<'PY'
import json, sys
path, frame = sys.argv[1], sys.argv[2]
config = json.load(open(path))
config["real"][0]["frames"] = [frame]
json.dump(config, open(path, "w"), indent=2)
PY
}

e2e_start_board
same=0
differ=0
while read -r file expected; do
  serve "$FRAMES/$file"
  rm -f "$APP/count.ini"
  e2e_start
  e2e_wait_for "main window shown" 120
  e2e_wait_for "IO board port" 20
  sleep 1
  e2e_board pulse 0 > /dev/null
  i=0
  while [ "$(e2e_count list_allnum 2>/dev/null | cut -d, -f1)" != "1" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  if [ "$(e2e_count list_allnum | cut -d, -f1)" != "1" ]; then
    echo "FAIL: no inspection of $file"; exit 1
  fi
  got=OK
  [ "$(e2e_count list_failnum | cut -d, -f1)" = "1" ] && got=NG
  e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
  if [ "$got" = "$expected" ]; then
    same=$((same + 1))
  else
    differ=$((differ + 1))
    echo "differs: $file engine $expected, program $got"
  fi
done < "$FRAMES/verdicts.txt"
echo "end to end: $same of $((same + differ)) verdicts of the program equal the engine's"
[ "$differ" -eq 0 ]
