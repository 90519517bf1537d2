#!/usr/bin/env bash
# A download's size must not show in the stub's memory. The same online
# installation runs with a 40 MiB and a 200 MiB setup file served by nginx
# on 127.0.0.1; the stub's peak resident size (VmHWM, what Windows calls the
# peak working set) is sampled from /proc while it runs. Both files are
# larger than the 32 MiB window the placed file's digest is taken through,
# so the larger may cost at most a few MiB more; mapping or buffering a
# file whole costs its size.
#
# The benchmark of memory runs the same with other settings:
#   VELTRO_MEMORY_MIB    the setup files' sizes (default "40 200")
#   VELTRO_MEMORY_LEVEL  the publishing level (default 0; "default" for the
#                        publisher's own)
#   VELTRO_MEMORY_DATA   "random" (default: the object is as large as the
#                        file) or "blocks" (an 8 MiB random block repeated:
#                        quick to publish at high levels, and the decoder
#                        still fills its whole dictionary)
#   VELTRO_MEMORY_LIMIT_MIB  a peak no run may pass (default none)
set -euo pipefail
sizes="${VELTRO_MEMORY_MIB:-40 200}"
level="${VELTRO_MEMORY_LEVEL:-0}"
data="${VELTRO_MEMORY_DATA:-random}"
limit_kib=$(( ${VELTRO_MEMORY_LIMIT_MIB:-0} << 10 ))
level_option=(--level "$level")
[ "$level" = default ] && level_option=()
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
head -c $((8 << 20)) /dev/urandom >"$work/block"
for mib in $sizes; do
  product="memflat$mib"
  if [ "$data" = blocks ]; then
    for _ in $(seq 1 $((mib / 8))); do cat "$work/block"; done >"$work/$product.bin"
    head -c $(((mib % 8) << 20)) "$work/block" >>"$work/$product.bin"
  else
    head -c $((mib << 20)) /dev/urandom >"$work/$product.bin"
  fi
  digest="$(sha "$work/$product.bin")"
  cat >"$work/$product.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<product-info><name>$product</name>
  <setup-files>
    <file><name>veltro.exe</name><sha-256>$(sha "$master")</sha-256><size>$(stat -c %s "$master")</size></file>
    <file><name>data\\$product.bin</name><sha-256>$digest</sha-256><size>$((mib << 20))</size></file>
  </setup-files>
</product-info>
XML
  "$tools/veltro-repo" publish --out "$work/repo" --product "$product" --channel release "${level_option[@]}" \
    --product-info "$work/$product.xml" --file "$master" --file "$work/$product.bin" >/dev/null
  echo "$digest" >"$work/$product.sha"
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
  for mib in $3; do
    python3 "$2/peak.py" "memflat${mib}_sfx.exe" "$1/wine-run" "C:\\memflat${mib}_sfx.exe" \
      /silent "/base-url:http://$VELTRO_WEB_SERVER" >"$2/peak$mib"
  done' - "$build" "$work" "$sizes"
echo "level $level, $data data:"
first="" last=""
for mib in $sizes; do
  read -r status peak <"$work/peak$mib"
  read -r digest <"$work/memflat$mib.sha"
  object=$(stat -c %s "$work/repo/universe/${digest:0:4}/${digest:4:4}/${digest:8:4}/$digest.lzma")
  echo "  ${mib} MiB setup file (object ${object} bytes): peak resident ${peak} KiB ($((peak >> 10)) MiB)"
  [ "$status" = 0 ] || { echo "memory test: the ${mib} MiB installation ended with $status" >&2; exit 1; }
  [ "$peak" -gt 0 ] || { echo "memory test: the stub was never seen running" >&2; exit 1; }
  [ "$limit_kib" -eq 0 ] || [ "$peak" -le "$limit_kib" ] ||
    { echo "memory test: ${peak} KiB is above the limit of ${limit_kib} KiB" >&2; exit 1; }
  first="${first:-$peak}" last="$peak"
done
growth=$((last - first))
echo "growth ${growth} KiB (allowed ${allowed_growth_kib} KiB)"
[ "$growth" -le "$allowed_growth_kib" ] || { echo "memory test: the stub's memory grows with the download" >&2; exit 1; }
