#!/usr/bin/env bash
# Writes recording stand-ins for the host tools that could change the machine
# (power, clock, mounts, network cards, other processes) into DIR. Put DIR
# first on the monitor's PATH: each stand-in appends its call to DIR/calls.log
# and succeeds without doing anything. Where the monitor runs under the demo's
# keeper (monitor_keeper.py with DIR/keeper.pid), reboot also has the keeper
# restart the monitor, as the box would come up again.
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
cat > "$dir/reboot" <<STUB
#!/bin/sh
echo "reboot \$*" >> "$dir/calls.log"
keeper="\$(cat "$dir/keeper.pid" 2> /dev/null)"
# Only a keeper that still runs (a PID left behind may name another process by now).
case "\$keeper" in ''|*[!0-9]*) exit 0 ;; esac
if tr '\\0' ' ' < "/proc/\$keeper/cmdline" 2> /dev/null | grep -qF "monitor_keeper.py $dir/keeper.pid"; then
  kill -USR1 "\$keeper"
fi
exit 0
STUB
