#!/usr/bin/env python3
"""Triggers a machine cycle every second through the IO board simulator: input 0 (mould open) high
for 300 ms, then input 1 (the safety door) high for 300 ms from 400 ms in. Each input stays low
700 ms between its pulses, which a monitor starved by a loaded machine still sees.
Prints the number of cycles triggered when the time is up.
  cycle_triggers.py <simulator socket> <seconds> [period, seconds, at least 1.0]"""
import socket
import sys
import time

PULSES = ((0.0, 'pulse 0 300'), (0.4, 'pulse 1 300'))

s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
f = s.makefile('rw')
period = max(1.0, float(sys.argv[3])) if len(sys.argv) > 3 else 1.0
start = time.monotonic()
end = start + float(sys.argv[2])
sent = 0
while start + sent * period < end:
    for offset, cmd in PULSES:
        time.sleep(max(0.0, start + sent * period + offset - time.monotonic()))
        f.write(cmd + '\n')
        f.flush()
        f.readline()
    sent += 1
time.sleep(max(0.0, start + sent * period - time.monotonic()))
print(sent, flush=True)
