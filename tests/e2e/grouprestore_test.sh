#!/usr/bin/env bash
# A group restore cut short after its journal was written: the next start
# finishes the switch before the parameters are read, and logs it.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
mkdir -p "$APP/paraGroup/g" "$APP/.paraGroupRestore/new" "$APP/.paraGroupRestore/old"
printf 'Door\n' > "$APP/paraGroup/g/name.txt"
printf 'g' > "$APP/.paraGroupRestore/group"
printf 'Door\n' > "$APP/.paraGroupRestore/new/name.txt"
printf '0\n' > "$APP/.paraGroupRestore/new/sysadd.txt"
printf 'Gate\n' > "$APP/name.txt"
printf '{"group": "g", "items": ["name.txt", "sysadd.txt"]}' > "$APP/.paraGroupRestore/journal"
e2e_start
e2e_wait_for "main window shown" 120
e2e_wait_for "parameter group restore of g was interrupted and has been finished" 1
e2e_expect "$(cat "$APP/name.txt")" "Door" "the group's IO names in place"
e2e_expect "$(cat "$APP/sysadd.txt")" "0" "the group's index in place"
[ -e "$APP/.paraGroupRestore" ] && { echo "FAIL: the staging folder is left"; exit 1; }
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
