#!/usr/bin/env bash
# The guide's quickstart, as a release engineer follows it: its manifest
# builds an installer that installs offline, and a web installer that
# installs online from the repository the same build published, served on
# 127.0.0.1.
#   guide_test.sh PACKER STUB MASTER RUN_AND_REPORT WINE_RUN
set -euo pipefail
pack="$1" stub="$2" master="$3" run_and_report="$4" wine_run="$5"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
self="$here/tests/e2e/guide_test.sh"
prefix_c="$(dirname "$wine_run")/wineprefix/drive_c"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Runs an installer copied into the prefix; prints its full exit code and
# keeps what the setup master recorded in $work/master.txt.
run() {  # installer, switches...
  local exe="$1"; shift
  cp "$exe" "$prefix_c/guide_setup.exe"
  rm -f "$prefix_c/guide_master.txt"
  "$wine_run" "$run_and_report" 'C:\guide_setup.exe' /silent '/record:C:\guide_master.txt' /exit:7 "$@" \
    >"$work/report" 2>&1 || true
  cp "$prefix_c/guide_master.txt" "$work/master.txt" 2>/dev/null || : >"$work/master.txt"
  sed -n 's/^exit code: \([0-9]*\) .*/\1/p' "$work/report"
}

if [ "${GUIDE_PHASE:-}" = online ]; then
  work="$GUIDE_WORK"
  code=$(run "$work/web/$(basename "$work"/web/*.exe)" "/base-url:http://$VELTRO_WEB_SERVER")
  [ "$code" = 7 ] || { fail "web installer online: exit code '$code'"; cat "$work/report" >&2; }
  grep -q '/from-guide' "$work/master.txt" || fail "web installer: the master's command line: $(cat "$work/master.txt")"
  [ "$(grep -c '"GET /universe/[^ ]* HTTP/1.1" 200' "$VELTRO_WEB_LOG")" -ge 2 ] ||
    fail "the setup files were not downloaded: $(cat "$VELTRO_WEB_LOG")"
  grep -q '"GET /defs/[^ ]*\.xml\.lzma HTTP/1.1" 200' "$VELTRO_WEB_LOG" || fail "the product-info was not downloaded"
  exit "$failures"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work" "$prefix_c/guide_setup.exe" "$prefix_c/guide_master.txt"' EXIT
cp -r "$here/docs/examples/quickstart" "$work/quickstart"
cp "$master" "$work/quickstart/veltro.exe"
head -c 3000000 /dev/urandom >"$work/quickstart/setup.dat"
cd "$work/quickstart"
"$pack" build release.toml --stub "$stub" --out "$work/full" --publish "$work/repo"
"$pack" build release.toml --stub "$stub" --out "$work/web" --web --no-publish
installer="$(ls "$work"/full/*.exe)"

# Offline: everything from the installer itself.
code=$(run "$installer" /offline)
[ "$code" = 7 ] || { fail "offline: exit code '$code'"; cat "$work/report" >&2; }
grep -q '/from-guide' "$work/master.txt" || fail "offline: the master's command line: $(cat "$work/master.txt")"

# Online: the web installer carries the documents only; every setup file
# comes from the published tree.
[ "$("$pack" list "$(ls "$work"/web/*.exe)" | wc -l)" = 3 ] || fail "the web installer carries setup files"
GUIDE_PHASE=online GUIDE_WORK="$work" "$here/tests/net/with_web_server" "$work/repo" "$self" "$@" ||
  failures=$((failures + $?))

[ "$failures" = 0 ] && echo "guide test: offline and online installs passed"
exit "$failures"
