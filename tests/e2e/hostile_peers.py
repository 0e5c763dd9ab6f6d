#!/usr/bin/env python3
"""Hostile peers against the monitor's API on 127.0.0.1:10100 (run inside its network
namespace): a connection flood, slow headers, slow large bodies, and a well-behaved client
that must still be served. Prints one line of figures; exits 1 when the client was not served."""
import json
import socket
import sys
import time

API = ('127.0.0.1', 10100)


def connect(source, blocking=False):
    s = socket.socket()
    s.bind((source, 0))
    s.setblocking(True)
    s.settimeout(2)
    try:
        s.connect(API)
    except OSError:
        s.close()
        return None
    s.setblocking(blocking)
    return s


def well_behaved(rounds):
    """Requests from 127.0.0.2, one connection each; the worst latency and the failures."""
    worst, failed = 0.0, 0
    body = b'{}'
    for _ in range(rounds):
        start = time.monotonic()
        try:
            s = socket.create_connection(API, timeout=5, source_address=('127.0.0.2', 0))
            s.sendall(b'POST /v18/http/get_product_infos HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n'
                      b'Content-Length: 2\r\nConnection: close\r\n\r\n' + body)
            data = b''
            while b'\r\n\r\n' not in data:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
            s.close()
            if not data.startswith(b'HTTP/1.1 200'):
                failed += 1
        except OSError:
            failed += 1
        worst = max(worst, time.monotonic() - start)
        time.sleep(0.05)
    return worst, failed


def big_body_status():
    """The answer to a request announcing a 64 MiB body."""
    s = socket.create_connection(API, timeout=5, source_address=('127.0.0.5', 0))
    s.sendall(b'POST /v18/http/get_records HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n'
              b'Content-Length: 67108864\r\n\r\n')
    try:
        line = s.recv(4096).split(b'\r\n')[0].decode()
    except OSError as e:
        line = 'error ' + str(e)
    s.close()
    return line


def main():
    flood = int(sys.argv[1]) if len(sys.argv) > 1 else 512
    held = []
    # The flood: idle connections from one address.
    for _ in range(flood):
        s = connect('127.0.0.1')
        if s:
            held.append(s)
    # Slow headers from another address, a byte now and then.
    slow = [s for s in (connect('127.0.0.3') for _ in range(32)) if s]
    for s in slow:
        try:
            s.send(b'GET /v18/http/get_product_infos HTTP/1.1\r\n')
        except OSError:
            pass
    # Slow large bodies from a third address.
    bodies = [s for s in (connect('127.0.0.4') for _ in range(16)) if s]
    for s in bodies:
        try:
            s.send(b'POST /v18/http/get_records HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n'
                   b'Content-Length: 67108864\r\n\r\n')
        except OSError:
            pass
    worst, failed = well_behaved(20)
    for s in slow:
        try:
            s.send(b'X')
        except OSError:
            pass
    status = big_body_status()
    for s in held + slow + bodies:
        s.close()
    print(json.dumps({'flood': flood, 'held': len(held), 'worst_s': round(worst, 3), 'failed': failed,
                      'big_body': status}), flush=True)
    return 0 if failed == 0 and worst < 2.0 and status == 'HTTP/1.1 413 Content Too Large' else 1


if __name__ == '__main__':
    sys.exit(main())
