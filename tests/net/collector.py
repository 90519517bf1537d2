#!/usr/bin/env python3
"""A stand-in for the analytics receiver on 127.0.0.1, for whole-run tests
of the stub. Every request it reads, whatever its method or path, becomes a
row of the table `events` in the SQLite file --db, committed before the
answer goes out, so a test can read the file while the server runs:

  id         INTEGER PRIMARY KEY, in arrival order
  received   REAL, seconds since the epoch
  method     TEXT
  path       TEXT, the path (and query) of the request line; for a request
             line as a client sends it to a proxy ("POST http://h:p/x
             HTTP/1.1") the path part of that URI. A connection that opens
             with a TLS handshake is recorded too, as method TLS with an
             empty path, then closed: this server speaks plain HTTP only
  body       TEXT, the body as UTF-8 (bytes that are not UTF-8 become U+FFFD)
  stage      TEXT, record[0].setup.common.stage, NULL when the body lacks it
  ret_code   TEXT, record[0].setup.finish_state.ret_code, or NULL
  reboot     TEXT, record[0].setup.finish_state.reboot, or NULL
  valid_json INTEGER, 1 when the body parsed as JSON

It prints its port on the first line of stdout, then serves until it has
answered --max-requests requests or --lifetime seconds have passed,
whichever comes first. HTTP/1.1 with keep-alive; bodies by Content-Length
or chunked.

  --status CODE     answer CODE (a short body) instead of 200
  --stall SECONDS   read and record each request, then wait SECONDS (at most
                    the lifetime) before answering

Read-back:

  collector.py --dump DB

prints one line per event in arrival order, tab-separated:
stage, ret_code, reboot, valid_json, path. A field the body lacks prints as
"-"; an empty string stays empty; tabs and line breaks inside a field print
as \\t and \\n.
"""
import argparse
import http.server
import json
import signal
import sqlite3
import sys
import threading
import time
import urllib.parse

from tls_attempt import opens_with_tls

MAX_BODY = 16 << 20

SCHEMA = """CREATE TABLE IF NOT EXISTS events (
  id INTEGER PRIMARY KEY,
  received REAL,
  method TEXT,
  path TEXT,
  body TEXT,
  stage TEXT,
  ret_code TEXT,
  reboot TEXT,
  valid_json INTEGER
)"""


def open_db(path):
    db = sqlite3.connect(path, timeout=10, check_same_thread=False, isolation_level=None)
    db.execute("PRAGMA journal_mode=WAL")
    db.execute(SCHEMA)
    return db


def field(doc, *keys):
    """The value under doc[keys...] as text, or None when any step is
    missing or the value is not a string or a number."""
    for key in keys:
        try:
            doc = doc[key]
        except (KeyError, IndexError, TypeError):
            return None
    if isinstance(doc, str):
        return doc
    if isinstance(doc, (int, float)) and not isinstance(doc, bool):
        return str(doc)
    return None


def parse_body(raw):
    """(text, valid_json, stage, ret_code, reboot) for a request body."""
    try:
        text = raw.decode("utf-8")
        strict = True
    except UnicodeDecodeError:
        text = raw.decode("utf-8", errors="replace")
        strict = False
    doc = None
    valid = 0
    if strict:
        try:
            doc = json.loads(text)
            valid = 1
        except ValueError:
            pass
    rec = ("record", 0, "setup")
    return (text, valid, field(doc, *rec, "common", "stage"),
            field(doc, *rec, "finish_state", "ret_code"),
            field(doc, *rec, "finish_state", "reboot"))


