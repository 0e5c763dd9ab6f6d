# Shared steps of the whole-program tests. Source it with BUILD and SRC set.
set -euo pipefail

e2e_setup() {
  if [ "$(id -u)" -ne 0 ] || ! unshare -n true 2>/dev/null; then
    echo "SKIP: needs root for a network namespace"; exit 77
  fi
  APP="$(mktemp -d /tmp/mm-e2e-XXXXXX)"
  "$SRC/scripts/prepare-app-folder" "$BUILD" "$APP" > /dev/null
  MM_PID_FILE="$APP/.monitor.pid"
  trap e2e_cleanup EXIT
}

# Starts the monitor in its own network namespace under Xvfb at 1920x1080.
e2e_start() {
  ( cd "$APP" && exec unshare -n -- xvfb-run -a -s "-screen 0 1920x1080x24" \
      sh -c 'ip link set lo up 2>/dev/null; echo $$ > .monitor.pid; exec ./mould-monitor' \
      > "$APP/stdout.log" 2> "$APP/stderr.log" ) &
  E2E_RUNNER=$!
}

# Waits up to $2 seconds for a text in the monitor's output.
e2e_wait_for() {
  local text="$1" limit="${2:-60}" i=0
  while [ $i -lt $((limit * 10)) ]; do
    if grep -qF -- "$text" "$APP/stdout.log" "$APP/stderr.log" 2>/dev/null; then return 0; fi
    if ! kill -0 "$E2E_RUNNER" 2>/dev/null; then break; fi
    sleep 0.1; i=$((i + 1))
  done
  echo "FAIL: '$text' not seen"; tail -50 "$APP/stderr.log" "$APP/stdout.log" || true
  return 1
}

# Sends SIGTERM to the monitor (the process this test started) and returns its exit code.
e2e_stop() {
  local pid; pid="$(cat "$MM_PID_FILE")"
  kill -TERM "$pid"
  local rc=0
  wait "$E2E_RUNNER" || rc=$?
  E2E_RUNNER=""
  return $rc
}

e2e_cleanup() {
  if [ -n "${E2E_RUNNER:-}" ] && kill -0 "$E2E_RUNNER" 2>/dev/null; then
    [ -f "$MM_PID_FILE" ] && kill -KILL "$(cat "$MM_PID_FILE")" 2>/dev/null || true
    wait "$E2E_RUNNER" 2>/dev/null || true
  fi
  [ -n "${KEEP_E2E:-}" ] || rm -rf "$APP"
}
