#!/usr/bin/env python3
"""A small HTTP server on 127.0.0.1 for the client's and the downloader's
edge cases. It prints its port on the first line of stdout, then serves
until it has answered --max-requests requests or --lifetime seconds have
passed, whichever comes first.

  /bytes/N          200, N bytes of a fixed pattern, with Content-Length
  /status/CODE      that status with a short body
  /nolength/N       200, N bytes, no Content-Length (the connection closes)
  /short/N          200, Content-Length N, only N/2 bytes, then the close
  /stall/SECONDS    200, Content-Length 10, one byte, then silence
  /silent/SECONDS   reads the request, then says nothing (not even a status
                    line) for SECONDS (at most 60) and closes
  /echo             (POST) 200 with the request body; headers X-Method and
                    X-Got (the request's X-Test header)
  /count            200, the number of requests served before this one
  /requests         200, the requests served before this one, a line each:
                    method and path, or TLS for a connection that opened with
                    a TLS handshake (this server speaks plain HTTP only, so it
                    counts the attempt and closes the connection)
  /repo/PATH        the file PATH under --root, with Content-Length; 404
                    when there is none
  /repo-nolength/PATH   the same without Content-Length
  /repo-short/PATH      the same with its Content-Length but only half the bytes
  /repo-slow/PATH       the same, whole, in ten pieces over 1.5 seconds
  /resume/MODES/PATH    the file PATH under --root with a strong ETag and a
                    Last-Modified date, answering "Range: bytes=N-" with a 206
                    when If-Range names the current validator (else a 200);
                    MODES is "plain" or a comma-separated list of
                      cut          the first response of PATH stops at 60 %
                      norange      Range is ignored: always the whole file
                      swap         after the first response of PATH, the file
                                   PATH.next stands in its place
                      badrange     a 206 says its part starts at byte 0
                      lastmod      no ETag, only Last-Modified
                      novalidator  neither ETag nor Last-Modified
  /resume-log       200, a line per /resume/ response so far: the status,
                    the Range and If-Range asked ("-" for none) and the body
                    bytes sent, separated by tabs
  http://HOST/PATH  (a request line as a client sends it to a proxy) the file
                    PATH under --root, as /repo/PATH: the server stands in for
                    a proxy in front of a repository with the same files
"""
import os
import argparse
import email.utils
import hashlib
import http.server
import zlib
import re
import sys
import threading
import time
import urllib.parse

from tls_attempt import opens_with_tls

PATTERN = bytes((i * 7 + 3) % 251 for i in range(65536))


