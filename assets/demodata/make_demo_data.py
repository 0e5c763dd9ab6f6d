#!/usr/bin/env python3
"""Lays the demo data into an application folder: one simulated camera that
shows a mould with and without a left-over part, the learnt template of the
mould detection, two ROIs over the cavities, the parameters, and the camera
script. Only the Python standard library is used.

  make_demo_data.py APP_DIR [--frames mix|empty|part] [--fps N]
                    [--delay TENTHS] [--ok-mold-number N] [--lost-file NAME]
                    [--reconnect-failures N] [--cameras N] [--rois N]
"""
import argparse
import json
import os
import sqlite3
import struct
import zlib

WIDTH, HEIGHT = 1280, 1024
DEFAULT_SCREEN = "1920x1080"             # the display the ROIs are drawn for
BACKGROUND, PLATE, CAVITY, HOLE, PART = 35, 120, 70, 20, 235
POSITION_ANGLE = 2                       # degrees searched each way by the positioning
ROI_SENSITIVITY = 45                     # a new "Defect" ROI's default
CAVITIES = [(260, 300, 560, 720), (720, 300, 1020, 720)]  # image x1, y1, x2, y2
PART_BOX = (380, 460, 470, 560)                           # left-over part in cavity 1


def mould_image(with_part):
    rows = []
    for y in range(HEIGHT):
        row = bytearray([BACKGROUND]) * WIDTH
        if 120 <= y < 900:
            shade = PLATE + (y - 120) * 20 // 780
            row[140:1140] = bytes([shade]) * 1000
        for x1, y1, x2, y2 in CAVITIES:
            if y1 <= y < y2:
                row[x1:x2] = bytes([CAVITY]) * (x2 - x1)
        # Bolt holes and guide marks give the alignment something to hold on to.
        for cx in range(200, 1100, 150):
            for cy in (170, 850):
                dy = y - cy
                if abs(dy) <= 18:
                    half = int((18 * 18 - dy * dy) ** 0.5)
                    row[cx - half:cx + half] = bytes([HOLE]) * (2 * half)
        if 600 <= y < 640:
            row[600:680] = bytes([200]) * 80
        if with_part and PART_BOX[1] <= y < PART_BOX[3]:
            row[PART_BOX[0]:PART_BOX[2]] = bytes([PART]) * (PART_BOX[2] - PART_BOX[0])
        rows.append(bytes(row))
    return rows


def write_png(path, rows):
    raw = b"".join(b"\x00" + r for r in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 0, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_bmp8(path, rows):
    """8-bit BMP with the 256-grey palette, bottom-up rows (width is a multiple of 4)."""
    palette = b"".join(bytes([i, i, i, 0]) for i in range(256))
    pixels = b"".join(reversed(rows))
    offset = 14 + 40 + len(palette)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset))
        f.write(struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(pixels), 2835, 2835, 256, 0))
        f.write(palette + pixels)


def items(*values):
    return " ".join(str(v) for v in values)


def sysparam_rows(args):
    system1 = items(0, 0, 0, 0, 0, 0, 0, 5, 0)             # positioning on, okRecordNum 5
    system2 = items(0, 10, 3, 20, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 8000, 0, 12, 60)  # 20 NG pictures, English
    system3 = items(0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0)        # the safety door lifts the alarm; defect check on
    system14 = items(0, 0, args.ok_mold_number, *([0] * 17))
    zeros20 = items(*([0] * 20))
    delays = items(args.delay, args.delay, *([0] * 6))
    return {
        "trigInDelay": delays, "exposeTime": "30 30 30 30", "sharp": "0 0 0 0", "contrast": "50 50 50 50",
        "adjustPlus": "32 32 32 32", "numFailDetect": items(*([0] * 8)), "numAllDetect": items(*([70] * 8)),
        "isPswUsed": "0", "password": "", "system1": system1, "system2": system2, "system3": system3,
        "system4": "0 3 100", "system5": items(*([0] * 9), POSITION_ANGLE, 0, 0, 0), "system6": items(*([0] * 12)),
        "system7": zeros20, "system8": items(2, *([0] * 19)), "system9": items(*([0] * 8), 5, 5, *([0] * 10)),
        "system10": items(*([0] * 16), 31, 0, 0, 1), "system11": zeros20, "system12": zeros20,
        "system13": zeros20, "system14": system14, "NgShowSwitch": "1", "isColors": items(*([0] * 8)),
    }


def display(x, y, screen):
    """Stored ROI corners are pixels of the whole screen the monitor runs on."""
    return round(x * screen[0] / WIDTH), round(y * screen[1] / HEIGHT)


