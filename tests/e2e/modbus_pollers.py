#!/usr/bin/env python3
"""Plant pollers against a Modbus server: each keeps one connection, from ADDRESSES addresses
(127.0.0.10, .11, ...; one each by default, fewer for pollers behind a gateway), and reads
registers 0-4 every PERIOD seconds, as a plant system's driver does. Half of them watch their connection between reads and open it again a second after the
server closed it; the other half find out at their next read (as a libmodbus client does),
which fails, and open it again a second later.

    modbus_pollers.py PORT POLLERS SECONDS [PERIOD [ADDRESSES]]

Prints one line: the reads, the failed reads, the connections the server traded away (closed
after they had served a while) and the connections it refused (closed at once).
"""
import select
import socket
import sys
import threading
import time

ANSWER_S = 1.0
RECONNECT_S = 1.0
# The server trades only connections silent for 2 s; one refused is closed at once.
TRADED_AGE_S = 1.0
READ = bytes.fromhex("0000" "0000" "0006" "01" "03" "0000" "0005")


def poller(index, count, addresses, port, period, until, totals, lock):
    reads = failed = traded = refused = 0
    sock, opened = None, 0.0
    # Spread over the period, as independent pollers are.
    next_read = time.monotonic() + period * index / count
    tid = 0

    def count_close(traded, refused):
        if time.monotonic() - opened >= TRADED_AGE_S:
            return traded + 1, refused
        return traded, refused + 1

    def drop():
        nonlocal sock
        sock.close()
        sock = None
        time.sleep(RECONNECT_S)

    while time.monotonic() < until:
        if sock is None:
            try:
                sock = socket.socket()
                sock.bind(("127.0.0.%d" % (10 + index % addresses), 0))
                sock.settimeout(ANSWER_S)
                sock.connect(("127.0.0.1", port))
                opened = time.monotonic()
            except OSError:
                drop()
                continue
        wait = max(0.0, min(next_read, until) - time.monotonic())
        if index % 2:
            time.sleep(wait)
        elif select.select([sock], [], [], wait)[0]:
            try:
                gone = sock.recv(1) == b""
            except OSError:
                gone = True
            if gone:
                traded, refused = count_close(traded, refused)
                drop()
                continue
        if time.monotonic() < next_read or time.monotonic() >= until:
            continue
        next_read += period
        tid = (tid + 1) & 0xFFFF
        reads += 1
        answer, closed = b"", False
        try:
            sock.sendall(tid.to_bytes(2, "big") + READ[2:])
            while len(answer) < 19:
                chunk = sock.recv(19 - len(answer))
                if not chunk:
                    closed = True
                    break
                answer += chunk
        except socket.timeout:
            pass
        except OSError:
            closed = True
        if len(answer) != 19 or answer[:2] != tid.to_bytes(2, "big") or answer[7] != 3:
            failed += 1
            if closed:
                traded, refused = count_close(traded, refused)
            drop()
    if sock is not None:
        sock.close()
    with lock:
        for i, n in enumerate((reads, failed, traded, refused)):
            totals[i] += n


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    port, count, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
    period = float(sys.argv[4]) if len(sys.argv) > 4 else 5.0
    addresses = int(sys.argv[5]) if len(sys.argv) > 5 else count
    until = time.monotonic() + seconds
    totals, lock = [0, 0, 0, 0], threading.Lock()
    threads = [threading.Thread(target=poller, args=(i, count, addresses, port, period, until, totals, lock))
               for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print("pollers %d from %d addresses, %.0f s, a read every %.0f s: reads %d, failed %d, traded %d, refused %d"
          % (count, addresses, seconds, period, *totals))


if __name__ == "__main__":
    main()
