#!/usr/bin/env python3
"""What a subscriber (tests/netservices/subscriber_listener.py) was pushed, one line each:
  record UUID OK|NG NG_DETECTIONS AT      the cycle record; NG_DETECTIONS: the 1-based detections
                                          with an NG ROI in its "detail" ("-" when none)
  picture UUID CAMERA DETECTION OK|NG AT  a picture (camera and detection 1-based)
AT: arrival, seconds since the epoch.
  pushed.py SUBSCRIBER_OUT"""
import base64
import json
import sys
import urllib.parse


def main():
    with open(sys.argv[1]) as lines:
        next(lines, None)   # the listener's port
        for line in lines:
            request = json.loads(line)
            path, _, query = request["path"].partition("?")
            uuid = request["headers"].get("User-Agent", "")
            if path.endswith("/post_detected_info"):
                record = json.loads(base64.b64decode(request["body"]))
                ng = sorted({d["detect_index"] + 1 for d in record.get("detail", [])
                             if not all(r["roi_result"] for r in d["rois"])})
                print("record %s %s %s %.3f" % (record.get("uuid", uuid), "OK" if record.get("detect_result") else "NG",
                                                ",".join(map(str, ng)) or "-", request["at"]))
            elif path.endswith("/post_detected_picture"):
                fields = dict(urllib.parse.parse_qsl(query))
                print("picture %s %d %d %s %.3f" % (uuid, int(fields["camera_index"]) + 1, int(fields["detect_index"]) + 1,
                                                    "OK" if fields["camera_result"] == "true" else "NG", request["at"]))


if __name__ == "__main__":
    main()
