#!/usr/bin/env bash
# Real stub runs under wine64 report to veltro-collect serve on 127.0.0.1,
# named as sfx-info's report URL (the build's own default is loopback https,
# where nothing listens, so a run's first two stages go nowhere). Two
# installations, a failed download and a declined dialog; then the report
# must count exactly those four sessions. (Not by product: a run declined at
# the dialog has not read its products yet, and names only the stub's own.) Runs on the virtual display of
# tests/ui/with_display (the dialog is answered with a real Escape).
#   collect_test.sh PACKER STUB MASTER RUN_AND_REPORT WINE_RUN COLLECT [postgres]
# With postgres the events go to the database of $VELTRO_TEST_POSTGRES
# (tests/net/with_postgres), else to a new SQLite file.
set -euo pipefail
pack="$1" stub="$2" master="$3" run_and_report="$4" wine_run="$5" collect="$6" store="${7:-sqlite}"
prefix_c="$VELTRO_WINEPREFIX/drive_c"
work="$(mktemp -d)"
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  rm -rf "$work" "$prefix_c"/coll_*.exe
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
sha() { sha256sum "$1" | cut -d' ' -f1; }
db="$work/events.sqlite"
[ "$store" = postgres ] && db="$VELTRO_TEST_POSTGRES"

mkfifo "$work/listening"
"$collect" serve --db "$db" --prefix /collect >"$work/listening" 2>"$work/serve.err" &
server=$!
exec 3<"$work/listening"
read -r -t 30 line <&3 || { fail "serve did not start: $(cat "$work/serve.err")"; exit 1; }
url="${line#listening on }"
case "$url" in http://127.0.0.1:*/collect/v4/receive/json/25) ;; *) fail "serve said: $line"; exit 1 ;; esac

# A stub reporting to the receiver, with or without its product-info (the
# run then downloads it from a base URL where nothing listens, and fails).
make_stub() {  # out, whole|no-product-info
  cat >"$work/sfx-info.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<sfx-info>
  <products><product name="coll" channel="release" version="1.0.0.0"/></products>
  <title lang="en-us">Veltro Studio</title>
  <report><url>$url</url></report>
</sfx-info>
XML
  cat >"$work/product-info.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<product-info><name>coll</name><version>1.0.0.0</version><setup-files>
<file><name>veltro.exe</name><sha-256>$(sha "$master")</sha-256><size>$(stat -c %s "$master")</size></file>
</setup-files><setup-commands executable="veltro.exe" arguments=""/></product-info>
XML
  "$pack" sign-xml "$work/sfx-info.xml" "$work/sfx-info.signed.xml"
  "$pack" sign-xml "$work/product-info.xml" "$work/product-info.signed.xml"
  local files=(--file "sfx-info.xml=$work/sfx-info.signed.xml")
  [ "$2" = whole ] && files+=(--file "coll/release.xml=$work/product-info.signed.xml")
  "$pack" pack --stub "$stub" --out "$prefix_c/$1" "${files[@]}" --anonymous "$master" >/dev/null
}
make_stub coll_ok.exe whole
make_stub coll_web.exe no-product-info

# Runs a stub to its end; prints its full exit code.
run() {
  "$wine_run" "$run_and_report" "$@" >"$work/report" 2>&1 || true
  sed -n 's/^exit code: \([0-9]*\) .*/\1/p' "$work/report"
}

code=$(run 'C:\coll_ok.exe' /silent /offline /exit:0)
[ "$code" = 0 ] || fail "first installation: exit code $code"
code=$(run 'C:\coll_ok.exe' /silent /offline /exit:0)
[ "$code" = 0 ] || fail "second installation: exit code $code"
code=$(run 'C:\coll_web.exe' /silent '/base-url:http://127.0.0.1:9/')
[ "$code" = 44002 ] || fail "failed download: exit code $code"

# The declined dialog: Escape on the confirmation window.
"$wine_run" "$run_and_report" 'C:\coll_ok.exe' /offline /ppi_icd /nosplash >"$work/report" 2>&1 &
stub_pid=$!
window=""
for _ in $(seq 1 300); do
  window=$(xdotool search --onlyvisible --name '^Veltro Studio$' 2>/dev/null | head -n 1) || true
  [ -n "$window" ] && break
  sleep 0.1
done
if [ -n "$window" ]; then
  xdotool windowfocus "$window"
  sleep 0.3
  xdotool key Escape
else
  fail "declined dialog: no dialog appeared"
fi
for _ in $(seq 1 300); do kill -0 "$stub_pid" 2>/dev/null || break; sleep 0.2; done
kill "$stub_pid" 2>/dev/null || true
wait "$stub_pid" 2>/dev/null || true
grep -q '^exit code: 1223 ' "$work/report" || fail "declined dialog: $(cat "$work/report")"

# Everything the stub posted was taken: nothing refused.
stats=$(curl -s --max-time 10 "${url%/v4/receive/json/25}/stats")
kill -TERM "$server"
wait "$server" || fail "serve ended with status $?"
server=""
summary=$(cat <&3)
python3 - "$stats" <<'PY' || fail "the receiver's counts: $stats; $summary"
import json, sys
s = json.loads(sys.argv[1])
# Per run: sfx-running-veltro and sfx-finish, or the one sfx-fail, or the
# declined run's sfx-finish.
assert s["stored"] == 6 and s["refused"] == 0, s
PY

"$collect" report --db "$db" --since "$(date -u +%Y-%m-%d)" --json "$work/report.json" \
  --html "$work/report.html" || fail "report: status $?"
python3 - "$work/report.json" <<'PY' || fail "the report: $(cat "$work/report.json")"
import json, sys
r = json.load(open(sys.argv[1]))
assert r["sessions"] == 4 and r["events"] == 6, r
assert r["funnel"] == {"started": 4, "preparing": 3, "master_started": 2, "succeeded": 2, "failed": 1}, r["funnel"]
assert r["outcomes"] == {"succeeded": 2, "failed": 1, "other_exit": 1, "no_end": 0}, r["outcomes"]
codes = {c["code"]: (c["sessions"], c["meaning"]) for c in r["exit_codes"]}
assert codes == {0: (2, "installed"), 44002: (1, "a download failed"),
                 1223: (1, "the user declined the installation")}, codes
for kind, rows in r["breakdowns"].items():
    assert sum(b["sessions"] for b in rows) == 4, (kind, rows)
assert r["reboot"] == {"finished": 3, "needed": 0, "share": 0.0}, r["reboot"]
PY
grep -q 'a download failed' "$work/report.html" || fail "the page does not show the failed download"

if [ "$failures" -ne 0 ]; then
  echo "collect_test: $failures failure(s)" >&2
  exit 1
fi
echo "collect_test: four runs posted to veltro-collect ($store) and reported"
