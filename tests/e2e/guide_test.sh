#!/usr/bin/env bash
# The guide's quickstart, as a release engineer follows it: its manifest
# builds an installer that installs offline, and a web installer that
# installs online from the repository the same build published, served on
# 127.0.0.1, also pinned to its version with /noupdate and after a
# compatibility module moved it to another channel.
# The failed runs the troubleshooting page shows are real runs' logs.
#   guide_test.sh PACKER STUB MASTER RUN_AND_REPORT WINE_RUN MODULE
set -euo pipefail
pack="$1" stub="$2" master="$3" run_and_report="$4" wine_run="$5" module="$6"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
self="$here/tests/e2e/guide_test.sh"
prefix_c="$(dirname "$wine_run")/wineprefix/drive_c"
log="$prefix_c/ProgramData/Odrano/Veltro/Logs/sfx.log"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
recorded=(/silent '/record:C:\guide_master.txt' /exit:7)

# Runs an installer copied into the prefix; prints its full exit code and
# keeps what the setup master recorded in $work/master.txt, the run's log in
# $work/sfx.log.
run() {  # installer, switches...
  local exe="$1"; shift
  cp "$exe" "$prefix_c/guide_setup.exe"
  rm -f "$prefix_c/guide_master.txt" "$log"
  "$wine_run" "$run_and_report" 'C:\guide_setup.exe' "$@" >"$work/report" 2>&1 || true
  cp "$prefix_c/guide_master.txt" "$work/master.txt" 2>/dev/null || : >"$work/master.txt"
  cp "$log" "$work/sfx.log" 2>/dev/null || : >"$work/sfx.log"
  sed -n 's/^exit code: \([0-9]*\) .*/\1/p' "$work/report"
}

# The log excerpt below "<!-- log: NAME -->" in troubleshooting.md is in the
# last run's log: each of its lines, level and message, in this order (other
# lines may come between); "..." stands for any text.
log_shows() {  # name
  python3 - "$here/docs/troubleshooting.md" "$1" "$work/sfx.log" <<'PY'
import re, sys
page, name, log = sys.argv[1:]
lines = open(page, encoding="utf-8").read().split("\n")
marker = f"<!-- log: {name} -->"
if marker not in lines:
    sys.exit(f"troubleshooting.md has no excerpt {marker}")
start = lines.index(marker) + 2
excerpt = lines[start:lines.index("```", start)]
entries = re.findall(r"^\[[^\]]*\] (\[[^\]]*\]) \[[^\]]*\] \[[^\]]*\] \[[^\]]*\] (.*)$",
                     open(log, encoding="utf-8-sig").read(), re.M)
shown = [level + " " + message for level, message in entries]
at = 0
for want in excerpt:
    pattern = re.compile(".*".join(map(re.escape, want.split("..."))))
    while at < len(shown) and not pattern.fullmatch(shown[at]):
        at += 1
    if at == len(shown):
        sys.exit(f"{name}: not in the log, or not in this order: {want}")
    at += 1
PY
}

if [ "${GUIDE_PHASE:-}" = online ]; then
  work="$GUIDE_WORK"
  web="$(ls "$work"/web/*.exe)"
  code=$(run "$web" "${recorded[@]}" "/base-url:http://$VELTRO_WEB_SERVER")
  [ "$code" = 7 ] || { fail "web installer online: exit code '$code'"; cat "$work/report" >&2; }
  grep -q '/from-guide' "$work/master.txt" || fail "web installer: the master's command line: $(cat "$work/master.txt")"
  [ "$(grep -c '"GET /universe/[^ ]* HTTP/1.1" 200' "$VELTRO_WEB_LOG")" -ge 2 ] ||
    fail "the setup files were not downloaded: $(cat "$VELTRO_WEB_LOG")"
  grep -q '"GET /defs/[^ ]*\.xml\.lzma HTTP/1.1" 200' "$VELTRO_WEB_LOG" || fail "the product-info was not downloaded"

  # Pinned with /noupdate: the document of the installer's own version, which
  # the build published beside the channel's.
  code=$(run "$web" "${recorded[@]}" "/base-url:http://$VELTRO_WEB_SERVER" /noupdate)
  [ "$code" = 7 ] || { fail "/noupdate: exit code '$code'"; cat "$work/report" >&2; }
  grep -q '/from-guide' "$work/master.txt" || fail "/noupdate: the master's command line: $(cat "$work/master.txt")"
  grep -q '"GET /defs/quickstart/1/0/0/0/release\.xml\.lzma HTTP/1.1" 200' "$VELTRO_WEB_LOG" ||
    fail "/noupdate: the pinned product-info was not downloaded: $(grep /defs/ "$VELTRO_WEB_LOG")"

  # The module moves the product to channel beta: the stub installs beta's
  # document, and the hand-over file still names the installer's own channel
  # and version.
  export VELTRO_MOD_ANSWER=beta
  code=$(run "$web" "${recorded[@]}" "/base-url:http://$VELTRO_WEB_SERVER" /xperf)
  unset VELTRO_MOD_ANSWER
  [ "$code" = 7 ] || { fail "channel update: exit code '$code'"; cat "$work/report" >&2; }
  grep -q '"GET /defs/quickstart/beta\.xml\.lzma HTTP/1.1" 200' "$VELTRO_WEB_LOG" ||
    fail "channel update: beta's product-info was not downloaded"
  kept="$(sed -n "s/.*SFX temp folder '.*\\\\\\(qzr-[^']*\\)' created\\..*/\\1/p" "$work/sfx.log")"
  [ -n "$kept" ] && python3 - "$prefix_c/windows/temp/$kept" <<'PY' || fail "channel update: the hand-over file"
