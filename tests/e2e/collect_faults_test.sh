#!/usr/bin/env bash
# veltro-collect in trouble: killed with SIGKILL under load from several
# clients, it has lost no event it acknowledged, and starts again on the same
# file; on a disk that fills up it answers 503 and keeps exactly the events it
# answered 200, and takes events again once there is room; 10,000 malformed
# and hostile requests (mutations of the stub's own documents and broken HTTP
# framing) are all refused, nothing is stored, the counts add up and the
# receiver still takes a document afterwards.
#   collect_faults_test.sh COLLECT STUB_EVENTS
set -euo pipefail
collect="$1" stub_events="$2"
work="$(mktemp -d)"
serve_pid="" mounted=""
cleanup() {
  if [ -n "$serve_pid" ]; then
    kill -9 "$serve_pid" 2>/dev/null || true
    wait "$serve_pid" 2>/dev/null || true
  fi
  if [ -n "$mounted" ]; then umount "$mounted" 2>/dev/null || umount -l "$mounted" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Starts serve on the database DB; sets serve_pid and port.
start_serve() {  # db
  : >"$work/serve.out"
  "$collect" serve --db "$1" --listen 127.0.0.1:0 >"$work/serve.out" 2>"$work/serve.err" &
  serve_pid=$!
  local line=""
  for _ in $(seq 1 100); do
    line="$(head -n 1 "$work/serve.out")"
    [ -n "$line" ] && break
    kill -0 "$serve_pid" 2>/dev/null || break
    sleep 0.1
  done
  [[ "$line" == "listening on http://127.0.0.1:"*/v4/receive/json/25 ]] || {
    echo "serve did not start: $line $(cat "$work/serve.err")" >&2
    exit 1
  }
  port="${line#listening on http://127.0.0.1:}" port="${port%%/*}"
}
# Stops serve with SIGTERM (SIGKILL after 20 s); sets serve_status.
stop_serve() {
  kill -TERM "$serve_pid" 2>/dev/null || true
  for _ in $(seq 1 200); do kill -0 "$serve_pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$serve_pid" 2>/dev/null || true
  serve_status=0
  wait "$serve_pid" || serve_status=$?
  serve_pid=""
}
stats() { curl -s --max-time 10 "http://127.0.0.1:$port/stats"; }
py="$work/faults.py"
cat >"$py" <<'PY'
import http.client, json, os, random, re, signal, socket, sqlite3, sys, threading, time

EVENT_PATH = "/v4/receive/json/25"


def request_id(doc):
    return json.loads(doc)["record"][0]["event"]["request_id"]


def read_docs(path):
    with open(path, "rb") as f:
        return [line for line in f.read().split(b"\n") if line]


def each(items, clients, seconds, work):
    """Runs work(item, state) for the items from CLIENTS threads, each with a
    state dict of its own, for at most SECONDS; work returns False to stop
    its thread."""
    items, lock, end = iter(items), threading.Lock(), time.monotonic() + seconds

    def client():
        state = {}
        while time.monotonic() < end:
            with lock:
                item = next(items, None)
            if item is None or work(item, state) is False:
                break
        for close in state.get("close", ()):
            close()

    threads = [threading.Thread(target=client) for _ in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def load(port, docs_file, out_file, clients, kill_pid=0, kill_after=0, stop_after_503=0, seconds=60):
    """Posts every document once from CLIENTS keep-alive connections; writes
    the request ids by answer ("lost": no answer). With KILL_PID, SIGKILLs it
    once KILL_AFTER documents have been answered 200; a client then stops at
    its first lost request. With STOP_AFTER_503, stops once that many were
    answered 503."""
    lock = threading.Lock()
    answers = {}
    killed = [False]

    def post(doc, conn):
        try:
            if "http" not in conn:
                conn["http"] = http.client.HTTPConnection("127.0.0.1", port, timeout=15)
                conn["close"] = [conn["http"].close]
            conn["http"].request("POST", EVENT_PATH, body=doc, headers={"Content-Type": "application/json"})
            response = conn["http"].getresponse()
            response.read()
            status = str(response.status)
        except (OSError, http.client.HTTPException):
            status = "lost"
            conn.pop("http").close()
        with lock:
            answers.setdefault(status, []).append(request_id(doc))
            if kill_pid and not killed[0] and len(answers.get("200", ())) >= kill_after:
                os.kill(kill_pid, signal.SIGKILL)
                killed[0] = True
            if status == "lost" and killed[0]:
                return False
            if stop_after_503 and len(answers.get("503", ())) >= stop_after_503:
                return False

    each(read_docs(docs_file), clients, seconds, post)
    if kill_pid and not killed[0]:
        sys.exit("the load ended before %d documents were acknowledged" % kill_after)
    with open(out_file, "w") as f:
        json.dump(answers, f)
    print(" ".join("%s: %d" % (k, len(v)) for k, v in sorted(answers.items())))


def stored(db):
    """The request ids in the database, after its integrity check."""
    conn = sqlite3.connect(db, timeout=20)
    try:
        check = conn.execute("PRAGMA integrity_check").fetchall()
        if check != [("ok",)]:
            sys.exit("integrity check: %r" % check[:5])
        ids = [r for (r,) in conn.execute("SELECT request_id FROM events")]
    finally:
        conn.close()
    if len(ids) != len(set(ids)):
        sys.exit("a request id is stored twice")
    return set(ids)


def check(db, *specs):
    """Each spec is FILE:ANSWER (those ids are stored), !FILE:ANSWER (none
    of them is) or =FILE:ANSWER,ANSWER (exactly the union of those is)."""
    ids = stored(db)
    for spec in specs:
        mode = spec[0] if spec[0] in "!=" else ""
        name, _, keys = spec.lstrip("!=").partition(":")
        with open(name) as f:
            answers = json.load(f)
        want = set().union(*(answers.get(k, ()) for k in keys.split(",")))
        if mode == "" and not want <= ids:
            sys.exit("%d of the %d ids answered %s are not stored, e.g. %s" %
                     (len(want - ids), len(want), keys, sorted(want - ids)[:3]))
        if mode == "!" and want & ids:
            sys.exit("%d ids answered %s are stored, e.g. %s" % (len(want & ids), keys, sorted(want & ids)[:3]))
        if mode == "=" and want != ids:
            sys.exit("the database holds %d ids, not the %d answered %s (%d missing, %d extra)" %
                     (len(ids), len(want), keys, len(want - ids), len(ids - want)))
    print(len(ids))


# --- Hostile requests -------------------------------------------------------
# The check's rules on types, bounds and shapes are the unit tests' table and
# the fuzzer's; here the stub's documents are broken as bytes and as HTTP,
# and sent through the whole server.

BAD_UTF8 = [b"\xff", b"\xfe", b"\x80", b"\xc0\xaf", b"\xe0\x80\xaf", b"\xe2\x82", b"\xed\xa0\x80",
            b"\xf4\x90\x80\x80", b"\xf8\x88\x80\x80\x80", b"\xc3"]
# Other paths than the event path, also once the server has decoded them (a
# query or %32%35 for "25" reach the event path: those are not wrong paths).
PATHS = ["/v4/receive/json/24", "/v4/receive/json/250", "/v4/receive/json/25/", "/v4/receive/json",
         "/V4/receive/json/25", "/v3/receive/json/25", "/", "/stats", "/v4/receive/json/25/x",
         "/v4/receive/json/x/../25", "//v4/receive/json/25", "/v4/receive/json/25%00", "/v4/receive/json/2%35x"]


def structural_positions(doc):
    """Offsets of the brackets, colons and commas outside strings and of the
    quotes that delimit strings: changing one leaves no JSON text (the
    brackets or the quotes no longer pair up, or a separator is missing)."""
    at, inside, escaped = [], False, False
    for i, c in enumerate(doc):
        if inside:
            if escaped:
                escaped = False
            elif c == 0x5C:
                escaped = True
            elif c == 0x22:
                inside = False
                at.append(i)
        elif c == 0x22:
            inside = True
            at.append(i)
        elif c in b"{}[]:,":
            at.append(i)
    return at


def request(method, path, body):
    return (b"%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" % (method, path) +
            b"Content-Length: %d\r\n\r\n" % len(body) + body)


def chunked(body, rng):
    out, at = b"", 0
    while at < len(body):
        n = rng.randint(1, 4096)
        out += b"%x\r\n" % len(body[at:at + n]) + body[at:at + n] + b"\r\n"
        at += n
    return out + b"0\r\n\r\n"


def hostile_cases(docs, count, seed):
    """COUNT requests, each one refused whatever the receiver's state, as
    (family, bytes, framing). Framing cases go on a connection of their own,
    which the client half-closes after sending: a closed connection is an
    answer too. A valid document sent chunked, or to the event path with a
    query or percent-encoding, is still the stub's document: left out."""
    rng = random.Random(seed)
    bases = [(d, structural_positions(d)) for d in docs]

    def truncate(doc, pos):
        return doc[:rng.randrange(len(doc))]

    def flip(doc, pos):
        i = rng.choice(pos)
        return doc[:i] + bytes([doc[i] ^ rng.randint(1, 255)]) + doc[i + 1:]

    def bad_utf8(doc, pos):
        i = rng.randrange(len(doc) + 1)
        return doc[:i] + rng.choice(BAD_UTF8) + doc[i:]

    def nul(doc, pos):
        if rng.random() < 0.5:  # a bare NUL: no JSON text holds one
            i = rng.randrange(len(doc) + 1)
            return doc[:i] + b"\x00" + doc[i:]
        # an escaped one at the start of a text value: every text of the
        # stub's document is checked
        i = rng.choice([m.end() for m in re.finditer(rb'":"', doc)])
        return doc[:i] + b"\\u0000" + doc[i:]

    def deep(doc, pos):
        if rng.random() < 0.5:  # the document inside arrays: not an object, or past the parser's depth
            d = rng.randint(1, 20000)
            return b"[" * d + doc + b"]" * d
        d = rng.randint(1100, 20000)  # an extra key nested past the parser's depth of 1024
        return b'{"nested":' + b"[" * d + b"]" * d + b"," + doc[1:]

    def too_large(doc, pos):
        if rng.random() < 0.5:
            return doc + b" " * (rng.randint(65537, 200000) - len(doc))
        return doc.replace(b'"title":"', b'"title":"' + b"x" * rng.randint(65537, 100000), 1)

    mutations = [truncate, flip, bad_utf8, nul, deep, too_large]

    def method(doc, pos):
        m = rng.choice([b"GET", b"HEAD", b"PUT", b"DELETE", b"PATCH", b"OPTIONS"])
        return request(m, EVENT_PATH.encode(), b"" if m in (b"GET", b"HEAD") else doc), False

    def path(doc, pos):
        return request(b"POST", rng.choice(PATHS).encode(), doc), False

    def unknown_method(doc, pos):
        m = rng.choice([b"FOO", b"post", b"P0ST", b"POST\x00", b"\xffPOST"])
        return request(m, EVENT_PATH.encode(), doc), True

    def content_length(doc, pos):
        head = b"POST %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" % EVENT_PATH.encode()
        way = rng.randrange(7)
        if way == 0:  # shorter: a cut document
            lengths = [b"%d" % rng.randrange(len(doc))]
        elif way == 6:  # none, or one without a number: no body at all
            head += rng.choice([b"", b"Transfer-Encoding: gzip\r\n", b"Transfer-Encoding: chunked, gzip\r\n"])
            lengths = rng.choice([[], [b""], [b" "]])
        elif way == 1:  # longer: the body ends early
            lengths = [b"%d" % (len(doc) + rng.randint(1, 5000))]
        elif way == 2:
            lengths = [rng.choice([b"abc", b"", b"0x10", b"1e3", b"-1", b"- 5"])]
        elif way == 3:
            lengths = [rng.choice([b"99999999999999999999999", b"18446744073709551615", b"65537"])]
        elif way == 4:  # two, both wrong
            lengths = [b"%d" % rng.randrange(len(doc)), b"%d" % (len(doc) + rng.randint(1, 99))]
        else:
            lengths = [b"-%d" % len(doc)]
        return head + b"".join(b"Content-Length: %s\r\n" % n for n in lengths) + b"\r\n" + doc, True

    def chunks(doc, pos):
        head = b"POST %s HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n" % \
            EVENT_PATH.encode()
        way = rng.randrange(6)
        if way == 0:  # well framed, a broken document
            return head + b"\r\n" + chunked(rng.choice(mutations)(doc, pos), rng), True
        if way == 1:  # a chunk size that is no number
            return head + b"\r\n" + rng.choice([b"zz", b"-1", b"", b"0x10", b"ffffffffffffffffffff"]) + b"\r\n" + doc, True
        if way == 2:  # a chunk shorter than announced
            return head + b"\r\n" + b"%x\r\n" % (len(doc) + rng.randint(1, 999)) + doc + b"\r\n0\r\n\r\n", True
        if way == 3:  # no last chunk
            return head + b"\r\n" + chunked(doc, rng)[:-5], True
        if way == 4:  # more than 64 KiB in chunks
            return head + b"\r\n" + chunked(doc + b" " * (65537 + rng.randrange(9999) - len(doc)), rng), True
        # a length besides the chunks, each reading giving no document
        inner = truncate(doc, pos)
        return head + b"Content-Length: %d\r\n\r\n" % rng.randrange(len(doc)) + chunked(inner, rng), True

    families = [(f.__name__, lambda doc, pos, f=f: (request(b"POST", EVENT_PATH.encode(), f(doc, pos)), False))
                for f in mutations]
    families += [(f.__name__, f) for f in [method, path, unknown_method, content_length, chunks]]
    for n in range(count):
        name, make = families[n % len(families)]
        data, framing = make(*rng.choice(bases))
        yield name, data, framing


ALLOWED = {400, 404, 405, 411, 413}


def read_response(f, head):
    line = f.readline(65537)
    if not line:
        return None
    status = int(line.split()[1])
    length, close = 0, False
    while True:
        h = f.readline(65537)
        if h in (b"\r\n", b"\n", b""):
            break
        k, _, v = h.partition(b":")
        if k.strip().lower() == b"content-length":
            length = int(v)
        if k.strip().lower() == b"connection" and b"close" in v.lower():
            close = True
    if not head:
        f.read(length)
    return status, close


def hostile(port, docs_file, count, seed, clients):
    lock = threading.Lock()
    tally, bad = {}, []

    def connect():
        s = socket.create_connection(("127.0.0.1", port), timeout=15)
        return s, s.makefile("rb")

    def alone(data, head):  # on a connection of its own, half-closed once sent
        s, f = connect()
        answers = []
        try:
            s.sendall(data)
            s.shutdown(socket.SHUT_WR)
            while (r := read_response(f, head)) is not None:
                answers.append(r[0])
        except OSError:  # reset, having answered or not
            pass
        finally:
            f.close()
            s.close()
        return answers or ["closed"]

    def kept_alive(data, head, conn):
        for attempt in range(2):  # a kept-alive connection may have been closed meanwhile
            try:
                if "socket" not in conn:
                    conn["socket"], conn["file"] = connect()
                    conn["close"] = [conn["file"].close, conn["socket"].close]
                conn["socket"].sendall(data)
                r = read_response(conn["file"], head)
            except OSError:
                r = None
            if r is None or r[1]:
                conn.pop("file").close()
                conn.pop("socket").close()
                conn["close"] = []
            if r is not None:
                return [r[0]]
        return ["no answer"]

    def send(case, conn):
        name, data, framing = case
        head = data.startswith(b"HEAD ")
        got = alone(data, head) if framing else kept_alive(data, head, conn)
        with lock:
            for g in got:
                tally.setdefault(name, {}).setdefault(str(g), 0)
                tally[name][str(g)] += 1
            if any(g not in ALLOWED and g != "closed" for g in got) and len(bad) < 10:
                bad.append("%s answered %s: %r" % (name, got, data[:300]))

    each(hostile_cases(read_docs(docs_file), count, seed), clients, 120, send)
    for name in sorted(tally):
        print("  %-15s %s" % (name, " ".join("%s: %d" % kv for kv in sorted(tally[name].items()))))
    done = sum(sum(v.values()) for v in tally.values())
    if done != count:
        bad.append("only %d of %d requests were sent in time" % (done, count))
    for b in bad:
        print("FAIL: " + b, file=sys.stderr)
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    what, args = sys.argv[1], sys.argv[2:]
    if what == "load":
        load(int(args[0]), args[1], args[2], int(args[3]), *(int(a) for a in args[4:]))
    elif what == "check":
        check(args[0], *args[1:])
    elif what == "hostile":
        hostile(int(args[0]), args[1], int(args[2]), int(args[3]), int(args[4]))
PY
# The answers of a load: how many ids got ANSWER.
answered() { python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1])).get(sys.argv[2], [])))' "$1" "$2"; }

