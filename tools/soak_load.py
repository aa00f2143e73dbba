#!/usr/bin/python3
"""Steady load on the main job for tools/soak.sh.

Each second: quillon API reads and, every fifth second, a settings write and a
zone change (which quillon reports as an event through camsim); a VISCA
command and a position inquiry over UDP to korund; korund's and libpavane's
CGI. Every INTERVAL seconds one CSV row: time, requests and error replies
per kind (an error reply: no answer, a refused HTTP status, a JSON "error", or
a VISCA error packet). The load itself never injects errors.
"""
import argparse
import json
import socket
import struct
import sys
import time
import urllib.request


def post(url, body):
    data = json.dumps(body).encode()
    req = urllib.request.Request(url, data=data, headers={"Content-Type": "application/json"})
    try:
        with urllib.request.urlopen(req, timeout=10) as r:
            reply = json.loads(r.read().decode() or "null")
    except Exception as e:  # refused, timed out, HTTP error, bad JSON
        return False, str(e)
    ok = isinstance(reply, dict) and "error" not in reply
    return ok, reply


class Visca:
    def __init__(self, address):
        host, port = address.split(":")
        self.peer = (host, int(port))
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.settimeout(5)
        self.seq = 0

    def send(self, payload):
        """Replies to one packet: True when none is an error."""
        self.seq = (self.seq + 1) & 0xFFFFFFFF
        self.sock.sendto(struct.pack(">BBHI", 1, 0x00 if payload[1] == 1 else 0x10,
                                     len(payload), self.seq) + bytes(payload), self.peer)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            try:
                data, _ = self.sock.recvfrom(64)
            except socket.timeout:
                return False
            if len(data) < 10 or struct.unpack(">I", data[4:8])[0] != self.seq:
                continue  # a late reply to an earlier packet
            body = data[8:]
            if (body[1] & 0xF0) == 0x60:
                return False
            if (body[1] & 0xF0) in (0x50,):  # completion or inquiry answer
                return True
        return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--http", required=True)
    ap.add_argument("--visca", required=True)
    ap.add_argument("--interval", type=float, default=10)
    ap.add_argument("--out", required=True)
    a = ap.parse_args()
    base = "http://" + a.http
    quillon = base + "/local/quillon/operator.cgi"
    korund = base + "/local/korund/viscacontrol.cgi"
    pavane = base + "/local/pavane/videooutput2.cgi"
    visca = Visca(a.visca)
    kinds = ["quillon", "visca", "korund_cgi", "pavane_cgi"]
    counts = {k: [0, 0] for k in kinds}
    start = time.monotonic()
    next_row = start + a.interval
    tick = 0
    with open(a.out, "w", buffering=1) as out:
        out.write("time_s," + ",".join(f"{k}_requests,{k}_errors" for k in kinds) + "\n")

        def count(kind, ok, detail=None):
            counts[kind][0] += 1
            if not ok:
                counts[kind][1] += 1
                print(f"{time.monotonic() - start:.0f}s {kind} error: {detail}", file=sys.stderr)

        while True:
            t0 = time.monotonic()
            for method in ("getSupportedVersions", "getAutotrackingSettings"):
                ok, r = post(quillon, {"method": method, "params": {}})
                count("quillon", ok, r)
            if tick % 5 == 0:
                ok, r = post(quillon, {"method": "setAutotrackingSettings", "params": {
                    "minObjectLifespan": {"time": 2 + tick % 2, "enabled": True}}})
                count("quillon", ok, r)
                ok, r = post(quillon, {"method": "updateProfile",
                                       "params": {"id": 1, "enabled": tick % 10 == 0}})
                count("quillon", ok, r)
            count("visca", visca.send([0x81, 0x01, 0x04, 0x07, 0x00, 0xFF]), "zoom stop")
            count("visca", visca.send([0x81, 0x09, 0x06, 0x12, 0xFF]), "position inquiry")
            ok, r = post(korund, {"apiVersion": "1.0", "method": "getActiveInterface"})
            count("korund_cgi", ok, r)
            ok, r = post(pavane, {"apiVersion": "1.0", "method": "getOutputs"})
            count("pavane_cgi", ok, r)
            ok, r = post(pavane, {"apiVersion": "1.0", "method": "getScanMode", "params": {"id": 1}})
            count("pavane_cgi", ok, r)
            tick += 1
            now = time.monotonic()
            if now >= next_row:
                out.write(f"{now - start:.0f}," +
                          ",".join(f"{counts[k][0]},{counts[k][1]}" for k in kinds) + "\n")
                next_row += a.interval
            time.sleep(max(0.0, 1.0 - (time.monotonic() - t0)))


if __name__ == "__main__":
    main()
