#!/usr/bin/env bash
# A USB stick plugged in while the monitor runs: the monitor mounts it itself
# (private mount namespace, fake host root) and the NG images of the next
# cycles are copied onto it; pulled out, it is unmounted again.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
e2e_setup
for tool in losetup mkfs.ext4 nsenter; do
  command -v "$tool" > /dev/null || { echo "SKIP: no $tool"; exit 77; }
done
UUID=0000e2e0-1111-2222-3333-444444444444
HOST="$APP/host"
LOOP=""
usb_cleanup() {
  e2e_cleanup
  [ -n "$LOOP" ] && losetup -d "$LOOP" 2> /dev/null || true
}
trap usb_cleanup EXIT

truncate -s 16M "$APP/stick.img"
mkfs.ext4 -q -F -U "$UUID" "$APP/stick.img"
LOOP="$(losetup --find --show "$APP/stick.img")" || { echo "SKIP: no loop device"; LOOP=""; exit 77; }
mkdir -p "$HOST/run/udev/data" "$HOST/dev/disk/by-uuid" "$HOST/dev/disk/by-path"
ln -s /proc "$HOST/proc"
ln -s /sys "$HOST/sys"
# Real mount and umount: they only act inside the monitor's own mount namespace.
rm -f "$APP/.safebin/mount" "$APP/.safebin/umount"

# A part left in the mould: every cycle is NG. Image copy to the disk switched on.
e2e_demo_data --frames part --delay 0
e2e_sql PARAM.db "update sysparam set value='0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 31 0 1 1' where name='system10'"
e2e_start_board
export MOULD_MONITOR_HOST_ROOT="$HOST" E2E_MOUNT_NS=1
e2e_start
e2e_wait_for "main window shown" 120
e2e_wait_for "IO board port" 20
PID="$(cat "$MM_PID_FILE")"
in_monitor() { nsenter -t "$PID" -m -- "$@"; }

# Written beside and renamed into place, as udev does: the monitor polls the
# folder and takes an entry it reads without a UUID for one to ignore.
printf 'S:disk/by-uuid/%s\nS:disk/by-label/stick\nE:ID_FS_TYPE=ext4\nE:ID_BUS=usb\n' "$UUID" > "$HOST/run/udev/b8:17.new"
mv "$HOST/run/udev/b8:17.new" "$HOST/run/udev/data/b8:17"
ln -s "../../$(basename "$LOOP")" "$HOST/dev/disk/by-uuid/$UUID"
ln -s "../../$(basename "$LOOP")" "$HOST/dev/disk/by-path/pci-0000:00:14.0-usb-0:1:1.0-scsi-0:0:0:0-part1"
mounted() { in_monitor grep -c "^$LOOP $HOST/mnt " /proc/mounts || true; }
# A loaded machine can take the mount's whole 2 s bound and a retry.
for _ in $(seq 200); do [ "$(mounted)" = 1 ] && break; sleep 0.1; done
e2e_expect "$(mounted)" "1" "the stick mounted on /mnt by the monitor"
grep -q "^$LOOP " /proc/mounts && { echo "FAIL: the mount leaked out of the namespace"; exit 1; }

# The image copy has taken the stick as its target once the insertion is recorded.
inserted() { e2e_sql RECORD.db "select count(*) from RECORD where recordtype='info' and remarks like '%inserted%'"; }
for _ in $(seq 100); do [ "$(inserted)" = 1 ] && break; sleep 0.1; done
e2e_expect "$(inserted)" "1" "disk inserted record"

e2e_board pulse 0
e2e_wait_file "alarmimage/camera1/detect2/NG/*.jpg" 10
copied=""
for _ in $(seq 100); do
  copied="$(in_monitor find "$HOST/mnt/monitor_$UUID" -path '*/camera1/detect2/NG/*.jpg' 2> /dev/null | head -1 || true)"
  [ -n "$copied" ] && break; sleep 0.1
done
[ -n "$copied" ] || { echo "FAIL: no NG image on the stick"; exit 1; }

rm -f "$HOST/run/udev/data/b8:17" "$HOST/dev/disk/by-uuid/$UUID" "$HOST"/dev/disk/by-path/*
for _ in $(seq 200); do [ "$(mounted)" = 0 ] && break; sleep 0.1; done
e2e_expect "$(mounted)" "0" "the pulled stick unmounted"
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
