#!/usr/bin/env bash
# Whole runs that report to a collector on 127.0.0.1 (tests/net/collector.py)
# named as sfx-info's report URL. The URL is learnt while preparing, so the
# first two stages go to the build's default (loopback https, where nothing
# listens) and fail harmlessly; the collector gets the rest. Also: a failing
# run, the user's proxy, endpoints that refuse, are missing or stall, and the
# hardware identifier of two runs.
#   reporting_test.sh PACKER STUB MASTER RUN_AND_REPORT WINE_RUN
set -euo pipefail
pack="$1" stub="$2" master="$3" run_and_report="$4" wine_run="$5"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
collector="$here/tests/net/collector.py"
prefix_c="$(dirname "$wine_run")/wineprefix/drive_c"
log="$prefix_c/ProgramData/Odrano/Veltro/Logs/sfx.log"
work="$(mktemp -d)"
trap 'rm -rf "$work" "$prefix_c"/rep_*.exe "$prefix_c/rep_proxy.ini"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
sha() { sha256sum "$1" | cut -d' ' -f1; }

# A stub reporting to URL, whose product-info names the master and, when
# asked, a file the payload lacks (the run then fails while preparing).
make_stub() {  # out, report URL, broken
  cat >"$work/sfx-info.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<sfx-info>
  <products><product name="rep" channel="release" version="1.0.0.0"/></products>
  <title lang="en-us">Veltro Studio</title>
  <report><url>$2</url></report>
</sfx-info>
XML
  local missing=""
  [ "$3" = broken ] && missing="<file><name>gone.dat</name><sha-256>$(printf gone | sha256sum | cut -d' ' -f1)</sha-256><size>4</size></file>"
  cat >"$work/product-info.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<product-info><name>rep</name><version>1.0.0.0</version><setup-files>
<file><name>veltro.exe</name><sha-256>$(sha "$master")</sha-256><size>$(stat -c %s "$master")</size></file>$missing
</setup-files><setup-commands executable="veltro.exe" arguments=""/></product-info>
XML
  "$pack" sign-xml "$work/sfx-info.xml" "$work/sfx-info.signed.xml"
  "$pack" sign-xml "$work/product-info.xml" "$work/product-info.signed.xml"
  "$pack" pack --stub "$stub" --out "$prefix_c/$1" --file "sfx-info.xml=$work/sfx-info.signed.xml" \
    --file "rep/release.xml=$work/product-info.signed.xml" --anonymous "$master" >/dev/null
}
# Runs a stub; prints its full exit code.
run() {
  "$wine_run" "$run_and_report" "$@" >"$work/report" 2>&1 || true
  sed -n 's/^exit code: \([0-9]*\) .*/\1/p' "$work/report"
}
dump() { python3 "$collector" --dump "$VELTRO_COLLECTOR_DB"; }
url="http://$VELTRO_COLLECTOR/v4/receive/json/25"

# 1. A run whose setup master asks for a restart.
make_stub rep_ok.exe "$url" whole
lines_before=$(wc -l <"$log" 2>/dev/null || echo 0)
code=$(run 'C:\rep_ok.exe' /silent /offline /exit:44080)
[ "$code" = 44080 ] || fail "restart run: exit code $code"
dump >"$work/events"
expected=$'sfx-running-veltro\t-\t-\t1\t/v4/receive/json/25\nsfx-finish\t44080\t1\t1\t/v4/receive/json/25'
[ "$(cat "$work/events")" = "$expected" ] || fail "restart run: the collector got: $(cat "$work/events")"
tail -n +"$((lines_before + 1))" "$log" >"$work/log"
[ "$(grep -c "Sent report, status code:'0'." "$work/log")" = 2 ] ||
  fail "restart run: sfx-start and sfx-preparing were not both tried at the default and failed"
grep -q '"stage":"sfx-start"' "$work/log" || fail "restart run: no sfx-start document in the log"