def request_path(target):
    if target[:8].lower().startswith(("http://", "https://")):
        parts = urllib.parse.urlsplit(target)
        path = parts.path or "/"
        return path + ("?" + parts.query if parts.query else "")
    return target


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 120
    db = None
    lock = threading.Lock()
    answered = 0
    status = 200
    stall = 0.0

    def log_message(self, *args):
        pass

    def __getattr__(self, name):
        # Any method is recorded: the receiver is what the test looks at,
        # whatever the client chose to send.
        if name.startswith("do_"):
            return self.handle_any
        raise AttributeError(name)

    def handle_one_request(self):
        # A TLS attempt goes on record (method TLS, no path) and the
        # connection closes.
        tls = opens_with_tls(self)
        if tls is None:
            self.close_connection = True
            return
        if tls:
            self.command, self.path = "TLS", ""
            self.record(b"")
            with Handler.lock:
                Handler.answered += 1
            self.close_connection = True
            return
        super().handle_one_request()

    def read_body(self):
        """The body, or None when its framing is broken (the connection
        then closes, as nothing after it can be trusted)."""
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            out = bytearray()
            while True:
                line = self.rfile.readline(1024)
                try:
                    size = int(line.split(b";")[0].strip(), 16)
                except ValueError:
                    return None
                if size < 0 or len(out) + size > MAX_BODY:
                    return None
                if size == 0:
                    while self.rfile.readline(8192) not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(out)
                chunk = self.rfile.read(size)
                if len(chunk) < size:
                    return None
                out += chunk
                self.rfile.readline(8)
        length = self.headers.get("Content-Length")
        if length is None:
            return b""
        try:
            n = int(length)
        except ValueError:
            return None
        if n < 0 or n > MAX_BODY:
            return None
        body = self.rfile.read(n)
        return body if len(body) == n else None

    def record(self, body):
        text, valid, stage, ret_code, reboot = parse_body(body or b"")
        with Handler.lock:
            Handler.db.execute(
                "INSERT INTO events (received, method, path, body, stage, ret_code, reboot, valid_json)"
                " VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                (time.time(), self.command, request_path(self.path), text, stage, ret_code, reboot, valid))

    def handle_any(self):
        body = self.read_body()
        self.record(body)
        if body is None:
            self.close_connection = True
            self.answer(400, b"bad body\n")
            return
        if Handler.stall > 0:
            time.sleep(Handler.stall)
        if self.command == "CONNECT":
            # No tunnel on offer: the attempt is on record, and that is all.
            self.close_connection = True
        self.answer(Handler.status, b"ok\n" if Handler.status == 200 else b"status %d\n" % Handler.status)

    def answer(self, code, body):
        try:
            self.send_response(code)
            if code in (204, 304):
                body = b""
            else:
                self.send_header("Content-Type", "text/plain")
                self.send_header("Content-Length", str(len(body)))
            if self.close_connection:
                self.send_header("Connection", "close")
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)
            self.wfile.flush()
        except OSError:
            # The client gave up (a stall longer than its time-out).
            self.close_connection = True
        finally:
            with Handler.lock:
                Handler.answered += 1


def dump(path):
    db = sqlite3.connect("file:%s?mode=ro" % urllib.parse.quote(path), uri=True, timeout=10)

    def show(v):
        if v is None:
            return "-"
        return str(v).replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")

    for row in db.execute("SELECT stage, ret_code, reboot, valid_json, path FROM events ORDER BY id"):
        print("\t".join(show(v) for v in row))
    db.close()
    return 0


def serve(args):
    Handler.db = open_db(args.db)
    Handler.status = args.status
    Handler.stall = max(0.0, min(args.stall, args.lifetime))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    # A plain kill ends the loop below rather than the process, so the
    # database is closed properly.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print(server.server_address[1], flush=True)
    deadline = time.monotonic() + args.lifetime
    server.timeout = 0.5
    try:
        while time.monotonic() < deadline and Handler.answered < args.max_requests:
            server.handle_request()
    finally:
        server.server_close()
        with Handler.lock:
            Handler.db.close()
    return 0


def main():
    parser = argparse.ArgumentParser(description="Records analytics events on 127.0.0.1.")
    parser.add_argument("--db", help="SQLite file to record into (created when missing)")
    parser.add_argument("--dump", metavar="DB", help="print the events recorded in DB and exit")
    parser.add_argument("--status", type=int, default=200)
    parser.add_argument("--stall", type=float, default=0.0)
    parser.add_argument("--max-requests", type=int, default=10000)
    parser.add_argument("--lifetime", type=float, default=900)
    args = parser.parse_args()
    if args.dump:
        return dump(args.dump)
    if not args.db:
        parser.error("--db or --dump is needed")
    if not 200 <= args.status <= 599:
        parser.error("--status must be between 200 and 599")
    return serve(args)


if __name__ == "__main__":
    sys.exit(main())
