#!/usr/bin/env bash
# A group restore cut short after its journal was written: the next start
# finishes the switch before the parameters are read, and logs it. So too a
# group backup cut short after its copy was whole, and a group removal.
# Then a restore by touch at 1920x1080 under the demo's keeper: the IO board is
# served while the group is copied, the reboot stand-in has the keeper restart
# the monitor, and the new one stores a language change and checks with the
# restored group's areas.
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

command -v xdotool > /dev/null || { echo "SKIP: xdotool missing (scripts/install-deps)"; exit 77; }
E2E_SCREEN=1920x1080; W=1920; H=1080
SYSTEM_PARAM="$((W - 120)) 289"; GROUPS_PAGE="1240 49"; RESTORE="425 256"; YES="$((W / 2 - 150)) $((H / 2 + 100))"
SYSTEM_PAGE="1430 49"; LANGUAGE_CHOICE="473 128"
rm -rf "$APP/paraGroup"
e2e_demo_data --frames part --delay 0
# The group "r" holds the demo's areas, which find the left-over part; the working set has none.
mkdir -p "$APP/paraGroup/r"
cp -r "$APP/PARAM.db" "$APP"/cammer* "$APP/paraGroup/r/"
e2e_sql PARAM.db "update cammer0 set value='0 0 0 0 0 0 0 0 0' where name='detect1'; delete from cammer0 where name like 'ROI1-%';"
printf -- '-1\n' > "$APP/sysadd.txt"
: > "$APP/.safebin/calls.log"
e2e_start_board
E2E_KEEPER=1 e2e_start
e2e_wait_ready
first="$(e2e_monitor_pid)"
e2e_board pulse 0
e2e_wait_file "alarmimage/camera1/detect2/OK/*.jpg" 10
e2e_expect "$(( $(e2e_out_word) & 0x0F ))" "0" "outputs without areas"

e2e_tap $SYSTEM_PARAM; sleep 1.5
e2e_tap $GROUPS_PAGE; sleep 1
e2e_tap $RESTORE; sleep 1
e2e_tap $YES
# Waits for a monitor other than $1 under the keeper and prints its PID.
restarted() {
  local i=0 pid=""
  while { [ -z "$pid" ] || [ "$pid" = "$1" ]; } && [ $i -lt $((600 * $(e2e_load_factor))) ]; do
    sleep 0.1; i=$((i + 1)); pid="$(e2e_monitor_pid || true)"
  done
  [ -n "$pid" ] && [ "$pid" != "$1" ] && echo "$pid"
}
again="$(restarted "$first")" || { echo "FAIL: the monitor was not restarted after the restore"; exit 1; }
e2e_expect "$(grep -E '^(sync|reboot)' "$APP/.safebin/calls.log")" "$(printf 'sync \nreboot ')" "what the restore ran"
e2e_expect "$(e2e_log_count "main window shown" 2 120 all)" "2" "windows shown"
e2e_expect "$(cat "$APP/sysadd.txt")" "0" "the restored group's index"
# The board was served all along: no silent GUI thread, the old monitor's watchdog switched off for the reboot only.
e2e_expect "$(e2e_log_count "has not stamped" 1 0 all)" "0" "IO watchdog alarms"
e2e_expect "$(e2e_log_count "IO watchdog switched off" 1 5 all)" "1" "watchdog switched off for the reboot"
# The parameters are stored again: the next language is chosen and the monitor restarts in it.
language="$(e2e_param_item system2 12)"
e2e_tap $SYSTEM_PARAM; sleep 1.5
e2e_tap $SYSTEM_PAGE; sleep 1
e2e_tap $LANGUAGE_CHOICE; sleep 0.5
e2e_x key Down Return; sleep 0.5
e2e_tap $YES
restarted "$again" > /dev/null || { echo "FAIL: the monitor did not restart in the chosen language"; exit 1; }
e2e_expect "$(e2e_log_count "main window shown" 3 120 all)" "3" "windows shown after the language change"
e2e_expect "$(e2e_param_item system2 12)" "$((language + 1))" "the language stored"
e2e_expect "$(e2e_log_count "Failed to start transaction" 1 0 all)" "0" "failed parameter saves"
# The new monitor checks with the group's areas: the part is found (clamp O1 and alarm O3).
E2E_FRAMES_MARK="$(e2e_board_frames)"
i=0
while [ "$(e2e_board_frames)" -le $((E2E_FRAMES_MARK + 2)) ] && [ $i -lt $((200 * $(e2e_load_factor))) ]; do sleep 0.1; i=$((i + 1)); done
e2e_board pulse 0
e2e_wait_out 0x0F 0x05 20
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
