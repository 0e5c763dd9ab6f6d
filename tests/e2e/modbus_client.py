#!/usr/bin/env python3
"""A libmodbus client (through ctypes) for the monitor's Modbus server.

    modbus_client.py PORT read COUNT     prints holding registers 0..COUNT-1
    modbus_client.py PORT reset          writes 1 to register 4 (function 16)
"""
import ctypes
import os
import sys


def main():
    port, action = int(sys.argv[1]), sys.argv[2]
    lib = ctypes.CDLL("libmodbus.so.5")
    lib.modbus_new_tcp.restype = ctypes.c_void_p
    lib.modbus_strerror.restype = ctypes.c_char_p
    for name in ("modbus_connect", "modbus_read_registers", "modbus_write_registers", "modbus_close",
                 "modbus_free"):
        getattr(lib, name).argtypes = [ctypes.c_void_p] + ([ctypes.c_int, ctypes.c_int, ctypes.c_void_p]
                                                           if "registers" in name else [])
    ctx = lib.modbus_new_tcp(b"127.0.0.1", port)
    # libmodbus's 0.5 s answer time, stretched as the e2e tests stretch their waits for a slow
    # (sanitized) monitor, whose reset waits for the detection in progress.
    answer_us = int(500000 * float(os.environ.get("E2E_SLOW", "1")))
    lib.modbus_set_response_timeout.argtypes = [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32]
    lib.modbus_set_response_timeout(ctx, answer_us // 1000000, answer_us % 1000000)
    try:
        if lib.modbus_connect(ctx) != 0:
            sys.exit("connect: " + lib.modbus_strerror(ctypes.get_errno()).decode())
        if action == "read":
            count = int(sys.argv[3])
            regs = (ctypes.c_uint16 * count)()
            if lib.modbus_read_registers(ctx, 0, count, regs) != count:
                sys.exit("read failed")
            print(" ".join(str(r) for r in regs))
        elif action == "reset":
            if lib.modbus_write_registers(ctx, 4, 1, (ctypes.c_uint16 * 1)(1)) != 1:
                sys.exit("reset failed")
            print("reset")
        else:
            sys.exit(__doc__)
    finally:
        lib.modbus_close(ctx)
        lib.modbus_free(ctx)


if __name__ == "__main__":
    main()
