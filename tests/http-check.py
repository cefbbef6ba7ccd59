#!/usr/bin/env python3
"""Runs the HTTP transcripts (tests/http/*.txt) against a local server.

Usage: http-check.py KIV TRANSCRIPT-RUNNER FOLDER

The server listens on 127.0.0.1 at a free port; the transcripts find it in
KIV_TEST_HTTP (its base url) and find a port that refuses connections in
KIV_TEST_REFUSED. Proxy settings are cleared so every request stays local.

Paths served:
  /text          "line one\\r\\nline two\\r\\n" as text/plain
  /bytes         00 01 0D 0A FE FF as application/octet-stream
  /echo...       any method: the request line, every header but Host, a
                 blank line and the body; for HEAD the method and the body
                 length come back as X-Method and X-Body-Length
  /headers       a raw response with a repeated name, a value without a
                 space after the colon, padded and Latin-1 values
  /redirect      302 to /redirect2 (with X-Old), which 301s to /text
  /loop          302 to itself, for ever
  /status/N      status N with the body "status N"
  /script        "1 + 2 [x]" as text/plain
  /json          {"a": [1, 2]} as application/json
"""
import http.server
import os
import socket
import subprocess
import sys
import threading


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def __getattr__(self, name):
        # Every method, whatever its name, is served by `serve`.
        if name.startswith("do_"):
            return self.serve
        raise AttributeError(name)

    def reply(self, status, body, ctype="text/plain", extra=()):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        for k, v in extra:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def serve(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if length else b""
        path = self.path
        if path == "/text":
            self.reply(200, b"line one\r\nline two\r\n")
        elif path == "/bytes":
            self.reply(200, b"\x00\x01\r\n\xfe\xff", "application/octet-stream")
        elif path.startswith("/echo"):
            lines = [f"{self.command} {path}"]
            lines += [f"{k}: {v}" for k, v in self.headers.items() if k != "Host"]
            text = ("\n".join(lines) + "\n\n").encode("latin-1") + body
            self.reply(200, text, extra=[("X-Method", self.command),
                                         ("X-Body-Length", str(len(body)))])
        elif path == "/headers":
            self.wfile.write(b"HTTP/1.0 200 OK\r\n"
                             b"X-Twice: one\r\n"
                             b"X-Twice: two\r\n"
                             b"x-twice: three\r\n"
                             b"X-Tight:value\r\n"
                             b"X-Pad: \t padded \t\r\n"
                             b"X-Latin: caf\xe9\r\n"
                             b"Content-Length: 2\r\n"
                             b"\r\nok")
            self.close_connection = True
        elif path == "/redirect":
            self.reply(302, b"", extra=[("Location", "/redirect2"), ("X-Old", "gone")])
        elif path == "/redirect2":
            self.reply(301, b"", extra=[("Location", "/text")])
        elif path == "/loop":
            self.reply(302, b"", extra=[("Location", "/loop")])
        elif path.startswith("/status/"):
            code = int(path[8:])
            self.reply(code, f"status {code}".encode())
        elif path == "/script":
            self.reply(200, b"1 + 2 [x]")
        elif path == "/json":
            self.reply(200, b'{"a": [1, 2]}', "application/json")
        else:
            self.reply(404, b"no such path")


def refused_port():
    # A port that was free a moment ago and that nothing listens on.
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    kiv, runner, folder = sys.argv[1:4]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    env["KIV_TEST_HTTP"] = f"http://127.0.0.1:{server.server_address[1]}"
    env["KIV_TEST_REFUSED"] = f"http://127.0.0.1:{refused_port()}/"
    try:
        return subprocess.run([sys.executable, runner, kiv, folder], env=env,
                              timeout=600).returncode
    finally:
        server.shutdown()


if __name__ == "__main__":
    sys.exit(main())