# 2. A run failing after its preparation began reports sfx-fail with its code.
make_stub rep_broken.exe "$url" broken
code=$(run 'C:\rep_broken.exe' /silent /offline)
last=$(dump | tail -n 1)
# The document carries the code as a signed 32-bit number.
signed=$((code > 2147483647 ? code - 4294967296 : code))
[ "$code" != 0 ] && [ "$(cut -f1,2 <<<"$last")" = "sfx-fail	$signed" ] ||
  fail "failing run (exit $code): last event $last"

# 3. Through the user's proxy: the report URL names a port where nothing
# listens; the proxy (the collector itself, which serves absolute URIs) is
# what gets the events there. Wine skips a proxy on the target's own host,
# hence localhost against 127.0.0.1.
make_stub rep_proxy.exe "http://localhost:9/v4/receive/json/25" whole
port="${VELTRO_COLLECTOR##*:}"
printf '[ProxySettings]\r\nProxyType=2\r\nAuthorization=0\r\nPort=%s\r\nProxyName=127.0.0.1\r\n' "$port" \
  >"$prefix_c/rep_proxy.ini"
before=$(dump | wc -l)
code=$(run 'C:\rep_proxy.exe' /silent /offline '/proxy_ini:C:\rep_proxy.ini')
[ "$code" = 0 ] || fail "proxy run: exit code $code"
# The first two stages ask the proxy for a tunnel to the default https
# address (recorded without a stage); the other two come through it.
stages=$(dump | tail -n +"$((before + 1))" | cut -f1 | grep -v '^-$' | tr '\n' ' ')
[ "$stages" = "sfx-running-veltro sfx-finish " ] ||
  fail "proxy run: the events did not come through the proxy: $(dump | tail -n +"$((before + 1))")"

# 4. The hardware identifier: 64 upper-case hex digits, the same in two runs.
python3 - "$VELTRO_COLLECTOR_DB" <<'PY' || fail "hwid differs between runs or has the wrong form"
import json, re, sqlite3, sys
ids = {json.loads(b)["record"][0]["identity"]["hwid"]
       for (b,) in sqlite3.connect(sys.argv[1]).execute("select body from events where valid_json = 1")}
assert len(ids) == 1 and re.fullmatch("[0-9A-F]{64}", ids.pop()), ids
PY

# 5. Endpoints that answer 500, are not there or stall leave the exit code
# alone. An endpoint that takes the event and never answers holds the run up
# for the client's receive time-out (15 s) once per event posted to it (two),
# not for the length of its silence.
for mode in "--status 500" "unreachable" "--stall 90"; do
  if [ "$mode" = unreachable ]; then
    make_stub rep_mode.exe "http://127.0.0.1:9/v4/receive/json/25" whole
    start=$(date +%s.%N); code=$(run 'C:\rep_mode.exe' /silent /offline /exit:7); end=$(date +%s.%N)
  else
    # shellcheck disable=SC2086
    "$here/tests/net/with_collector" $mode --lifetime 120 bash -c '
      cat >"$0/mode-url" <<<"http://$VELTRO_COLLECTOR/v4/receive/json/25"; sleep 600' "$work" 2>/dev/null &
    holder=$!
    for _ in $(seq 1 100); do [ -s "$work/mode-url" ] && break; sleep 0.1; done
    make_stub rep_mode.exe "$(cat "$work/mode-url")" whole
    start=$(date +%s.%N); code=$(run 'C:\rep_mode.exe' /silent /offline /exit:7); end=$(date +%s.%N)
    pkill -P "$holder" sleep 2>/dev/null || true
    wait "$holder" 2>/dev/null || true
    rm -f "$work/mode-url"
  fi
  took=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
  echo "endpoint ${mode}: exit code $code after $took s"
  [ "$code" = 7 ] || fail "endpoint $mode: exit code $code"
  if [ "$mode" = "--stall 90" ] && awk -v t="$took" 'BEGIN { exit !(t >= 60) }'; then
    fail "a silent endpoint held the run up for $took s"
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "reporting_test: $failures failure(s)" >&2
  exit 1
fi
echo "reporting_test: stages, failure, proxy, hwid and unwilling endpoints passed"
