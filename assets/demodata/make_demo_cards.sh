#!/usr/bin/env bash
# Gives the demo a wired and a wireless network card without touching the machine's own.
# The monitor reads its host files under APP/.host (MOULD_MONITOR_HOST_ROOT): there
# /proc/net/dev and /sys/class/net list the demo's two cards and /etc/netplan keeps their
# card files; the other host files it reads link to the machine's own. Stand-ins in
# APP/.safebin (made by make_safe_bin.sh first) for ifconfig, iwlist and the card-update
# script (python3 ./cnt_net/orulx40_upnetcard.py) show those cards and a few wireless
# networks; like the others they record their calls in .safebin/calls.log, and they write
# only under APP/.host. ifconfig is a shell script: the monitor waits 200 ms for it.
#   make_demo_cards.sh APP PYTHON    PYTHON: the real interpreter; prints the host folder
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
app="$(cd "${1:?usage: make_demo_cards.sh APP PYTHON}" && pwd)"
python="${2:?usage: make_demo_cards.sh APP PYTHON}"
host="$app/.host"
safebin="$app/.safebin"
mkdir -p "$host/proc/net" "$host/sys/class/net/eth0" "$host/sys/class/net/wlan0/wireless" "$safebin"

# Read only, as on any PC: the monitor's version, processor, mounts, disks and USB sticks.
for path in /proc/cpuinfo /proc/version /proc/mounts /proc/self /proc/sys /proc/net/route \
            /sys/block /sys/dev /run/udev /dev/disk; do
  [ -e "$path" ] || continue
  mkdir -p "$host$(dirname "$path")"
  ln -sfn "$path" "$host$path"
done

# The cards' receive counters since boot: the wired card takes in 12 kB/s, so its row shows
# it running; the wireless one has nothing.
cat > "$safebin/demo_netdev.sh" <<STUB
#!/bin/sh
read -r up _ < /proc/uptime
wired=\$((3180000 + (\${up%.*} * 100 + 1\${up#*.} - 100) * 120))
line='%6s: %10s %8s    0    0    0     0          0         0 %10s %8s    0    0    0     0       0          0\n'
{
  printf 'Inter-|   Receive                                                |  Transmit\n'
  printf ' face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls carrier compressed\n'
  printf "\$line" lo 52340 610 52340 610
  printf "\$line" eth0 \$wired \$((wired / 1000)) \$((wired / 4)) \$((wired / 4000))
  printf "\$line" wlan0 8120 95 4410 51
} > "$host/proc/net/dev.part" && mv -f "$host/proc/net/dev.part" "$host/proc/net/dev"
STUB
cat > "$safebin/ifconfig" <<STUB
#!/bin/sh
echo "ifconfig \$*" >> "$safebin/calls.log"
[ \$# -eq 0 ] || exit 0
"$safebin/demo_netdev.sh"
printf '%s\n' "eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500" \\
  "        ether 02:00:5e:10:00:01  txqueuelen 1000  (Ethernet)" "" \\
  "wlan0: flags=4099<UP,BROADCAST,MULTICAST>  mtu 1500" \\
  "        ether 02:00:5e:10:00:02  txqueuelen 1000  (Ethernet)" "" \\
  "lo: flags=73<UP,LOOPBACK,RUNNING>  mtu 65536" "        inet 127.0.0.1  netmask 255.0.0.0"
STUB
cat > "$safebin/iwlist" <<STUB
#!/bin/sh
echo "iwlist \$*" >> "$safebin/calls.log"
if [ "\$1" != wlan0 ] || [ "\$2" != scan ]; then
  echo "\$1  Interface doesn't support scanning." >&2
  exit 0
fi
echo "wlan0     Scan completed :"
cell=0
for essid in plant-ap-1 plant-ap-2 moulding-hall office guest; do
  cell=\$((cell + 1))
  printf '          Cell %02d - Address: 02:00:5e:20:00:%02x\n' \$cell \$cell
  printf '                    Quality=%d/70  Signal level=-%d dBm\n' \$((70 - 9 * cell)) \$((40 + 6 * cell))
  printf '                    ESSID:"%s"\n' "\$essid"
done
STUB
cp -f "$here/demo_upnetcard.py" "$safebin/demo_upnetcard.py"
cat > "$safebin/python3" <<STUB
#!/bin/sh
echo "python3 \$*" >> "$safebin/calls.log"
if [ "\$*" = "./cnt_net/orulx40_upnetcard.py" ]; then
  exec "$python" "$safebin/demo_upnetcard.py" "$host"
fi
exit 0
STUB
chmod +x "$safebin/demo_netdev.sh" "$safebin/ifconfig" "$safebin/iwlist" "$safebin/python3"
"$safebin/demo_netdev.sh"
echo "$host"
