#!/usr/bin/env bash
# The guide's nginx configuration in front of veltro-collect, as written
# there but for its address, port and certificate: an event posted over TLS
# is stored; other methods and paths never reach the receiver.
#   collect_tls_test.sh COLLECT STUB_EVENTS
set -euo pipefail
collect="$1" stub_events="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d)"
pids=()
trap 'for p in ${pids[@]+"${pids[@]}"}; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

mkfifo "$work/listening"
"$collect" serve --db "$work/events.sqlite" >"$work/listening" 2>"$work/serve.err" &
pids+=($!)
exec 3<"$work/listening"
read -r -t 30 line <&3 || { echo "serve did not start: $(cat "$work/serve.err")" >&2; exit 1; }
receiver="${line#listening on http://}"; receiver="${receiver%%/*}"

tls_port=$(free_port)
sed -e "s|127.0.0.1:8025|$receiver|" -e "s|listen 443 ssl;|listen 127.0.0.1:$tls_port ssl;|" \
    -e "/listen \[::\]:443 ssl;/d" -e "s|/etc/ssl/collector/fullchain.pem|$work/cert.pem|" \
    -e "s|/etc/ssl/collector/privkey.pem|$work/key.pem|" \
    "$here/docs/examples/collect/nginx-collector.conf" >"$work/collector.conf"
grep -q "$work/key.pem" "$work/collector.conf" || { echo "the guide's configuration changed shape" >&2; exit 1; }
mkdir -p "$work/tmp"
cat >"$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 64; }
http {
  client_body_temp_path $work/tmp;
  proxy_temp_path $work/tmp;
  fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp;
  scgi_temp_path $work/tmp;
  include $work/collector.conf;
}
CONF
/usr/sbin/nginx -c "$work/nginx.conf" -p "$work" &
pids+=($!)
for _ in $(seq 1 100); do (exec 4<>"/dev/tcp/127.0.0.1/$tls_port") 2>/dev/null && break; sleep 0.1; done

base="https://127.0.0.1:$tls_port"
post() {  # path, body file; prints the status
  curl -s -o /dev/null -w '%{http_code}' --max-time 20 --cacert "$work/cert.pem" \
    -H 'Content-Type: application/json' --data-binary "@$2" "$base$1"
}
"$stub_events" --sessions 1 | head -n 1 >"$work/event.json"
head -c 70000 /dev/zero | tr '\0' ' ' >"$work/big.json"
[ "$(post /v4/receive/json/25 "$work/event.json")" = 200 ] || fail "an event over TLS was not taken"
[ "$(post /v4/receive/json/25 "$work/big.json")" = 413 ] || fail "a 70 kB body was not refused with 413"
[ "$(post /stats "$work/event.json")" = 404 ] || fail "another path reached the receiver"
code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 20 --cacert "$work/cert.pem" "$base/v4/receive/json/25")
[ "$code" = 403 ] || fail "a GET of the event path answered $code"
stats=$(curl -s --max-time 10 "http://$receiver/stats")
python3 -c 'import json, sys; s = json.loads(sys.argv[1]); assert s["stored"] == 1 and s["refused"] == 0, s' "$stats" ||
  fail "the receiver saw more than the one event: $stats"

if [ "$failures" -ne 0 ]; then
  echo "collect_tls_test: $failures failure(s)" >&2
  exit 1
fi
echo "collect_tls_test: the guide's nginx configuration passes events over TLS and nothing else"
