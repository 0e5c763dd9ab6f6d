#!/usr/bin/env python3
"""Hostile peers against the monitor's API on 127.0.0.1:10100 (run inside its network
namespace): a connection flood, slow headers, slow large bodies, and a well-behaved client
that must still be served. Prints one line of figures; exits 1 when the client was not served.

    hostile_peers.py [FLOOD]
    hostile_peers.py timeouts PICTURE_JSON SLACK_S

The second form runs peers past each time-out of the API and the Modbus server at once (one
that says nothing, half a header, a header a byte at a time, half a body, a slow and a
non-reader of pictures, a non-reader of answers, peers closing mid-answer, pollers every
100 ms), prints a line a peer with how and when the server ended it, and exits 1 when one
was not ended at its time-out (within SLACK_S) or a poller was not served."""
import json
import select
import socket
import struct
import sys
import threading
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


# The API's time-outs (src/netcore/netlimits.h), in seconds.
HEADER_S, MESSAGE_S, IDLE_S, TRANSFER_S = 10, 30, 120, 30
MODBUS = ('127.0.0.1', 502)


def request(route, body=b'{}'):
    return (b'POST /v18/http/%s HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: %d\r\n\r\n'
            % (route.encode(), len(body))) + body


def opened(source, address=API, rcvbuf=0):
    s = socket.socket()
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.bind((source, 0))
    s.settimeout(5)
    s.connect(address)
    return s


def ended(s, limit, pace=0.0, bite=65536):
    """How the server ended the connection ('eof' or the error) and after how many seconds,
    reading bite bytes every pace seconds (never when bite is 0); ('open', limit) when it did not."""
    start = time.monotonic()
    poller = select.poll()
    poller.register(s, select.POLLIN | select.POLLRDHUP | select.POLLERR | select.POLLHUP)
    while time.monotonic() - start < limit:
        events = poller.poll(200)
        if not events:
            continue
        if not bite and not events[0][1] & (select.POLLRDHUP | select.POLLERR | select.POLLHUP):
            time.sleep(0.2)
            continue
        try:
            if not s.recv(bite or 1):
                return 'eof', time.monotonic() - start
        except OSError as e:
            return errno_name(e), time.monotonic() - start
        time.sleep(pace)
    return 'open', limit


def errno_name(e):
    return {104: 'reset', 32: 'broken pipe'}.get(e.errno, type(e).__name__)


def peer_timeouts(picture, slack):
    """(name, expected end, expected seconds, function giving (end, seconds))."""
    picture_request = request('get_detected_picture', json.dumps(picture).encode())

    def silent():
        return ended(opened('127.0.0.21'), IDLE_S + slack)

    def half_header():
        s = opened('127.0.0.22')
        s.sendall(request('get_product_infos')[:40])
        return ended(s, HEADER_S + slack)

    def trickled_header():
        s = opened('127.0.0.22')
        start = time.monotonic()
        for byte in request('get_product_infos')[:-4]:
            try:
                s.send(bytes([byte]))
            except OSError as e:
                return errno_name(e), time.monotonic() - start
            how, after = ended(s, 0.5)
            if how != 'open':
                return how, time.monotonic() - start
        return 'complete', time.monotonic() - start

    def half_body():
        s = opened('127.0.0.23')
        s.sendall(request('get_records', b'{"datetime_start": "2000-01-01 00:00:00"}')[:-8])
        return ended(s, MESSAGE_S + slack)

    def slow_reader():
        # A small window and a few kB a second: still taking a picture at the transfer limit.
        s = opened('127.0.0.24', rcvbuf=4096)
        s.sendall(picture_request * 4)
        return ended(s, TRANSFER_S + slack, pace=1.0, bite=4096)

    def picture_non_reader():
        s = opened('127.0.0.25', rcvbuf=4096)
        s.sendall(picture_request * 4)
        return ended(s, TRANSFER_S + slack, bite=0)

    def non_reader(s, batch, limit):
        """Sends batch after batch, reading no answer, until the server ends the connection."""
        s.settimeout(0.2)
        start = time.monotonic()
        while time.monotonic() - start < limit:
            try:
                s.sendall(batch)
            except socket.timeout:
                how, _ = ended(s, 0.5, bite=0)
                if how != 'open':
                    return how, time.monotonic() - start
            except OSError as e:
                return errno_name(e), time.monotonic() - start
        return 'open', time.monotonic() - start

    def answer_non_reader():
        # Dropped once its unread answers hold reading back.
        return non_reader(opened('127.0.0.26', rcvbuf=4096), request('get_product_infos') * 100, MESSAGE_S + slack)

    def modbus_non_reader():
        return non_reader(opened('127.0.0.31', MODBUS), struct.pack('>HHHBBHH', 1, 0, 6, 1, 3, 0, 5) * 200, slack)

    return [('silent', 'eof', IDLE_S, silent), ('half header', 'eof', HEADER_S, half_header),
            ('trickled header', 'any', HEADER_S, trickled_header), ('half body', 'eof', MESSAGE_S, half_body),
            ('slow reader', 'reset', TRANSFER_S, slow_reader),
            ('picture non-reader', 'any', TRANSFER_S, picture_non_reader),
            ('answer non-reader', 'any', None, answer_non_reader),
            ('modbus non-reader', 'any', None, modbus_non_reader)]