def roi_boxes(count):
    """The two cavities first, then small boxes along the plate's upper and lower bands."""
    boxes = [(x1 + 10, y1 + 10, x2 - 10, y2 - 10) for x1, y1, x2, y2 in CAVITIES]
    for y in (200, 760):
        for x in range(160, 1100, 90):
            boxes.append((x, y, x + 60, y + 40))
    return boxes[:count]


def camera_rows(rois, screen):
    rows = {"detect%d" % g: items(*([0] * 9)) for g in range(8)}
    boxes = roi_boxes(rois)
    rows["detect1"] = items(len(boxes), *([0] * 8))
    for r, (x1, y1, x2, y2) in enumerate(boxes):
        (dx1, dy1), (dx2, dy2) = display(x1, y1, screen), display(x2, y2, screen)
        # min size 3, default sensitivity, area 100, defect check, rectangle, output N1/N2
        rows["ROI1-%d" % r] = items(3, ROI_SENSITIVITY, 100, 0, 1, r % 2, 0, dx1, dy1, dx2, dy2)
    return rows


def write_database(path, args):
    if os.path.exists(path):
        os.remove(path)
    db = sqlite3.connect(path)
    db.execute("CREATE TABLE sysparam (name TEXT, value TEXT)")
    db.executemany("INSERT INTO sysparam VALUES (?, ?)", sysparam_rows(args).items())
    for camera in range(8):
        db.execute("CREATE TABLE cammer%d (name TEXT, value TEXT)" % camera)
        if camera < args.cameras:
            db.executemany("INSERT INTO cammer%d VALUES (?, ?)" % camera, camera_rows(args.rois, args.screen).items())
    db.commit()
    db.close()


def screen_size(text):
    try:
        width, height = (int(v) for v in text.lower().split("x"))
    except ValueError:
        raise argparse.ArgumentTypeError("expected WIDTHxHEIGHT, got %r" % text)
    if not (320 <= width <= 16384 and 240 <= height <= 16384):
        raise argparse.ArgumentTypeError("screen size out of range: %r" % text)
    return width, height


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("app")
    parser.add_argument("--frames", choices=["mix", "empty", "part"], default="mix")
    parser.add_argument("--fps", type=int, default=1)
    parser.add_argument("--delay", type=int, default=5, help="trigger delay in tenths of a second")
    parser.add_argument("--ok-mold-number", type=int, default=0)
    parser.add_argument("--lost-file", default="", help="the camera is lost when this file appears")
    parser.add_argument("--reconnect-failures", type=int, default=0, help="failed reconnects after a loss")
    parser.add_argument("--cameras", type=int, default=1, choices=range(1, 9), help="simulated cameras, 1..8")
    parser.add_argument("--rois", type=int, default=2, help="ROIs of the mould detection per camera, 2..24")
    parser.add_argument("--screen", type=screen_size, default=DEFAULT_SCREEN,
                        help="WIDTHxHEIGHT of the screen the monitor will run on (ROIs are stored in its pixels)")
    args = parser.parse_args()

    app = os.path.abspath(args.app)
    for sub in ("demo", "Plugins/Cameras", "cnt_net"):
        os.makedirs(os.path.join(app, sub), exist_ok=True)
    empty, part = mould_image(False), mould_image(True)
    write_png(os.path.join(app, "demo/mould_empty.png"), empty)
    write_png(os.path.join(app, "demo/mould_part.png"), part)
    # Template 0 of the mould detection (group index 1) of every camera: "cammer<camera><group>".
    for camera in range(args.cameras):
        folder = os.path.join(app, "cammer%d2" % (camera + 1))
        os.makedirs(folder, exist_ok=True)
        write_bmp8(os.path.join(folder, "template0.bmp"), empty)
    write_database(os.path.join(app, "PARAM.db"), args)
    with open(os.path.join(app, "demo/screen"), "w") as f:
        f.write("%dx%d\n" % args.screen)

    frames = {"mix": ["empty"] * 3 + ["part"], "empty": ["empty"], "part": ["part"]}[args.frames]
    cameras = []
    for index in range(args.cameras):
        camera = {"serial": "DEMO-CAM-%04d" % (index + 1), "width": WIDTH, "height": HEIGHT, "color": False,
                  "fps": args.fps, "frames": ["../../demo/mould_%s.png" % f for f in frames]}
        if args.lost_file:
            camera["lossWhenFile"] = "../../" + args.lost_file
            camera["reconnectFailures"] = args.reconnect_failures
        cameras.append(camera)
    with open(os.path.join(app, "Plugins/Cameras/simcamera.json"), "w") as f:
        json.dump({"real": cameras}, f, indent=2)
    config = os.path.join(app, "cnt_net/config.json")
    if not os.path.exists(config):
        with open(config, "w") as f:
            json.dump({"version": "", "camcount": 0}, f, indent=2)


if __name__ == "__main__":
    main()
