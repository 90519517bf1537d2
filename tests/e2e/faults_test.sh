#!/usr/bin/env bash
# Whole offline runs under wine64 that meet trouble: a stub killed half-way
# through placing a file, a temporary folder on a full disk, ten installers
# started at once on one prefix, sharing (and rotating) one log, and a
# payload of 2 GiB, which must not show in the stub's memory.
#   faults_test.sh PACKER STUB SMALL_LOG_STUB MASTER RUN_AND_REPORT WINE_RUN
set -euo pipefail
pack="$1" stub="$2" small_log_stub="$3" master="$4" run_and_report="$5" wine_run="$6"
prefix_c="$(dirname "$wine_run")/wineprefix/drive_c"
temp="$prefix_c/windows/temp"
log="$prefix_c/ProgramData/Odrano/Veltro/Logs/sfx.log"
work="$(mktemp -d)"
mounted=""
cleanup() {
  [ -n "$mounted" ] && umount -l "$mounted" 2>/dev/null || true
  rm -rf "$work" "$prefix_c"/flt_*.exe
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
sha() { sha256sum "$1" | cut -d' ' -f1; }

# An offline stub NAME whose product places the master and then each FILE
# (stored, found by its digest).
make_stub() {  # name, files...
  local name="$1" files="" f
  shift
  for f in "$@"; do
    files+="<file><name>data\\$(basename "$f")</name><sha-256>$(sha "$f")</sha-256><size>$(stat -c %s "$f")</size></file>"
  done
  cat >"$work/sfx-info.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<sfx-info><products><product name="flt" channel="release" version="1.0.0.0"/></products></sfx-info>
XML
  cat >"$work/product-info.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<product-info><name>flt</name><version>1.0.0.0</version><setup-files>
<file><name>veltro.exe</name><sha-256>$(sha "$master")</sha-256><size>$(stat -c %s "$master")</size></file>$files
</setup-files><setup-commands executable="veltro.exe" arguments=""/></product-info>
XML
  "$pack" sign-xml "$work/sfx-info.xml" "$work/sfx-info.signed.xml" >/dev/null
  "$pack" sign-xml "$work/product-info.xml" "$work/product-info.signed.xml" >/dev/null
  local entries=(--anonymous "$master")
  for f in "$@"; do entries+=(--anonymous "$f"); done
  "$pack" pack --stub "${STUB:-$stub}" --out "$prefix_c/$name" --file "sfx-info.xml=$work/sfx-info.signed.xml" \
    --file "flt/release.xml=$work/product-info.signed.xml" "${entries[@]}" >/dev/null
}
# Runs a stub; prints its full exit code.
run() {
  local report="$work/report.$BASHPID"
  "$wine_run" "$run_and_report" "$@" >"$report" 2>&1 || true
  sed -n 's/^exit code: \([0-9]*\) .*/\1/p' "$report"
}
# The host process id of the running Windows program NAME (wine64 keeps its
# Windows path as the first argument).
pid_of() {
  local p first
  for p in /proc/[0-9]*; do
    first="$( { tr '\0' '\n' <"$p/cmdline"; } 2>/dev/null | head -n 1)" || continue
    [[ "${first,,}" == *"${1,,}" ]] && { basename "$p"; return 0; }
  done
  return 1
}
run_folders() { find "$temp" -maxdepth 1 -name 'qzr-*' ! -name '*.run' -newer "$1" 2>/dev/null | sort; }

"$wine_run" --init

# 1. Killed half-way through placing a 1 GiB file: the folder, the part of
# the file and the run file stay behind; the next run removes them.
truncate -s 1G "$work/big.bin"
make_stub flt_kill.exe "$work/big.bin"
printf 'tiny' >"$work/tiny.bin"
make_stub flt_small.exe "$work/tiny.bin"
touch "$work/start"
run 'C:\flt_kill.exe' /silent /offline >/dev/null &
runner=$!
killed=""
for _ in $(seq 1 1200); do
  part="$(find "$temp" -path '*/qzr-*/common/data/big.bin' 2>/dev/null | head -n 1)"
  if [ -n "$part" ] && pid="$(pid_of 'flt_kill.exe')"; then
    kill -9 "$pid" && killed="$part"
    break
  fi
  sleep 0.05
done
wait "$runner" || true
if [ -z "$killed" ]; then
  fail "killed run: the stub was never seen placing big.bin"
else
  folder="${killed%/common/data/big.bin}"
  size=$(stat -c %s "$killed" 2>/dev/null || echo gone)
  echo "killed run: left $(basename "$folder") with big.bin at $size of $((1 << 30)) bytes"
  [ -f "$folder.run" ] || fail "killed run: no run file beside its folder"
  code=$(run 'C:\flt_small.exe' /silent /offline /exit:3)
  [ "$code" = 3 ] || fail "run after the kill: exit code $code"
  [ ! -e "$folder" ] && [ ! -e "$folder.run" ] || fail "run after the kill: $(basename "$folder") is still there"
  grep -q "The temp folder '.*$(basename "$folder")' of an ended run is removed." "$log" ||
    fail "run after the kill: no log line for the removed folder"
  [ -z "$(run_folders "$work/start")" ] || fail "folders left after the run: $(run_folders "$work/start")"
fi

# 2. The temporary folder on a disk that fills up while a 96 MiB file is
# placed: the run ends with the disk's error, and nothing of it stays.
if [ "$(id -u)" -ne 0 ]; then
  echo "disk full: skipped (mounting a small file system needs root)"
else
  truncate -s 96M "$work/large.bin"
  make_stub flt_full.exe "$work/large.bin"
  mkdir -p "$temp"
  mount -t tmpfs -o size=32m tmpfs "$temp"
  mounted="$temp"
  lines_before=$(wc -l <"$log")
  code=$(run 'C:\flt_full.exe' /silent /offline)
  tail -n +"$((lines_before + 1))" "$log" >"$work/full.log"
  left="$(find "$temp" -mindepth 1 | head -n 5)"
  umount -l "$temp"
  mounted=""
  echo "disk full: exit code $code"
  # The download tried instead fails too (this installer names no
  # repository): the run ends with the disk's own code, not the download's.
  [ "$code" = 112 ] || fail "disk full: exit code '$code'"
  { grep -F "112" "$work/full.log" || true; } | cut -c 88- | head -n 5
  grep -qF "File 'data\\large.bin' from SFX archive has not been unpacked, fail with error 112!" "$work/full.log" ||
    fail "disk full: the log does not name the disk-full error (112)"
  [ -z "$left" ] || fail "disk full: left behind: $left"
fi

# 3. Ten installers at once on one prefix, with a log that rotates at
# 64 KiB: every run ends with its own code in its own folder, and every line
# of every run is in the log or its rotated copy, whole, exactly once.
STUB="$small_log_stub" make_stub flt_many.exe "$work/tiny.bin"
rm -f "$log" "$log.old"
touch "$work/many"
for i in $(seq 1 10); do
  (run 'C:\flt_many.exe' /silent /offline "/exit:$((100 + i))" "/record:C:\\flt_many_$i.txt" >"$work/code.$i") &
done
wait
for i in $(seq 1 10); do
  [ "$(cat "$work/code.$i")" = $((100 + i)) ] || fail "run $i of ten: exit code $(cat "$work/code.$i")"
done
# Each setup master wrote down its command line, which names its folder.
folders=$(cat "$prefix_c"/flt_many_*.txt | grep -o 'veltro-info-path:[^ ]*' | sort -u | wc -l)
[ "$folders" = 10 ] || fail "ten runs used $folders temporary folders"
rm -f "$prefix_c"/flt_many_*.txt
python3 - "$log" "$log.old" <<'PY' || fail "ten runs: the shared log is not whole"
import re, sys
line = re.compile(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[[a-z ]{7}\] \[.{11}\] \[ *(\d+): *\d+\] \[[0-9A-F]{6}: *\d+\] .*$")
files = [p for p in sys.argv[1:] if __import__("os").path.exists(p)]
assert len(files) == 2, "the log did not rotate: %s" % files
seen, runs = set(), {}
for path in files:
    data = open(path, "rb").read()
    assert data.startswith(b"\xef\xbb\xbf") and data.count(b"\xef\xbb\xbf") == 1, path + ": BOM"
    assert data.endswith(b"\n"), path + ": ends inside a line"
    for text in data[3:].decode("utf-8").split("\n")[:-1]:
        m = line.match(text)
        assert m, "%s: broken line %r" % (path, text[:120])
        assert text not in seen, "line twice: %r" % text[:120]
        seen.add(text)
        runs.setdefault(m.group(1), []).append(text)
starts = [p for p, ls in runs.items() if any("SFX started with command line" in l for l in ls)]
assert len(starts) == 10, "%d runs started in the log" % len(starts)
for pid in starts:
    assert any("finished with exit code" in l for l in runs[pid]), "run %s has no end in the log" % pid
print("ten runs: %d lines in %d files, %d KiB" % (len(seen), len(files), sum(len(open(p, "rb").read()) for p in files) >> 10))
PY
[ -z "$(run_folders "$work/many")" ] || fail "ten runs left folders: $(run_folders "$work/many")"

# 4. A 2 GiB setup file, stored: the stub reads its own executable a window
# at a time (signature, payload, placing), so its peak resident size (VmHWM,
# what Windows calls the peak working set) stays far below the file's size.
truncate -s 2G "$work/huge.bin"
make_stub flt_huge.exe "$work/huge.bin"
rm -f "$work/huge.bin"
cat >"$work/peak.py" <<'PY'
import os, subprocess, sys, time
name, command = sys.argv[1].lower(), sys.argv[2:]
proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
peak, deadline = 0, time.monotonic() + 600
while proc.poll() is None and time.monotonic() < deadline:
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if not f.read().split(b"\0")[0].decode(errors="replace").lower().endswith(name):
                    continue
            with open(f"/proc/{pid}/status") as f:
                peak = max([peak] + [int(l.split()[1]) for l in f if l.startswith("VmHWM:")])
        except OSError:
            pass
    time.sleep(0.05)
if proc.poll() is None:
    proc.kill()
out = proc.stdout.read().decode(errors="replace")
code = out.split("exit code: ")[1].split()[0] if "exit code: " in out else "none"
print(code, peak)
PY
read -r code peak < <(python3 "$work/peak.py" flt_huge.exe "$wine_run" "$run_and_report" 'C:\flt_huge.exe' /silent /offline /exit:9)
echo "2 GiB payload: exit code $code, stub peak resident $((peak >> 10)) MiB"
[ "$code" = 9 ] || fail "2 GiB payload: exit code $code"
[ "$peak" -gt 0 ] && [ "$peak" -lt $((256 << 10)) ] || fail "2 GiB payload: peak resident $peak KiB"
rm -f "$prefix_c/flt_huge.exe"

if [ "$failures" -ne 0 ]; then
  echo "faults_test: $failures failure(s)" >&2
  exit 1
fi
echo "faults_test: killed run, full disk, ten runs at once and a 2 GiB payload passed"
