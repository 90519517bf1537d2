#!/usr/bin/env bash
# The README's first command must keep its promise: the demo packs and
# installs its sample product, and prints the stub's full exit code, the
# setup master's command line and the tail of the log.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
out="$("$here/scripts/demo" 2>&1)"
status=$?
out="${out//$'\r'/}"  # Windows programs end their lines with CR LF
printf '%s\n' "$out"
fail() { echo "demo test: $1" >&2; exit 1; }
[ "$status" -eq 0 ] || fail "scripts/demo ended with status $status"
grep -q '^exit code: 7 (0x7)$' <<<"$out" || fail "no full exit code 7 from the launcher"
master="$(sed -n '/^== the setup master.s command line$/{n;p}' <<<"$out")"
grep -q 'veltro-info-path' <<<"$master" || fail "the setup master's command line lacks veltro-info-path: '$master'"
grep -q '/from-product-info' <<<"$master" || fail "the setup master's command line lacks product-info's arguments"
grep -q '/silent' <<<"$master" || fail "the stub's /silent did not reach the setup master"
grep -A16 '^== tail of the log$' <<<"$out" | grep -qF '*** Ending SFX (7, 7) ***' ||
  fail "the log tail does not show the run's end"
online="$(sed -n '/^== installing online/,$p' <<<"$out")"
grep -q '^exit code: 0 (0x0)$' <<<"$online" || fail "the online install did not end with the master's 0"
grep -q "^Download of 'http://127.0.0.1:[0-9]*/defs/demo/release.xml.lzma' succeeded" <<<"$online" ||
  fail "the online install did not download the product-info"
[ "$(grep -c "^Download of 'http://127.0.0.1:[0-9]*/universe/.*' succeeded" <<<"$online")" -eq 2 ] ||
  fail "the online install did not download both setup files"
stages="$(sed -n '/^== stages reported/,$p' <<<"$online" | awk '$1 ~ /^sfx-/ {print $1, $2}')"
[ "$stages" = $'sfx-running-veltro -\nsfx-finish 0' ] || fail "the collector did not show the run's stages: '$stages'"
exit 0
