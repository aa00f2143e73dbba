"""A minimal FastCGI client: one POST request on a Unix socket, as the
camera's web server would send it to quillon's JSON API."""
import json
import socket
import struct

_BEGIN, _END, _PARAMS, _STDIN, _STDOUT = 1, 3, 4, 5, 6


def _record(kind, content, request_id=1):
    return struct.pack(">BBHHBB", 1, kind, request_id, len(content), 0, 0) + content


def _pair(name, value):
    n, v = name.encode(), value.encode()
    def size(b):
        return struct.pack(">B", len(b)) if len(b) < 128 else struct.pack(">I", len(b) | 1 << 31)
    return size(n) + size(v) + n + v


def post(sock_path, script, body, timeout=5.0):
    """POSTs `body` (a dict, sent as JSON) to `script` (e.g. "admin.cgi");
    returns the decoded JSON reply."""
    data = json.dumps(body).encode()
    params = b"".join(_pair(k, v) for k, v in (
        ("REQUEST_METHOD", "POST"), ("SCRIPT_NAME", "/local/quillon/" + script),
        ("REQUEST_URI", "/local/quillon/" + script), ("CONTENT_TYPE", "application/json"),
        ("CONTENT_LENGTH", str(len(data)))))
    out = (_record(_BEGIN, struct.pack(">HB5x", 1, 0)) + _record(_PARAMS, params) +
           _record(_PARAMS, b"") + _record(_STDIN, data) + _record(_STDIN, b""))
    reply = b""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(timeout)
        s.connect(sock_path)
        s.sendall(out)
        buf = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            buf += chunk
            while len(buf) >= 8:
                _, kind, _, length, padding, _ = struct.unpack(">BBHHBB", buf[:8])
                if len(buf) < 8 + length + padding:
                    break
                content, buf = buf[8:8 + length], buf[8 + length + padding:]
                if kind == _STDOUT:
                    reply += content
                elif kind == _END:
                    text = reply.decode(errors="replace")
                    return json.loads(text.split("\r\n\r\n", 1)[-1] or "{}")
    raise OSError("quillon closed the FastCGI connection without an answer")