# 1. SIGKILL under load: 8 clients post 5,000-odd documents; the receiver is
# killed once 1,500 are acknowledged. Every acknowledged one is in the file;
# started again on it, the receiver takes the rest (and what was in flight,
# stored or not) and the file then holds each document once.
"$stub_events" --sessions 1500 --seed 11 >"$work/load.txt"
start_serve "$work/kill.sqlite"
killed_pid=$serve_pid
echo "kill: $(python3 "$py" load "$port" "$work/load.txt" "$work/kill.json" 8 "$serve_pid" 1500)"
status=0
wait "$killed_pid" 2>/dev/null || status=$?
serve_pid=""
[ "$status" = 137 ] || fail "kill: serve ended with $status, not by the SIGKILL"
if out=$(python3 "$py" check "$work/kill.sqlite" "$work/kill.json:200" 2>&1); then
  echo "kill: $out events in the file after the kill"
else
  fail "kill: $out"
fi
start_serve "$work/kill.sqlite"
python3 "$py" load "$port" "$work/load.txt" "$work/again.json" 4 >/dev/null
[ "$(answered "$work/again.json" 200)" = "$(wc -l <"$work/load.txt")" ] ||
  fail "kill: started again, the receiver did not take every document: $(head -c 300 "$work/again.json")"
