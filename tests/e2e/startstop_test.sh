#!/usr/bin/env bash
# The monitor starts full screen in a prepared folder and ends cleanly on SIGTERM.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
e2e_start
e2e_wait_for "main window shown" 120
e2e_stop
echo "PASS"
