#!/usr/bin/env python3
"""Keeps the demo's monitor going as the box does.

    monitor_keeper.py PIDFILE PROGRAM [ARGS...]

Starts PROGRAM and stays its parent: as a child subreaper it also becomes the
parent of every monitor that restarts itself (a language change) and of what
it starts, and it ends when no monitor is left. Its PID goes to PIDFILE: a
SIGUSR1 there (the demo's reboot stand-in) ends the monitors with TERM, as a
reboot would, and starts PROGRAM again once they are gone. A TERM ends the
monitors and then the keeper.
"""
import ctypes
import os
import signal
import sys
import time

PR_SET_CHILD_SUBREAPER = 36
# A monitor that has not ended this long after TERM: everything gets TERM, 5 s later KILL.
TERM_GRACE_S = 10

program = sys.argv[2:]
name = os.path.basename(program[0])[:15]
monitors = set()
stopping = False
restarting = False
overdue = []


def children():
    found = {}
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        if int(stat[stat.rindex(")") + 2:].split()[1]) == os.getpid():
            found[int(entry)] = stat[stat.index("(") + 1:stat.rindex(")")]
    return found


def monitor_alive():
    now = {pid for pid, comm in children().items() if comm == name}
    monitors.update(now)
    return bool(now)


def term(pids, sig=signal.SIGTERM):
    for pid in pids:
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            pass


def end_monitors():
    del overdue[:]
    term(pid for pid, comm in children().items() if comm == name)
    signal.alarm(TERM_GRACE_S)


def stop(*_):
    global stopping
    stopping = True
    end_monitors()


def reboot(*_):
    global restarting
    if not stopping:
        restarting = True
        end_monitors()


def late(*_):
    term(children(), signal.SIGKILL if overdue else signal.SIGTERM)
    overdue.append(1)
    signal.alarm(5)


def start():
    pid = os.fork()
    if pid == 0:
        os.execv(program[0], program)
    monitors.add(pid)


ctypes.CDLL(None).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGUSR1, reboot)
signal.signal(signal.SIGALRM, late)
with open(sys.argv[1], "w") as f:
    f.write("%d\n" % os.getpid())
start()
status = 0
while True:
    try:
        pid, raw = os.wait()
    except ChildProcessError:
        if not restarting:
            break
        pid, raw = 0, 0
    if pid in monitors:
        status = os.waitstatus_to_exitcode(raw)
        monitors.discard(pid)
    if restarting and not stopping:
        if monitor_alive():
            continue
        # The box is up again: what the monitor started went with it.
        signal.alarm(0)
        term(children())
        restarting = False
        start()
        continue
    # A restarting monitor has handed over to its successor by the time it ends.
    for _ in range(0 if stopping else 20):
        if monitor_alive():
            break
        time.sleep(0.1)
    if not monitor_alive():
        term(children())
try:
    os.remove(sys.argv[1])
except OSError:
    pass
sys.exit(status)
