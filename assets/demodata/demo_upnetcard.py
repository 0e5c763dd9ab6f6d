#!/usr/bin/env python3
"""The demo's card-update script: what "python3 ./cnt_net/orulx40_upnetcard.py"
does for the demo's two network cards, a wired "eth0" and a wireless "wlan0".
A card file that is missing gets its card; a saved one keeps what the network
dialog wrote and, as the box's script does, its "describe_netplan" note (the
monitor does not write it back). On the box the script would then apply the
files to the cards; the demo's cards take them as they are. Everything is
written under the demo's host folder, never under "/".

  demo_upnetcard.py HOST_FOLDER
"""
import json
import os
import sys

WIRED = {
    "name": "eth0", "mac": "02:00:5e:10:00:01", "address": "192.168.10.20", "netmask": "255.255.255.0",
    "gateway": "192.168.10.1", "dns": "192.168.10.1", "isdhcp": False, "describe": "Demo wired card",
    "describe_netplan": "demo", "status": "up", "iswifi": False, "ispriority": True,
}
WIRELESS = {
    "name": "wlan0", "mac": "02:00:5e:10:00:02", "address": "192.168.20.31", "netmask": "255.255.255.0",
    "gateway": "192.168.20.1", "dns": "192.168.20.1", "isdhcp": True, "describe": "Demo wireless card",
    "describe_netplan": "demo", "status": "up", "iswifi": True, "ispriority": False,
    "use": True, "hotname": "plant-ap-1", "passwd": "",
}


def main():
    if len(sys.argv) != 2 or os.path.realpath(sys.argv[1]) == "/":
        sys.exit(__doc__)
    netplan = os.path.join(sys.argv[1], "etc/netplan")
    os.makedirs(netplan, exist_ok=True)
    for name, default in (("netplan_prejson.txt", WIRED), ("wifi_prejson.txt", WIRELESS)):
        path = os.path.join(netplan, name)
        try:
            with open(path) as f:
                cards = json.load(f)["netcard_info"]
            for card in cards:
                card.setdefault("describe_netplan", "demo")
        except (OSError, ValueError, KeyError, TypeError, AttributeError):
            cards = [default]
        with open(path + ".part", "w") as f:
            json.dump({"netcard_info": cards}, f, indent=4)
            f.write("\n")
        os.replace(path + ".part", path)


main()
