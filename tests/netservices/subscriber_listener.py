#!/usr/bin/env python3
"""A subscriber of the HTTP API's push: prints its port, then one JSON line per
request it receives. --silent: never answers. --slow: reads bodies 64 KiB every 10 ms. --port N: listens on N.
--gate: answers only as stdin allows, each line a number of answers. --no-echo: answers without the User-Agent, as
most HTTP servers do. --close: answers as HTTP/1.0 and closes. --serial: one connection at a time, in the order they
came. Bodies over 1 MiB, and with --no-pictures those of pictures, are given by their length and SHA-256 only; "at" is
the arrival time (s since the epoch)."""
import base64
import hashlib
import http.server
import json
import sys
import threading
import time

SILENT = '--silent' in sys.argv
SLOW = '--slow' in sys.argv
PORT = int(sys.argv[sys.argv.index('--port') + 1]) if '--port' in sys.argv else 0
GATE = threading.Semaphore(0) if '--gate' in sys.argv else None
ECHO = '--no-echo' not in sys.argv and '--close' not in sys.argv
SERIAL = '--serial' in sys.argv
NO_PICTURES = '--no-pictures' in sys.argv
PRINTING = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.0' if '--close' in sys.argv else 'HTTP/1.1'

    def do_POST(self):
        length = int(self.headers.get('Content-Length', '0'))
        body = bytearray()
        while len(body) < length:
            chunk = self.rfile.read(min(65536 if SLOW else length - len(body), length - len(body)))
            if not chunk:
                break
            body += chunk
            if SLOW:
                time.sleep(0.01)
        whole = len(body) <= 1 << 20 and not (NO_PICTURES and self.headers.get('Content-Type') == 'image/jpeg')
        line = json.dumps({'path': self.path, 'headers': dict(self.headers.items()), 'at': time.time(),
                           'length': len(body), 'sha256': hashlib.sha256(bytes(body)).hexdigest(),
                           'body': base64.b64encode(bytes(body)).decode() if whole else ''})
        with PRINTING:   # requests arrive on several connections at once
            print(line, flush=True)
        if SILENT:
            time.sleep(60)
            return
        if GATE:
            GATE.acquire()
        answer = json.dumps({'code': 0, 'msg': 'OK', 'result': {'recv_time': 3, 'analysis_time': 4}}).encode()
        self.send_response(200)
        if ECHO:
            self.send_header('User-Agent', self.headers.get('User-Agent', ''))
        self.send_header('Content-Type', 'application/json')
        self.send_header('Content-Length', str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def log_message(self, *args):
        pass


def open_gate():
    for line in sys.stdin:
        GATE.release(int(line))


if GATE:
    threading.Thread(target=open_gate, daemon=True).start()
# A plant server's backlog, not Python's 5: a cycle's pushes connect at once.
http.server.HTTPServer.request_queue_size = 128
server = (http.server.HTTPServer if SERIAL else http.server.ThreadingHTTPServer)(('127.0.0.1', PORT), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
