#!/usr/bin/env bash
# A download's size must not show in the stub's memory. The same online
# installation runs with a 40 MiB and a 200 MiB setup file served by nginx
# on 127.0.0.1; the stub's peak resident size (VmHWM, what Windows calls the
# peak working set) is sampled from /proc while it runs. Both files are
# larger than the 32 MiB window the placed file's digest is taken through,
# so the larger may cost at most a few MiB more; mapping or buffering a
# file whole costs its size.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$here/build/win64"
tools="$here/build/native/bin"
prefix_c="$build/wineprefix/drive_c"
master="$build/bin/veltro_fixture.exe"
allowed_growth_kib=$((8 << 10))
work="$(mktemp -d)"
trap 'rm -rf "$work" "$prefix_c"/memflat*_sfx.exe' EXIT
"$build/wine-run" --init

sha() { sha256sum "$1" | cut -d' ' -f1; }
for mib in 40 200; do
  product="memflat$mib"
  # Random bytes: the object on the wire is as large as the file.
  head -c $((mib << 20)) /dev/urandom >"$work/$product.bin"
  cat >"$work/$product.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<product-info><name>$product</name>
  <setup-files>
    <file><name>veltro.exe</name><sha-256>$(sha "$master")</sha-256><size>$(stat -c %s "$master")</size></file>
    <file><name>data\\$product.bin</name><sha-256>$(sha "$work/$product.bin")</sha-256><size>$((mib << 20))</size></file>
  </setup-files>
</product-info>
XML
  "$tools/veltro-repo" publish --out "$work/repo" --product "$product" --channel release --level 0 \
    --product-info "$work/$product.xml" --file "$master" --file "$work/$product.bin" >/dev/null
  rm "$work/$product.bin"
  cat >"$work/sfx-info.plain.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<sfx-info><products><product name="$product" channel="release" version="1.0"/></products></sfx-info>
XML
  "$tools/veltro-pack" sign-xml "$work/sfx-info.plain.xml" "$work/sfx-info.xml" >/dev/null
  "$tools/veltro-pack" pack --stub "$build/bin/veltro_sfx.exe" --out "$prefix_c/${product}_sfx.exe" \
    --file "sfx-info.xml=$work/sfx-info.xml" >/dev/null
done

# Runs one stub and prints its exit status and peak resident KiB. The stub is
# the process whose first argument is its Windows path (wine64 keeps it so).
cat >"$work/peak.py" <<'PY'
import os, subprocess, sys, time
name, command = sys.argv[1].lower(), sys.argv[2:]
proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
peak, deadline = 0, time.monotonic() + 600
while proc.poll() is None and time.monotonic() < deadline:
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                first = f.read().split(b"\0")[0].decode(errors="replace").lower()
            if not first.endswith(name):
                continue
            with open(f"/proc/{pid}/status") as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]))
        except OSError:
            pass
    time.sleep(0.02)
if proc.poll() is None:
    proc.kill()
    print("timeout", peak)
else:
    print(proc.returncode, peak)
PY

"$here/tests/net/with_web_server" "$work/repo" bash -c '
  for mib in 40 200; do
    python3 "$2/peak.py" "memflat${mib}_sfx.exe" "$1/wine-run" "C:\\memflat${mib}_sfx.exe" \
      /silent "/base-url:http://$VELTRO_WEB_SERVER" >"$2/peak$mib"
  done' - "$build" "$work"
read -r status40 peak40 <"$work/peak40"
read -r status200 peak200 <"$work/peak200"
echo "peak resident size: 40 MiB download ${peak40} KiB, 200 MiB download ${peak200} KiB"
[ "$status40" = 0 ] && [ "$status200" = 0 ] || { echo "memory test: the installations ended with $status40 and $status200" >&2; exit 1; }
[ "$peak40" -gt 0 ] && [ "$peak200" -gt 0 ] || { echo "memory test: the stub was never seen running" >&2; exit 1; }
growth=$((peak200 - peak40))
echo "growth ${growth} KiB (allowed ${allowed_growth_kib} KiB)"
[ "$growth" -le "$allowed_growth_kib" ] || { echo "memory test: the stub's memory grows with the download" >&2; exit 1; }
