#!/bin/bash
# Hand-run check of the cycle rules' reach: applies each deliberate fault of
# the table below to a copy of the detection cycle's source, one at a time,
# rebuilds test_cyclerules there and runs its random sequences. A fault is
# found by a sequence whose broken rules differ from those of the unchanged
# cycle (same seeds).
#
#   tests/app/cyclerules/inject_faults.sh [sequences]      (default 10000)
#   MM_FAULT_WORKDIR=/tmp/faults ...   keeps the copy and its build for the next run
#   MM_CYCLE_SEED=...                  first seed (default the test's own)
set -euo pipefail

# name | file (from the source root) | sed script applied to that file
FAULTS=(
  "a: a given-up cycle's NG is not carried into the next close|src/app/detectioncycle.cpp|s/^            m_carry.absorb(m_open);/            ;/"
  "b: a detection that already checked no longer opens a new cycle|src/app/detectioncycle.cpp|s/ || (m_open.settled & MachineCycle::bit(detection))//"
  "c: a detection waiting for its recheck is taken as idle (isCounting for isBusy)|src/app/detectioncycle.cpp|/^bool DetectionCycle::admit/,/^}/ s/^        confirmRecheckNow(detection);/        ;/"
  "d: cycleOf returns the carried findings for a cycle that has gone|src/app/detectioncycle.cpp|s/return m_open.isOpen() ? m_open : m_carry;/return m_carry;/"
  "e: settleWithoutResult keeps the last closed cycle|src/app/detectioncycle.cpp|/^void DetectionCycle::settleWithoutResult/,/^}/ { /m_closed = MachineCycle();/d }"
  "f: finishCycle no longer clears safetyDoorTriggered|src/app/detectioncycle.cpp|/^void DetectionCycle::finishCycle/,/^}/ { /safetyDoorTriggered = 0;/d }"
  "1: a check that missed a camera releases its NG|src/app/detectioncycle.cpp|/^bool DetectionCycle::holdUncheckedNg/,/^}/ s/^        holds = true;/        ;/"
  "2: pre-cut ends at the last detection's decision|src/app/detectioncycle.cpp|/^void DetectionCycle::CheckNG/,/^}/ s/^    if (ng)$/    if (d == lastDetection()) endPreCut(ng);\\n    if (ng)/"
  "3: a trigger on a busy detection is dropped without a word|src/app/detectioncycle.cpp|/^bool DetectionCycle::admit/,/^}/ s/^    refuseUninspected(detection, what);/    ;/"
  "4: the stage does not switch for a given-up cycle|src/app/detectioncycle.cpp|/^void DetectionCycle::openCycle/,/^}/ s/^        switchStage();/        ;/"
)

sequences=${1:-10000}
root=$(cd "$(dirname "$0")/../../.." && pwd)
work=${MM_FAULT_WORKDIR:-}
if [[ -z "$work" ]]; then
  work=$(mktemp -d /tmp/cyclefaults.XXXXXX)
  trap 'rm -rf "$work"' EXIT
fi
src="$work/src"
mkdir -p "$src"
# The copy follows the working tree (tracked files, build folders left out).
(cd "$root" && git ls-files -z --cached --others --exclude-standard | grep -zv '^build/' \
  | tar --null -T - -cf -) | tar -xf - -C "$src"
[[ -f "$work/build/build.ninja" ]] || cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DMM_BUILD_TESTS=ON >"$work/configure.log"

run() { # label report
  cmake --build "$work/build" -j4 --target test_cyclerules >"$work/build.log" 2>&1 \
    || { echo "$1: build failed, see $work/build.log" >&2; return 1; }
  MM_CYCLE_SEQUENCES=$sequences MM_CYCLE_REPORT="$2" QT_QPA_PLATFORM=offscreen \
    "$work/build/bin/test_cyclerules" --gtest_also_run_disabled_tests \
    --gtest_filter='CycleRules.*RandomSequences*' >"$2.out" 2>&1 || true
  [[ -s "$2" ]] || { echo "$1: no report, see $2.out" >&2; return 1; }
}

# A report line: seed and the broken rules as a bit mask (bit 0 = rule 1).
rules_of() { awk '{ m = $2; s = ""; for (r = 1; r <= 7; r++) { if (m % 2) s = s r; m = int(m / 2) } print $1, (s == "" ? "-" : s) }' "$1"; }

run "unchanged cycle" "$work/base.txt"
echo "unchanged cycle: $(awk '$2 != 0' "$work/base.txt" | wc -l) of $sequences sequences break a rule"
for entry in "${FAULTS[@]}"; do
  IFS='|' read -r name file script <<<"$entry"
  cp "$root/$file" "$src/$file"
  sed -i -e "$script" "$src/$file"
  if cmp -s "$root/$file" "$src/$file"; then
    echo "$name: the change did not apply to $file"
    continue
  fi
  report="$work/fault.txt"
  if run "$name" "$report"; then
    found=$(join <(rules_of "$work/base.txt" | sort) <(rules_of "$report" | sort) | awk '$2 != $3' | wc -l)
    byrule=$(join <(rules_of "$work/base.txt" | sort) <(rules_of "$report" | sort) \
      | awk '$2 != $3 { for (i = 1; i <= length($3); i++) { r = substr($3, i, 1); if (index($2, r) == 0) n[r]++ } }
             END { for (r in n) printf " rule %s: %d", r, n[r] }')
    echo "$name: found by $found of $sequences sequences (newly broken:${byrule:- none})"
  fi
  cp "$root/$file" "$src/$file"
done
# Leave the copy's build matching the unchanged source.
cmake --build "$work/build" -j4 --target test_cyclerules >/dev/null 2>&1 || true
