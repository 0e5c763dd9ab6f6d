# The table of a whole-program benchmark script: the script ($0) again once per case, each run a
# process of its own, so that its trap ends what it started, also when it fails. Prints the table
# rows each run printed, or a row that says how it failed; returns 1 when one failed.
#   bench_case_rows VARIABLE "ALL CASES" BUILD SRC [case...]     (no case: all of them)
# Each run finds its case in VARIABLE.
bench_case_rows() {
  local variable="$1" all="$2" build="$3" src="$4" failed=0 out one
  shift 4
  for one in ${*:-$all}; do
    case " $all " in *" $one "*) ;; *) echo "unknown: $one (one of: $all)" >&2; return 2 ;; esac
  done
  out="$(mktemp /tmp/bench-case-XXXXXX)"
  for one in ${*:-$all}; do
    if ! env "$variable=$one" bash "$0" "$build" "$src" > "$out" 2>&1; then
      failed=1
      echo "| $one | failed: $(grep -m1 FAIL "$out" || tail -1 "$out") |"
    else
      grep '^|' "$out"
    fi
  done
  rm -f "$out"
  return $failed
}
