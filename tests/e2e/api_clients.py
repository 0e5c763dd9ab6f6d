#!/usr/bin/env python3
"""Plant clients that open a connection per request (run inside the monitor's network
namespace): THREADS threads, each in a loop of connect, one POST of a read route of the
HTTP API, read the reply, close; for SECONDS seconds, at most RATE requests a second per
thread (0: as fast as they can). Prints a progress line every 10 s and, at the end, one
line: "done requests N status S:N ... errors KIND:N ..." (a status other than 200 and 503
as S/ROUTE). Ends by itself, or at SIGTERM.

    api_clients.py THREADS SECONDS [RATE] [PORT]
"""
import collections
import datetime
import json
import signal
import socket
import sys
import threading
import time

REPLY_TIMEOUT_S = 10


def route_bodies():
    today = datetime.date.today().isoformat()
    day = {"starttime": today + " 00:00:00", "finishtime": today + " 23:59:59"}
    return [
        ("get_product_infos", {}),
        ("get_last_detectinfo", {}),
        ("get_records", {"datetime_start": day["starttime"], "datetime_end": day["finishtime"],
                         "recordtype": "API"}),
        ("production_count_bytime", day),
        ("get_detected_picture", {"camera_index": 0, "detect_index": 0, "detect_result": False,
                                  "picture_name": "none.jpg"}),
        ("subscriber_baseinfo", {"subscriber": []}),
    ]


def requests(port):
    out = []
    for route, body in route_bodies():
        data = json.dumps(body).encode()
        head = ("POST /v18/http/%s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Type: application/json\r\n"
                "Content-Length: %d\r\n\r\n" % (route, port, len(data))).encode()
        out.append((route, head + data))
    return out


def read_reply(sock):
    """The status code of one reply read whole (by its Content-Length)."""
    buf = b""
    while b"\r\n\r\n" not in buf:
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("closed before the reply" if not buf else "closed in the header")
        buf += chunk
    head, _, body = buf.partition(b"\r\n\r\n")
    lines = head.split(b"\r\n")
    status = int(lines[0].split()[1])
    length = 0
    for line in lines[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value)
    while len(body) < length:
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("closed in the body")
        body += chunk
    return status


class Counts:
    def __init__(self):
        self.lock = threading.Lock()
        self.total = 0
        self.status = collections.Counter()
        self.errors = collections.Counter()

    def add(self, status=None, error=None, route=""):
        with self.lock:
            self.total += 1
            if error:
                self.errors[error] += 1
            else:
                self.status[str(status) if status in (200, 503) else "%d/%s" % (status, route)] += 1

    def line(self):
        with self.lock:
            parts = ["requests %d" % self.total]
            parts += ["status %s:%d" % kv for kv in sorted(self.status.items())]
            parts += ["errors %s:%d" % kv for kv in sorted(self.errors.items())]
            return " ".join(parts)


def client(port, payloads, offset, rate, stop, counts):
    i = offset
    start = time.monotonic()
    sent = 0
    while not stop.is_set():
        if rate > 0:
            wait = start + sent / rate - time.monotonic()
            if wait > 0 and stop.wait(wait):
                break
        sent += 1
        sock = socket.socket()
        sock.settimeout(REPLY_TIMEOUT_S)
        try:
            sock.connect(("127.0.0.1", port))
            route, payload = payloads[i % len(payloads)]
            sock.sendall(payload)
            counts.add(status=read_reply(sock), route=route)
        except socket.timeout:
            counts.add(error="timeout")
        except ConnectionRefusedError:
            counts.add(error="refused")
            stop.wait(0.05)
        except (ConnectionError, OSError, ValueError, IndexError) as e:
            counts.add(error=type(e).__name__)
        finally:
            sock.close()
        i += 1


def main():
    threads = int(sys.argv[1])
    seconds = float(sys.argv[2])
    rate = float(sys.argv[3]) if len(sys.argv) > 3 else 0
    port = int(sys.argv[4]) if len(sys.argv) > 4 else 10100
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    counts = Counts()
    payloads = requests(port)
    workers = [threading.Thread(target=client, args=(port, payloads, n, rate, stop, counts), daemon=True)
               for n in range(threads)]
    for w in workers:
        w.start()
    end = time.monotonic() + seconds
    while not stop.is_set() and time.monotonic() < end:
        if stop.wait(min(10, max(0, end - time.monotonic()))):
            break
        print("at %.0f s: %s" % (seconds - max(0, end - time.monotonic()), counts.line()), flush=True)
    stop.set()
    for w in workers:
        w.join(REPLY_TIMEOUT_S + 1)
    print("done " + counts.line(), flush=True)


if __name__ == "__main__":
    main()
