#!/usr/bin/env bash
# A group restore cut short after its journal was written: the next start
# finishes the switch before the parameters are read, and logs it. So too a
# group backup cut short after its copy was whole, and a group removal.
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
mkdir -p "$APP/paraGroup/b/cammer00" "$APP/paraGroup/.backup/new/cammer00" "$APP/paraGroup/.removing/cammer00"
printf 'earlier' > "$APP/paraGroup/b/cammer00/template0.bmp"
printf 'backed up' > "$APP/paraGroup/.backup/new/cammer00/template1.bmp"
printf '{"group": "b", "inode": "%s"}' "$(stat -c %i "$APP/paraGroup/.backup/new")" > "$APP/paraGroup/.backup/journal"
e2e_start
e2e_wait_for "main window shown" 120
e2e_wait_for "parameter group restore of g was interrupted and has been finished" 1
e2e_expect "$(cat "$APP/name.txt")" "Door" "the group's IO names in place"
e2e_expect "$(cat "$APP/sysadd.txt")" "0" "the group's index in place"
[ -e "$APP/.paraGroupRestore" ] && { echo "FAIL: the staging folder is left"; exit 1; }
e2e_wait_for "parameter group backup of b was interrupted and has been finished" 1
e2e_expect "$(ls "$APP/paraGroup/b/cammer00")" "template1.bmp" "the backed-up group whole in place"
e2e_expect "$(ls -A "$APP/paraGroup")" "$(printf 'b\ng')" "nothing staged or half removed is left"
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
