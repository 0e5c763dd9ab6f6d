#!/usr/bin/env python3
"""Triggers a machine cycle every 300 ms through the IO board simulator: input 0, then input 1.
Prints the number of cycles triggered when the time is up.
  cycle_triggers.py <simulator socket> <seconds>"""
import socket
import sys
import time

s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
f = s.makefile('rw')
end = time.monotonic() + float(sys.argv[2])
sent = 0
while time.monotonic() < end:
    start = time.monotonic()
    for cmd in ('pulse 0 100', 'pulse 1 60'):
        f.write(cmd + '\n')
        f.flush()
        f.readline()
        time.sleep(0.12)
    sent += 1
    time.sleep(max(0.0, 0.3 - (time.monotonic() - start)))
print(sent, flush=True)
