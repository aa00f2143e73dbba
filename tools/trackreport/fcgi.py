"""A minimal FastCGI client: one POST to quillon's socket, as the web server
would send it, for the JSON API calls a run needs (no web server)."""

import socket
import struct

BEGIN, END, PARAMS, STDIN, STDOUT = 1, 3, 4, 5, 6


def _record(kind, content, request=1):
    return struct.pack(">BBHHBx", 1, kind, request, len(content), 0) + content


def _pair(name, value):
    def length(n):
        return bytes([n]) if n < 128 else struct.pack(">I", n | 0x80000000)
    return length(len(name)) + length(len(value)) + name + value


def post(path, script, body, timeout=5.0):
    """POSTs `body` (bytes) to `script` through the FastCGI socket `path`;
    returns the response body (bytes, headers stripped)."""
    params = b"".join(_pair(k.encode(), v.encode()) for k, v in {
        "REQUEST_METHOD": "POST", "SCRIPT_NAME": script, "CONTENT_TYPE": "application/json",
        "CONTENT_LENGTH": str(len(body))}.items())
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(timeout)
        s.connect(path)
        s.sendall(_record(BEGIN, struct.pack(">HB5x", 1, 0)) + _record(PARAMS, params) +
                  _record(PARAMS, b"") + _record(STDIN, body) + _record(STDIN, b""))
        data, out = b"", b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
            while len(data) >= 8:
                _, kind, _, size, pad = struct.unpack(">BBHHB", data[:7])
                if len(data) < 8 + size + pad:
                    break
                if kind == STDOUT:
                    out += data[8:8 + size]
                data = data[8 + size + pad:]
                if kind == END:
                    return out.split(b"\r\n\r\n", 1)[-1]
    return out.split(b"\r\n\r\n", 1)[-1]
