#!/usr/bin/env python3
"""Idle connections to the monitor's ports (run inside its network namespace): opens COUNT
connections to each PORT from 127.0.0.1, in batches that the server's backlog can take,
prints "held PORT N" for each, then keeps them, sending nothing, until it is ended.

    connection_flood.py COUNT PORT [PORT ...]
"""
import errno
import resource
import select
import socket
import sys
import time

BATCH = 25


def connect_batch(port, n):
    """n non-blocking connects; all but those refused (one the server's backlog cannot take
    yet stays pending: the kernel retries it)."""
    waiting = {}
    for _ in range(n):
        s = socket.socket()
        s.setblocking(False)
        if s.connect_ex(("127.0.0.1", port)) in (0, errno.EINPROGRESS):
            waiting[s.fileno()] = s
        else:
            s.close()
    poller = select.poll()
    for fd in waiting:
        poller.register(fd, select.POLLOUT)
    done = []
    deadline = time.monotonic() + 0.5
    while waiting and time.monotonic() < deadline:
        for fd, _ in poller.poll(200):
            s = waiting.pop(fd)
            poller.unregister(fd)
            if s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) == 0:
                done.append(s)
            else:
                s.close()
    return done + list(waiting.values())


def main():
    count = int(sys.argv[1])
    ports = [int(p) for p in sys.argv[2:]]
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    need = count * len(ports) + 64
    if hard != resource.RLIM_INFINITY:
        need = min(need, hard)
    resource.setrlimit(resource.RLIMIT_NOFILE, (need, hard))
    held = []
    for port in ports:
        opened = 0
        on_port = 0
        while opened < count:
            batch = connect_batch(port, min(BATCH, count - opened))
            held.extend(batch)
            on_port += len(batch)
            opened += BATCH
            time.sleep(0.02)   # the server accepts what the backlog holds
        print("held %d %d" % (port, on_port), flush=True)
    while True:
        time.sleep(60)


if __name__ == "__main__":
    main()
