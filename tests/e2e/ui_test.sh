#!/usr/bin/env bash
# Whole runs with windows, driven by real key presses and clicks (xdotool)
# on the virtual display of tests/ui/with_display: the confirmation dialog
# answered with Enter, Escape, Alt+F4 and a click on Install; the splash
# during an installation, hidden by another process's message and gone
# when the run ends; an installation whose stub lost its picture.
#   ui_test.sh PACKER STUB MASTER RUN_AND_REPORT POST_MESSAGE WINE_RUN
set -euo pipefail
pack="$1" stub="$2" master="$3" run_and_report="$4" post_message="$5" wine_run="$6"
prefix_c="$VELTRO_WINEPREFIX/drive_c"
work="$(mktemp -d)"
trap 'rm -rf "$work" "$prefix_c"/ui_*.exe "$prefix_c"/ui_record.txt' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# A product whose setup master records its command line.
cat >"$work/sfx-info.xml" <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<sfx-info>
  <products><product name="ui" channel="release" version="1.0.0.0"/></products>
  <title lang="en-us">Veltro Studio</title>
</sfx-info>
XML
cat >"$work/product-info.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<product-info><name>ui</name><version>1.0.0.0</version>
  <setup-files>
    <file><name>veltro.exe</name><sha-256>$(sha256sum "$master" | cut -d' ' -f1)</sha-256><size>$(stat -c %s "$master")</size></file>
  </setup-files>
  <setup-commands executable="veltro.exe" arguments="/from-product-info"/>
</product-info>
XML
"$pack" sign-xml "$work/sfx-info.xml" "$work/sfx-info.signed.xml"
"$pack" sign-xml "$work/product-info.xml" "$work/product-info.signed.xml"
pack_stub() {  # bare stub, output
  "$pack" pack --stub "$1" --out "$2" --file "sfx-info.xml=$work/sfx-info.signed.xml" \
    --file "ui/release.xml=$work/product-info.signed.xml" --anonymous "$master" >/dev/null
}
pack_stub "$stub" "$prefix_c/ui_sfx.exe"
# The same stub without its picture: the resource type "GIF" renamed in the
# resource directory (UTF-16, length first), so the splash finds nothing.
python3 - "$stub" "$work/no_gif_stub.exe" <<'PY'
import sys
image = open(sys.argv[1], "rb").read()
name = b"\x03\x00G\x00I\x00F\x00"
assert image.count(name) == 1, "the GIF resource type is not named once"
open(sys.argv[2], "wb").write(image.replace(name, b"\x03\x00G\x00I\x00X\x00"))
PY
pack_stub "$work/no_gif_stub.exe" "$prefix_c/ui_no_gif.exe"

# Starts a stub in the background; its report lands in $work/report.
start_stub() {
  rm -f "$prefix_c/ui_record.txt" "$work/report"
  "$wine_run" "$run_and_report" "$@" '/record:C:\ui_record.txt' >"$work/report" 2>&1 &
  stub_pid=$!
}
# Waits for a window whose title is exactly $1; prints its id.
find_window() {
  local id
  for _ in $(seq 1 300); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) || true
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  return 1
}
# Waits for the stub (at most 60 s) and checks its full exit code.
expect_exit() {
  local waited=0
  while kill -0 "$stub_pid" 2>/dev/null; do
    sleep 0.2; waited=$((waited + 1))
    if [ "$waited" -gt 300 ]; then kill "$stub_pid"; fail "$2: the stub did not end"; return; fi
  done
  wait "$stub_pid" || true
  grep -q "^exit code: $1 " "$work/report" || fail "$2: expected exit code $1, got: $(cat "$work/report")"
}
installed() { [ -s "$prefix_c/ui_record.txt" ]; }

answer_dialog() {  # what the user does, expected exit code, whether installed
  local how="$1" code="$2" installs="$3" w
  start_stub 'C:\ui_sfx.exe' /offline /ppi_icd /nosplash
  if ! w=$(find_window "Veltro Studio"); then fail "$how: no dialog"; kill "$stub_pid"; return; fi
  # Keys go through the X server to the focused window, so that a key's
  # release after the dialog has gone is no event to a window that no longer
  # exists (wine would keep the key down for the next dialog).
  xdotool windowfocus "$w"
  sleep 0.3
  case "$how" in
    Enter) xdotool key Return ;;
    Escape) xdotool key Escape ;;
    Alt+F4) xdotool key alt+F4 ;;
    click)
      # Install is the left button of the bottom row: 16 pixels in from the
      # left and 48 up from the bottom of the client area, 32 high.
      eval "$(xdotool getwindowgeometry --shell "$w")"
      xdotool mousemove $((X + 16 + (WIDTH - 48) / 4)) $((Y + HEIGHT - 33)) click 1 ;;
  esac
  expect_exit "$code" "dialog, $how"
  if [ "$installs" = yes ] && ! installed; then fail "dialog, $how: the setup master did not run"; fi
  if [ "$installs" = no ] && installed; then fail "dialog, $how: the setup master ran"; fi
}
answer_dialog Enter 0 yes
answer_dialog Escape 1223 no
answer_dialog Alt+F4 1223 no
answer_dialog click 0 yes

# The splash stays while the setup master runs; only the hide message with
# its parameter 35 hides it, and it is gone when the run ends.
splash="Veltro Studio Self-Extractor"
start_stub 'C:\ui_sfx.exe' /offline /sleep:4000
if find_window "$splash" >/dev/null; then
  "$wine_run" "$post_message" "$splash" QzrSplashScreenHide 34 || fail "splash: posting the message failed"
  sleep 0.5
  xdotool search --onlyvisible --name "^$splash\$" >/dev/null || fail "splash: hidden by lParam 34"
  "$wine_run" "$post_message" "$splash" QzrSplashScreenHide 35 || fail "splash: posting the message failed"
  sleep 0.5
  ! xdotool search --onlyvisible --name "^$splash\$" >/dev/null || fail "splash: not hidden by lParam 35"
  xdotool search --name "^$splash\$" >/dev/null || fail "splash: the hidden window is gone"
else
  fail "splash: no window during the installation"
fi
expect_exit 0 "splash"
installed && grep -q '/sssid:' "$prefix_c/ui_record.txt" || fail "splash: no sssid for the setup master"
! xdotool search --name "^$splash\$" >/dev/null || fail "splash: still there after the run"

# A stub without its picture still installs.
start_stub 'C:\ui_no_gif.exe' /offline
expect_exit 0 "no picture"
installed || fail "no picture: the setup master did not run"

if [ "$failures" -ne 0 ]; then
  echo "ui_test: $failures failure(s)" >&2
  exit 1
fi
echo "ui_test: dialog (Enter, Escape, Alt+F4, click), splash and a stub without its picture passed"