def closing_mid_answer(picture, rounds):
    """Picture requests cut off after the first bytes of the answer, half with a reset."""
    for i in range(rounds):
        s = opened('127.0.0.27')
        s.sendall(request('get_detected_picture', json.dumps(picture).encode()))
        s.recv(1000)
        if i % 2:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
        s.close()
    return rounds


def pollers(count, seconds, period=0.1):
    """Keep-alive clients asking for the product info every period: requests, failures, worst latency."""
    tally = {'requests': 0, 'failed': 0, 'worst_s': 0.0}
    lock = threading.Lock()

    def one(index):
        s = None
        until = time.monotonic() + seconds
        while time.monotonic() < until:
            start = time.monotonic()
            ok = False
            try:
                if s is None:
                    s = opened('127.0.0.%d' % (40 + index % 4))
                s.sendall(request('get_product_infos'))
                data = b''
                while b'\r\n\r\n' not in data:
                    chunk = s.recv(65536)
                    if not chunk:
                        raise ConnectionError('closed')
                    data += chunk
                head, _, body = data.partition(b'\r\n\r\n')
                length = int(next(line.split(b':')[1] for line in head.split(b'\r\n')
                                  if line.lower().startswith(b'content-length')))
                while len(body) < length:
                    body += s.recv(65536)
                ok = head.startswith(b'HTTP/1.1 200')
            except (OSError, ValueError, StopIteration):
                if s:
                    s.close()
                s = None
            with lock:
                tally['requests'] += 1
                tally['failed'] += 0 if ok else 1
                tally['worst_s'] = max(tally['worst_s'], round(time.monotonic() - start, 3))
            time.sleep(max(0.0, start + period - time.monotonic()))
        if s:
            s.close()

    threads = [threading.Thread(target=one, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return tally


def timeouts(picture, slack):
    results = {}
    failed = []

    def run(name, expected_end, expected_s, peer):
        how, after = peer()
        results[name] = (how, round(after, 1))
        print('%s: %s after %.1f s' % (name, how, after), flush=True)
        late = expected_s is not None and not expected_s - 1 <= after <= expected_s + slack
        if how in ('open', 'complete') or late or expected_end not in ('any', how):
            failed.append(name)

    threads = [threading.Thread(target=run, args=peer) for peer in peer_timeouts(picture, slack)]
    for t in threads:
        t.start()
    served = pollers(16, MESSAGE_S + slack)
    print('pollers every 100 ms:', json.dumps(served), flush=True)
    print('closed mid-answer:', closing_mid_answer(picture, 20), flush=True)
    for t in threads:
        t.join()
    worst, failures = well_behaved(5)
    print('after: worst %.3f s, failed %d' % (worst, failures), flush=True)
    if failed:
        print('not ended as due:', ', '.join(failed), flush=True)
    return 0 if not failed and served['failed'] == 0 and served['worst_s'] < 2.0 and failures == 0 else 1


def main():
    if sys.argv[1:2] == ['timeouts']:
        return timeouts(json.loads(sys.argv[2]), float(sys.argv[3]))
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
