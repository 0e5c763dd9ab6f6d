#!/usr/bin/env bash
# Writes recording stand-ins for the host tools that could change the machine
# (power, clock, mounts, network cards, other processes) into DIR. Put DIR
# first on the monitor's PATH: each stand-in appends its call to DIR/calls.log
# and succeeds without doing anything.
set -euo pipefail
dir="${1:?usage: make_safe_bin.sh DIR}"
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
for tool in reboot init poweroff shutdown halt date hwclock mount umount ifconfig iwconfig iwlist ip \
            netplan killall pkill ipcrm sync notify-send python3 ./tsc tsc; do
  name="$(basename "$tool")"
  cat > "$dir/$name" <<STUB
#!/bin/sh
echo "$name \$*" >> "$dir/calls.log"
exit 0
STUB
  chmod +x "$dir/$name"
done
