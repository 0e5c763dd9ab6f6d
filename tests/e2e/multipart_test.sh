#!/usr/bin/env bash
# A slow multipart upload (part heads of thousands of lines, then a body of many
# parts) must not hold back another client's request on the HTTP API.
BUILD="$1"; SRC="$2"
. "$(dirname "$0")/lib.sh"
if ! grep -q 'initStart' "$SRC"/src/app/*.cpp; then
  echo "SKIP: the program does not start the network hub yet"; exit 77
fi
e2e_setup
e2e_demo_data --frames part --delay 0
e2e_api_on
e2e_start
e2e_wait_for "main window shown" 120
sleep 1

nsenter --net="/proc/$(cat "$MM_PID_FILE")/ns/net" -- python3 - "$(e2e_load_factor)" <<'PY'
import socket, statistics, sys, threading, time

# A loaded machine delays any one answer by its scheduler's share; a request held behind the
# upload's parsing waits for the whole of it, seconds for these bodies.
MARGIN_MS = 100 * int(sys.argv[1])

HOST, PORT = "127.0.0.1", 10100

def request(path, body, content_type):
    head = ("POST %s HTTP/1.1\r\nHost: x\r\nContent-Type: %s\r\nContent-Length: %d\r\n\r\n"
            % (path, content_type, len(body))).encode()
    return head + body

def answer(sock):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            return data
        data += chunk
    head, _, rest = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            length = int(line.split(b":")[1])
    while len(rest) < length:
        chunk = sock.recv(65536)
        if not chunk:
            break
        rest += chunk
    return head

def timed_probe():
    with socket.create_connection((HOST, PORT), timeout=30) as s:
        start = time.monotonic()
        s.sendall(request("/v18/http/get_product_infos", b"{}", "application/json"))
        answer(s)
        return (time.monotonic() - start) * 1000

def heads_body(lines):
    # The reproducer: one part head of many Content-Disposition lines.
    head = b"".join(b'Content-Disposition: form-data; name="p%d"\r\n' % i for i in range(lines))
    return b"--B\r\n" + head + b"\r\n" + b"x\r\n--B--\r\n"

def parts_body(parts, size):
    out = []
    for i in range(parts):
        out.append(b'--B\r\nContent-Disposition: form-data; name="f%d"\r\nContent-Type: application/octet-stream\r\n\r\n' % i)
        out.append(b"z" * size + b"\r\n")
    out.append(b"--B--\r\n")
    return b"".join(out)

def upload(body, results):
    with socket.create_connection((HOST, PORT), timeout=120) as s:
        s.sendall(request("/v18/http/get_product_infos", body, "multipart/form-data; boundary=--B"))
        head = answer(s)
        results.append(head.split(b"\r\n")[0].decode(errors="replace"))

baseline = [timed_probe() for _ in range(10)]
worst = []
for body in (heads_body(32000), parts_body(1024, 48 * 1024)):
    results = []
    t = threading.Thread(target=upload, args=(body, results))
    t.start()
    while t.is_alive():
        worst.append(timed_probe())
        time.sleep(0.01)
    t.join()
    print("upload answered:", results)
limit = max(baseline) + MARGIN_MS
print("baseline max %.1f ms, during uploads max %.1f ms over %d probes" % (max(baseline), max(worst or [0]), len(worst)))
if not worst or max(worst) > limit:
    print("FAIL: another client's request waited more than %d ms beyond its usual time" % MARGIN_MS)
    sys.exit(1)
PY
e2e_stop || { echo "FAIL: unclean exit"; exit 1; }
echo "PASS"