import sys, xml.etree.ElementTree as ET
folder = sys.argv[1]
product = ET.parse(folder + "/veltro-info.xml").getroot().find("products/product")
assert (product.get("channel"), product.get("version")) == ("release", "1.0.0.0"), product.attrib
installed = ET.parse(folder + "/common/product-info.xml").getroot().findtext("version")
assert installed == "1.0.0.1", installed
PY
  [ -n "$kept" ] && rm -rf "${prefix_c:?}/windows/temp/$kept"
  exit "$failures"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work" "$prefix_c/guide_setup.exe" "$prefix_c/guide_master.txt"' EXIT
cp -r "$here/docs/examples/quickstart" "$work/quickstart"
cp "$master" "$work/quickstart/veltro.exe"
head -c 3000000 /dev/urandom >"$work/quickstart/setup.dat"
cd "$work/quickstart"
sed -i 's/^\[repository\]$/&\npinned = true/' release.toml
"$pack" build release.toml --stub "$stub" --out "$work/full" --publish "$work/repo"
"$pack" build release.toml --stub "$stub" --out "$work/web" --web --no-publish
installer="$(ls "$work"/full/*.exe)"
web="$(ls "$work"/web/*.exe)"

# Channel beta, a later version of the same files, and the product's
# compatibility module, which moves installers to beta when asked.
mkdir "$work/beta"
cp veltro.exe setup.dat "$work/beta/"
cp "$module" "$work/beta/veltro_mod.dll"
sed -e 's/^channel = .*/channel = "beta"/' -e 's/^version = .*/version = "1.0.0.1"/' \
  -e 's/^publish = .*/module = "veltro_mod.dll"/' release.toml >"$work/beta/release.toml"
(cd "$work/beta" && "$pack" build release.toml --stub "$stub" --out "$work/beta/out" --publish "$work/repo")

# Offline: everything from the installer itself.
code=$(run "$installer" "${recorded[@]}" /offline)
[ "$code" = 7 ] || { fail "offline: exit code '$code'"; cat "$work/report" >&2; }
grep -q '/from-guide' "$work/master.txt" || fail "offline: the master's command line: $(cat "$work/master.txt")"

# The failed runs of the troubleshooting page: the web installer while
# nothing serves the repository at the manifest's base URL, and with
# /offline.
if (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; then
  fail "something listens on 127.0.0.1:8080, the quickstart's repository: the failed download cannot be shown"
else
  code=$(run "$web" /silent)
  [ "$code" = 44002 ] || fail "web installer, no repository: exit code '$code'"
  log_shows "the web installer, nothing serving the repository" || fail "the failed download's log"
fi
code=$(run "$web" /silent /offline)
[ "$code" = 4294967295 ] || fail "web installer offline: exit code '$code'"
log_shows "the web installer with /offline" || fail "the offline failure's log"

# Online: the web installer carries the documents only; every setup file
# comes from the published tree.
[ "$("$pack" list "$web" | wc -l)" = 3 ] || fail "the web installer carries setup files"
GUIDE_PHASE=online GUIDE_WORK="$work" "$here/tests/net/with_web_server" "$work/repo" "$self" "$@" ||
  failures=$((failures + $?))

[ "$failures" = 0 ] && echo "guide test: offline, online, channel update and failed installs passed"
exit "$failures"
