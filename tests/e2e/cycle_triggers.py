#!/usr/bin/env python3
"""Triggers a machine cycle every second through the IO board simulator: input 0 (mould open) high
for 300 ms, then input 1 (the safety door) high for 300 ms from 400 ms in. Each input stays low
700 ms between its pulses, which a monitor starved by a loaded machine still sees.
A period below a second (a benchmark's fast cycles) gives the short shape: input 0 for 100 ms,
the door for 60 ms from 120 ms in.
Prints the number of cycles triggered when the time is up.
  cycle_triggers.py <simulator socket> <seconds> [period in seconds, default 1.0]"""
import socket
import sys
import time

MACHINE_PULSES = ((0.0, 'pulse 0 300'), (0.4, 'pulse 1 300'))
FAST_PULSES = ((0.0, 'pulse 0 100'), (0.12, 'pulse 1 60'))

s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
f = s.makefile('rw')
period = max(0.2, float(sys.argv[3])) if len(sys.argv) > 3 else 1.0
PULSES = MACHINE_PULSES if period >= 1.0 else FAST_PULSES
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
