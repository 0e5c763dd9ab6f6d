#!/usr/bin/python3
"""Independent peer of the camera discovery protocol, built from its byte table.

host:   asks for devices on the broadcast ports, then moves one with FORCEIP and sets
        its clock with WRITEREG; prints what the acknowledges held.
device: answers DISCOVERY with a made-up device and acknowledges FORCEIP; prints the commands.
reply:  answers one datagram, after a stray datagram from a second address.
"""
import json
import socket
import struct
import sys
import time

CMD_PORT, ACK_PORT = 3956, 10400


def ip(b):
    return socket.inet_ntoa(b)


def text(b):
    return b.split(b"\0", 1)[0].decode("ascii")


def command(code, payload=b""):
    return struct.pack(">BBHHH", 0x42, 0x11, code, len(payload), 1) + payload


def ack(code, payload):
    return struct.pack(">HHHH", 0, code, len(payload), 1) + payload


def udp(bind_ip, port, timeout):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((bind_ip, port))
    s.settimeout(timeout)
    return s


def collect(sock, seconds):
    out = []
    end = time.time() + seconds
    while time.time() < end:
        try:
            sock.settimeout(max(0.01, end - time.time()))
            out.append(sock.recvfrom(4096))
        except socket.timeout:
            break
    return out


def parse_discovery_ack(p):
    status, code, length, ack_id = struct.unpack(">HHHH", p[:8])
    return {"size": len(p), "status": status, "code": code, "length": length, "ackId": ack_id,
            "mac": p[8:14].hex(":"), "pad": p[14:16].hex(), "requester": ip(p[16:20]), "ip": ip(p[20:24]),
            "mask": ip(p[24:28]), "gateway": ip(p[28:32]), "gev": text(p[32:64]), "model": text(p[64:96]),
            "version": text(p[96:128]), "deviceClass": text(p[128:176]), "id": text(p[176:208]),
            "tailZero": p[208:224] == bytes(16)}


def run_host(local, new_ip):
    acks = udp("255.255.255.255", ACK_PORT, 1)
    send = udp(local, 0, 1)
    send.sendto(command(0x0002), ("255.255.255.255", CMD_PORT))
    found = [parse_discovery_ack(p) for p, _ in collect(acks, 1.0) if p[2:4] == b"\x00\x03"]
    result = {"discovery": found}
    if found:
        dev = found[0]
        payload = bytes(12) + socket.inet_aton(new_ip) + socket.inet_aton("255.255.255.0") + \
            socket.inet_aton(local) + dev["id"].encode().ljust(32, b"\0")[:32]
        send.sendto(command(0x0004, payload), ("255.255.255.255", CMD_PORT))
        fa = [p for p, _ in collect(acks, 1.0) if p[2:4] == b"\x00\x05"]
        result["forceipAck"] = [{"size": len(p), "code": struct.unpack(">H", p[2:4])[0],
                                 "length": struct.unpack(">H", p[4:6])[0], "requester": ip(p[16:20]),
                                 "ip": ip(p[20:24]), "id": text(p[32:64])} for p in fa]
        now = int(time.time() * 1000)
        send.sendto(command(0x0082, struct.pack("<II", 1, 0) + struct.pack("<q", now)), ("255.255.255.255", CMD_PORT))
        wa = [p for p, _ in collect(acks, 1.0) if p[2:4] == b"\x00\x83"]
        result["writeregAck"] = [{"size": len(p), "sub": struct.unpack("<I", p[8:12])[0],
                                  "timeOk": abs(struct.unpack("<q", p[16:24])[0] - now) < 60000} for p in wa]
        result["sentTime"] = now
    print(json.dumps(result))


def run_device(local, seconds):
    cmds = udp("255.255.255.255", CMD_PORT, 1)
    send = udp(local, 0, 1)
    print("ready", flush=True)
    device_id = "SC_#peer0001_#20260101_000000000"
    seen = []
    end = time.time() + seconds
    while time.time() < end:
        for p, (src, _) in collect(cmds, 0.2):
            if len(p) < 8 or p[0] != 0x42:
                continue
            code = struct.unpack(">H", p[2:4])[0]
            if code == 0x0002:
                seen.append({"cmd": "discovery", "size": len(p), "flags": p[1]})
                body = bytes.fromhex("02aabbccddee") + bytes(2) + socket.inet_aton(src) + \
                    socket.inet_aton("192.168.50.7") + socket.inet_aton("255.255.255.0") + \
                    socket.inet_aton("192.168.50.1") + b"GEV".ljust(32, b"\0") + b"PEER-MODEL-001".ljust(32, b"\0") + \
                    b"V2.8.6 180210 143913".ljust(32, b"\0") + b"PEER-CLASS1".ljust(48, b"\0") + \
                    device_id.encode() + bytes(16)
                send.sendto(ack(0x0003, body), ("255.255.255.255", ACK_PORT))
            elif code == 0x0004:
                seen.append({"cmd": "forceip", "size": len(p), "length": struct.unpack(">H", p[4:6])[0],
                             "zero": p[8:20] == bytes(12), "ip": ip(p[20:24]), "mask": ip(p[24:28]),
                             "gateway": ip(p[28:32]), "id": text(p[32:64])})
                body = bytes.fromhex("02aabbccddee") + bytes(2) + socket.inet_aton(src) + p[20:32] + p[32:64]
                send.sendto(ack(0x0005, body), ("255.255.255.255", ACK_PORT))
            elif code == 0x0082:
                seen.append({"cmd": "writereg", "size": len(p), "sub": struct.unpack("<I", p[8:12])[0]})
    print(json.dumps({"seen": seen}))


def run_reply(local, stray_ip, port):
    s = udp(local, port, 10)
    print("ready", flush=True)
    p, sender = s.recvfrom(4096)
    stray = udp(stray_ip, 0, 1)
    stray.sendto(b"stray", sender)
    time.sleep(0.1)
    s.sendto(b"answer:" + p, sender)
    print(json.dumps({"got": p.decode()}))


if __name__ == "__main__":
    mode = sys.argv[1]
    if mode == "host":
        run_host(sys.argv[2], sys.argv[3])
    elif mode == "device":
        run_device(sys.argv[2], float(sys.argv[3]))
    else:
        run_reply(sys.argv[2], sys.argv[3], int(sys.argv[4]))