out=$(python3 "$py" check "$work/kill.sqlite" "=$work/again.json:200" 2>&1) || fail "kill, started again: $out"
stop_serve
[ "$serve_status" = 0 ] || fail "kill: the receiver started again ended with $serve_status"

# 2. A full disk: the database on a 16 MiB file system (room for the log the
# store writes ahead, once there is room again), all but 160 KiB of it taken
# by a ballast file, while 16 clients post. Answers are 200 or 503 only; the
# database passes its check and holds exactly the events answered 200; once
# the ballast is gone the refused events are taken.
mkdir "$work/disk"
if ! mount -t tmpfs -o size=16m,mode=0700 tmpfs "$work/disk" 2>"$work/mount.err"; then
  echo "disk full: SKIPPED, a small file system cannot be mounted here: $(cat "$work/mount.err")"
else
  mounted="$work/disk"
  "$stub_events" --sessions 10 --seed 12 >"$work/first.txt"
  "$stub_events" --sessions 600 --seed 13 >"$work/fill.txt"
  start_serve "$work/disk/events.sqlite"
  python3 "$py" load "$port" "$work/first.txt" "$work/first.json" 2 >/dev/null
  avail=$(df -B1 --output=avail "$work/disk" | tail -n 1)
  head -c $((avail - 160 * 1024)) /dev/zero >"$work/disk/ballast"
  echo "disk full: $(python3 "$py" load "$port" "$work/fill.txt" "$work/fill.json" 16 0 0 300)"
  ok=$(answered "$work/fill.json" 200) refused=$(answered "$work/fill.json" 503)
  others=$(python3 -c 'import json, sys; print(sorted(set(json.load(open(sys.argv[1]))) - {"200", "503"}))' "$work/fill.json")
  [ "$others" = "[]" ] || fail "disk full: answers besides 200 and 503: $others"
  [ "$ok" -gt 0 ] && [ "$refused" -gt 0 ] || fail "disk full: $ok answered 200 and $refused 503, wanted some of each"
  python3 -c 'import json, sys; s = json.loads(sys.argv[1]); assert s["unavailable"] == int(sys.argv[2]), s' \
    "$(stats)" "$refused" || fail "disk full: /stats does not count the $refused answers 503: $(stats)"
  cp "$work/first.json" "$work/all.json"
  python3 -c 'import json, sys; a, b = (json.load(open(f)) for f in sys.argv[1:3]); a["200"] += b.get("200", [])