def pattern(n):
    out = bytearray()
    while len(out) < n:
        out += PATTERN[: n - len(out)]
    return bytes(out)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    served = 0
    requests = []
    lock = threading.Lock()
    root = None
    resume_served = {}  # PATH: responses so far
    resume_log = []

    def log_message(self, *args):
        pass

    def count(self, request):
        with Handler.lock:
            before = Handler.served
            Handler.served += 1
            Handler.requests.append(request)
        return before

    def handle_one_request(self):
        # A TLS attempt reached the server all the same, so it counts.
        tls = opens_with_tls(self)
        if tls is None:
            self.close_connection = True
            return
        if tls:
            self.count("TLS")
            self.close_connection = True
            return
        super().handle_one_request()

    def send_body(self, code, body, length=True, extra=()):
        self.send_response(code)
        self.send_header("Content-Type", "application/octet-stream")
        if length:
            self.send_header("Content-Length", str(len(body)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        for k, v in extra:
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        before = self.count("GET " + self.path)
        if self.path.startswith("http://") and Handler.root:
            self.serve_file(urllib.parse.urlsplit(self.path).path.lstrip("/"), "whole")
            return
        if self.path.startswith("/resume/") and Handler.root:
            modes, _, relative = self.path[len("/resume/"):].partition("/")
            self.serve_resumable(relative.split("?")[0], set(modes.split(",")))
            return
        for prefix, mode in (("/repo/", "whole"), ("/repo-nolength/", "nolength"), ("/repo-short/", "short"),
                             ("/repo-slow/", "slow")):
            if self.path.startswith(prefix) and Handler.root:
                self.serve_file(self.path[len(prefix):].split("?")[0], mode)
                return
        m = re.fullmatch(r"/([\w-]+)(?:/(\d+))?", self.path.split("?")[0])
        kind, number = (m.group(1), int(m.group(2) or 0)) if m else ("", 0)
        if kind == "bytes":
            self.send_body(200, pattern(number))
        elif kind == "status":
            self.send_body(number, b"status page\n")
        elif kind == "nolength":
            self.send_body(200, pattern(number), length=False)
        elif kind == "short":
            self.send_response(200)
            self.send_header("Content-Length", str(number))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(pattern(number // 2))
            self.wfile.flush()
            self.close_connection = True
        elif kind == "stall":
            self.send_response(200)
            self.send_header("Content-Length", "10")
            self.end_headers()
            self.wfile.write(b"x")
            self.wfile.flush()
            time.sleep(min(number, 60))
            self.close_connection = True
        elif kind == "silent":
            time.sleep(min(number, 60))
            self.close_connection = True
        elif kind == "count":
            self.send_body(200, str(before).encode())
        elif kind == "resume-log":
            with Handler.lock:
                lines = list(Handler.resume_log)
            self.send_body(200, "".join("\t".join(map(str, line)) + "\n" for line in lines).encode())
        elif kind == "requests":
            with Handler.lock:
                lines = Handler.requests[:before]
            self.send_body(200, "".join(line + "\n" for line in lines).encode())
        else:
            self.send_body(404, b"not found\n")

    def served_file(self, relative):
        """The bytes of PATH under --root, or None after answering 404."""
        full = os.path.realpath(os.path.join(Handler.root, relative))
        if not full.startswith(os.path.realpath(Handler.root) + os.sep) or not os.path.isfile(full):
            self.send_body(404, b"not found\n")
            return None
        with open(full, "rb") as f:
            return f.read()

    def serve_file(self, relative, mode):
        data = self.served_file(relative)
        if data is None:
            return
        if mode == "whole":
            self.send_body(200, data)
        elif mode == "slow":
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            step = len(data) // 10 + 1
            for at in range(0, len(data), step):
                self.wfile.write(data[at:at + step])
                self.wfile.flush()
                time.sleep(0.15)
        elif mode == "nolength":
            self.send_body(200, data, length=False)
        else:
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(data[: len(data) // 2])
            self.wfile.flush()
            self.close_connection = True

    def serve_resumable(self, relative, modes):
        with Handler.lock:
            served = Handler.resume_served.get(relative, 0)
            Handler.resume_served[relative] = served + 1
        if "swap" in modes and served > 0:
            relative += ".next"
        data = self.served_file(relative)
        if data is None:
            return
        # Both validators follow the content, so a replaced file has new ones.
        etag = '"%s"' % hashlib.sha1(data).hexdigest()[:16]
        modified = email.utils.formatdate(1_700_000_000 + zlib.crc32(data) % 10_000_000, usegmt=True)
        validators = []
        if "novalidator" not in modes:
            validators.append(("Last-Modified", modified))
            if "lastmod" not in modes:
                validators.append(("ETag", etag))
        asked = self.headers.get("Range")
        if_range = self.headers.get("If-Range")
        start = None
        m = re.fullmatch(r"bytes=(\d+)-", asked or "")
        if m and "norange" not in modes and int(m.group(1)) < len(data):
            if if_range is None or if_range in (etag, modified):
                start = int(m.group(1))
        if start is None:
            status, body, extra = 200, data, validators
        else:
            first = 0 if "badrange" in modes else start
            status, body = 206, data[start:]
            extra = validators + [("Content-Range", "bytes %d-%d/%d" % (first, first + len(body) - 1, len(data)))]
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        for k, v in extra:
            self.send_header(k, v)
        self.end_headers()
        limit = len(body)
        if "cut" in modes and served == 0:
            limit = len(body) * 6 // 10
            self.close_connection = True
        sent = 0
        view = memoryview(body)
        try:
            while sent < limit:
                n = min(1 << 20, limit - sent)
                self.wfile.write(view[sent:sent + n])
                sent += n
            self.wfile.flush()
        except OSError:
            self.close_connection = True
        with Handler.lock:
            Handler.resume_log.append((status, asked or "-", if_range or "-", sent))

    def do_POST(self):
        self.count("POST " + self.path)
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if length else b""
        if self.path == "/echo":
            self.send_body(200, body, extra=(("X-Method", "POST"), ("X-Got", self.headers.get("X-Test", ""))))
        else:
            self.send_body(404, b"not found\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--max-requests", type=int, default=10000)
    parser.add_argument("--lifetime", type=float, default=900)
    parser.add_argument("--root")
    args = parser.parse_args()
    Handler.root = args.root
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    deadline = time.monotonic() + args.lifetime
    server.timeout = 0.5
    while time.monotonic() < deadline and Handler.served < args.max_requests:
        server.handle_request()
    server.server_close()


if __name__ == "__main__":
    sys.exit(main())
