#!/usr/bin/env bash
# Plant pollers against the real program: POLLERS (40) connections from ADDRESSES addresses (one
# each by default; fewer: pollers behind a gateway), each kept and read every 5 s for SECONDS (200),
# in the program's own network namespace.
# Prints the reads, the failed reads, the connections the server traded away under the pollers
# and those it refused, and the trades the program logged. A measurement, not a test.
#   bench/modbus_pollers.sh [BUILD_DIR] [POLLERS] [SECONDS] [ADDRESSES]
set -euo pipefail
SRC="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$SRC/build}" && pwd)"
POLLERS="${2:-40}"
SECONDS_RUN="${3:-200}"
ADDRESSES="${4:-$POLLERS}"
. "$SRC/tests/e2e/lib.sh"
e2e_setup

e2e_demo_data --cameras 2 --frames part --delay 0
e2e_start_ready
in_netns python3 "$SRC/tests/e2e/modbus_pollers.py" 502 "$POLLERS" "$SECONDS_RUN" 5 "$ADDRESSES"
e2e_stop || true
# Trades the program logged, those the log limiter held back counted from its summary lines.
logged="$(cat "$APP"/cnt_net/workspace/log/LOG_*.log 2>/dev/null | awk '/modbus: connection traded/ {
  if ($0 ~ / repeated [0-9,]+ times/) { s = $0; sub(/.* repeated /, "", s); sub(/ times.*/, "", s); gsub(",", "", s); n += s }
  else n++ } END { print n + 0 }')"
echo "  trades logged: $logged"