json.dump(a, open(sys.argv[1], "w"))' "$work/all.json" "$work/fill.json"
  out=$(python3 "$py" check "$work/disk/events.sqlite" "=$work/all.json:200" "!$work/fill.json:503" 2>&1) ||
    fail "disk full: $out"
  rm "$work/disk/ballast"
  python3 -c 'import json, sys; ids = set(json.load(open(sys.argv[1])).get("503", []))
for line in open(sys.argv[2], "rb"):
    if json.loads(line)["record"][0]["event"]["request_id"] in ids: sys.stdout.buffer.write(line)' \
    "$work/fill.json" "$work/fill.txt" >"$work/refused.txt"
  python3 "$py" load "$port" "$work/refused.txt" "$work/retry.json" 2 >/dev/null
  [ "$(answered "$work/retry.json" 200)" = "$refused" ] ||
    fail "disk full: with room again, the refused events were not all taken: $(head -c 300 "$work/retry.json")"
  out=$(python3 "$py" check "$work/disk/events.sqlite" "$work/retry.json:200" 2>&1) || fail "disk full, room again: $out"
  stop_serve
  [ "$serve_status" = 0 ] || fail "disk full: the receiver ended with $serve_status"
  umount "$work/disk" && mounted=""
fi

# 3. 10,000 hostile requests from 4 clients, from a fixed seed: each is
# answered 400, 404, 405, 411 or 413 (or, for broken framing, the connection
# is closed), nothing is stored, and /stats counts each one as refused. The
# receiver then still takes the stub's document.
"$stub_events" --sessions 40 --seed 14 >"$work/bases.txt"
start_serve "$work/hostile.sqlite"
python3 "$py" hostile "$port" "$work/bases.txt" 10000 25 4 || fail "hostile: a request was not refused"
kill -0 "$serve_pid" 2>/dev/null || fail "hostile: the receiver is gone: $(tail -n 20 "$work/serve.err")"
python3 -c 'import json, sys; s = json.loads(sys.argv[1]); assert s["refused"] == 10000 and s["stored"] == 0, s' \
  "$(stats)" || fail "hostile: /stats does not count 10,000 refused and none stored: $(stats)"
head -n 1 "$work/bases.txt" >"$work/one.txt"
python3 "$py" load "$port" "$work/one.txt" "$work/one.json" 1 >/dev/null
[ "$(answered "$work/one.json" 200)" = 1 ] || fail "hostile: afterwards the stub's document got $(cat "$work/one.json")"
stop_serve
[ "$serve_status" = 0 ] || fail "hostile: the receiver ended with $serve_status: $(tail -n 20 "$work/serve.err")"
out=$(python3 "$py" check "$work/hostile.sqlite" "=$work/one.json:200" 2>&1) ||
  fail "hostile: the database holds more than the one document: $out"

if [ "$failures" -ne 0 ]; then
  echo "collect_faults_test: $failures failure(s)" >&2
  exit 1
fi
echo "collect_faults_test: no acknowledged event lost to a kill or a full disk, every hostile request refused"
