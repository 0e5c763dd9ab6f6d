#!/usr/bin/python3
"""WebSocket peers for the JSON channel tests, built on python3-websocket.

clients: many clients against a server that echoes each message to its sender.
gone:    a message for a client that has left must not reach a client that came after it.
server:  one-connection echo server (with or without pongs) for the client flavour.
"""
import argparse
import base64
import hashlib
import json
import os
import socket
import struct
import sys
import time

import websocket

GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"


def msg(url, ua, data):
    return json.dumps({"url": url, "user_agent": ua, "data": data})


def recv_json(ws, timeout):
    ws.settimeout(timeout)
    try:
        return json.loads(ws.recv())
    except (websocket.WebSocketTimeoutException, socket.timeout):
        return None


def run_clients(port, count, messages):
    url = "ws://127.0.0.1:%d" % port
    conns = [websocket.create_connection(url, timeout=5) for _ in range(count)]
    # "data" that is not an object is dropped: the next answer is the real echo.
    conns[0].send(msg("a", "b", []))
    conns[0].send('{"url":"a"')
    for j in range(messages):
        for i, ws in enumerate(conns):
            ws.send(msg("/echo", "c%d-%d" % (i, j), {"i": i, "j": j}))
    wrong = 0
    got = 0
    for i, ws in enumerate(conns):
        for j in range(messages):
            reply = recv_json(ws, 5)
            if reply is None:
                break
            got += 1
            if reply["data"] != {"i": i, "j": j} or reply["user_agent"] != "c%d-%d" % (i, j):
                wrong += 1
    extra = sum(1 for ws in conns if recv_json(ws, 0.2) is not None)
    for ws in conns:
        ws.close()
    print(json.dumps({"received": got, "wrong": wrong, "extra": extra}))


def run_gone(port, rounds, clients=10):
    url = "ws://127.0.0.1:%d" % port
    # Many clients leave, then as many arrive, so that new connections are placed where the
    # server kept gone ones: none may receive what was meant for a gone one.
    wrong = 0
    for _ in range(rounds):
        leaving = [websocket.create_connection(url, timeout=5) for _ in range(clients)]
        for ws in leaving:
            ws.send(msg("/remember", "x", {}))
            recv_json(ws, 3)   # the server has taken note
        for ws in leaving:
            ws.close()
        time.sleep(0.05)
        arriving = [websocket.create_connection(url, timeout=5) for _ in range(clients)]
        arriving[-1].send(msg("/trigger", "y", {}))
        for ws in arriving:
            first = recv_json(ws, 3)
            if not first or first["url"] != "/all":
                wrong += 1
            ws.close()
    # A message larger than the limit closes that connection; a new one still works.
    big = websocket.create_connection(url, timeout=5)
    closed = False
    try:
        # The server may close while the message is still going out (a broken pipe here).
        big.send(msg("/big", "z", {"pad": "p" * (1024 * 1024 + 10)}))
        big.settimeout(3)
        big.recv()
        closed = not big.connected
    except Exception:
        closed = True
    again = websocket.create_connection(url, timeout=5)
    again.send(msg("/echo", "after", {"k": 1}))
    after = recv_json(again, 3)
    again.close()
    print(json.dumps({"rounds": rounds, "wrong": wrong, "bigClosed": closed,
                      "after": after["user_agent"] if after else None}))


def read_exact(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def read_frame(conn):
    b0, b1 = read_exact(conn, 2)
    length = b1 & 0x7F
    if length == 126:
        length = struct.unpack(">H", read_exact(conn, 2))[0]
    elif length == 127:
        length = struct.unpack(">Q", read_exact(conn, 8))[0]
    mask = read_exact(conn, 4) if b1 & 0x80 else b"\0\0\0\0"
    payload = bytes(c ^ mask[i % 4] for i, c in enumerate(read_exact(conn, length)))
    return b0 & 0x0F, payload


def run_server(port_file, pong, seconds):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.rename(port_file + ".tmp", port_file)
    pings = 0
    deadline = time.time() + seconds
    # Connections are served one after the other: a client that gave up may try again.
    while time.time() < deadline:
        listener.settimeout(max(0.1, deadline - time.time()))
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            break
        pings += serve(conn, pong, deadline)
    print(json.dumps({"pings": pings}))


def serve(conn, pong, deadline):
    pings = 0
    conn.settimeout(max(0.1, deadline - time.time()))
    try:
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = conn.recv(4096)
            if not chunk:
                return 0
            head += chunk
        key = [l.split(b":", 1)[1].strip() for l in head.split(b"\r\n")
               if l.lower().startswith(b"sec-websocket-key")][0]
        accept = base64.b64encode(hashlib.sha1(key + GUID.encode()).digest())
        conn.sendall(b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     b"Sec-WebSocket-Accept: " + accept + b"\r\n\r\n")
        while time.time() < deadline:
            opcode, payload = read_frame(conn)
            if opcode == websocket.ABNF.OPCODE_TEXT:
                conn.sendall(websocket.ABNF(1, 0, 0, 0, websocket.ABNF.OPCODE_TEXT, 0, payload).format())
            elif opcode == websocket.ABNF.OPCODE_PING:
                pings += 1
                if pong:
                    conn.sendall(websocket.ABNF(1, 0, 0, 0, websocket.ABNF.OPCODE_PONG, 0, payload).format())
            elif opcode == websocket.ABNF.OPCODE_CLOSE:
                break
    except (EOFError, IndexError, socket.timeout, OSError):
        pass
    finally:
        conn.close()
    return pings


def main():
    p = argparse.ArgumentParser()
    p.add_argument("mode", choices=["clients", "gone", "server"])
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--count", type=int, default=8)
    p.add_argument("--messages", type=int, default=20)
    p.add_argument("--port-file", default="")
    p.add_argument("--no-pong", action="store_true")
    p.add_argument("--seconds", type=float, default=20)
    a = p.parse_args()
    if a.mode == "clients":
        run_clients(a.port, a.count, a.messages)
    elif a.mode == "gone":
        run_gone(a.port, a.count)
    else:
        run_server(a.port_file, not a.no_pong, a.seconds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
