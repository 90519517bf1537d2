# Whole runs of the shipped PE32 stub, inside a test guest (run by its init
# from the test disk, /mnt/t). Every run goes through run_and_report.exe,
# which prints the stub's full 32-bit exit code; the console gets
#   @@RUN <name> code=<exit code> seconds=<run time>
#   @@OUT <name> <what a run left: a recorded command line, a log line...>
# and scripts/test-pe32 checks them on the host. The guest's runs are picked
# by veltro.runs= on the kernel command line: all, or signature (the
# signature and hash paths only, for a second CPU model).
up() { cut -d' ' -f1 /proc/uptime; }
export HOME=/root USER=root LANG=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=/root/.wine
[ "$(uname -m)" = x86_64 ] && export WINEARCH=win64 || export WINEARCH=win32
runs=all
for word in $(cat /proc/cmdline); do case "$word" in veltro.runs=*) runs=${word#veltro.runs=} ;; esac; done
echo "@@ guest $(uname -m) $(wine --version 2>&1) runs=$runs cpu: $(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2)"
grep -qw sha_ni /proc/cpuinfo && echo "@@CPU sha_ni=yes" || echo "@@CPU sha_ni=no"
disk='Z:\mnt\t'
stubs="$disk\\stubs"
c=$WINEPREFIX/drive_c

S0=$(up)
timeout 60 wineserver -p
timeout 300 wine cmd /c ver >/tmp/ver.out 2>&1
echo "@@T wine ready $S0 -> $(up)"

# run NAME INSTALLER [ARGUMENTS...]
run() {
  name=$1; shift
  s=$(up)
  timeout 1500 wine "$disk\\run_and_report.exe" "$@" >/tmp/run.out 2>&1 </dev/null
  code=$(tr -d '\r' </tmp/run.out | sed -n 's/^exit code: \([0-9]*\) .*/\1/p' | tail -n 1)
  echo "@@RUN $name code=${code:-none} seconds=$(busybox awk -v a="$(up)" -v b="$s" 'BEGIN { printf "%.1f", a - b }')"
  [ -n "$code" ] || tr -d '\r' </tmp/run.out | tail -n 5 | sed "s/^/@@OUT $name wine: /"
}
# out NAME FILE: the file's lines (without carriage returns)
out() { [ -f "$2" ] && tr -d '\r' <"$2" | busybox awk -v p="@@OUT $1 " '{ print p $0 }' || echo "@@OUT $1 (no $2)"; }
log_file() { find "$c/ProgramData" -name sfx.log 2>/dev/null | head -n 1; }
# log_lines NAME PATTERN: lines of this run's log that match
# (bytes that are not text show as cat -v writes them)
log_lines() { lg=$(log_file); [ -n "$lg" ] && tr -d '\r' <"$lg" | grep -aE "$2" | cat -v | cut -c 1-240 | sed "s/^/@@OUT $1 log: /"; }
fresh_log() { lg=$(log_file); [ -n "$lg" ] && rm -f "$lg" "$lg.old"; }

# The signature and hash paths: an offline installation from the payload,
# whose setup master's full exit code comes back; the hand-over file and
# the inherited handle; stubs whose signature does not verify.
run offline "$stubs\\install.exe" /silent /offline '/record:C:\offline.txt' /exit:3000000005
out offline "$c/offline.txt"
log_lines offline 'System\(|has been correctly unpacked|Ending SFX'
run handover "$stubs\\install.exe" /verysilent /offline '/check-temp:sub\x.edat' '/read-entry:sfx-info.xml=C:\entry.xml'
cmp -s "$c/entry.xml" /mnt/t/stubs/sfx-info.xml && echo "@@OUT handover entry read through the handle: same" ||
  echo "@@OUT handover entry read through the handle: differs"
for name in tampered wrong_key bare; do
  fresh_log
  run "$name" "$stubs\\$name.exe" /silent
  log_lines "$name" 'not DSA signed|Ending SFX'
done
run signed_v2 "$stubs\\signed_v2.exe" /silent

if [ "$runs" = all ]; then
  # Online, from a web server in the guest on loopback; the compatibility
  # module (downloaded, 32-bit) switches the channel to beta and uses the
  # stub's exports.
  busybox httpd -p 127.0.0.1:8080 -h /mnt/t/stubs
  base=/base-url:http://127.0.0.1:8080/repo
  fresh_log
  export VELTRO_MOD_ANSWER=beta VELTRO_MOD_CONNECTORS='C:\module.txt'
  run online_beta "$stubs\\online.exe" /silent /xperf "$base" '/record:C:\online.txt'
  unset VELTRO_MOD_ANSWER VELTRO_MOD_CONNECTORS
  out online_beta "$c/online.txt"
  out online_beta "$c/module.txt"
  log_lines online_beta 'Download of .*(veltro_mod|beta|release)|Ending SFX'
  run online_release "$stubs\\online.exe" /silent "$base" '/record:C:\release.txt'
  out online_release "$c/release.txt"
  run online_missing "$stubs\\online.exe" /silent "$base/nowhere"

  # Rules that meet WOW64: the platform, and System32 as a native program
  # sees it: one flag in the native system folder, one in the 32-bit one
  # (which a 32-bit Windows does not have).
  : >"$c/windows/system32/veltro-native.flag"
  [ -d "$c/windows/syswow64" ] && : >"$c/windows/syswow64/veltro-wow64.flag"
  # (one file per run: a named option given twice reaches the master once)
  fresh_log
  run rules_native "$stubs\\rules.exe" /silent /offline '/check-temp:common\native.txt'
  log_lines rules_native "File '(native|x64|x86)|veltro-(native|wow64).flag"
  run rules_x64 "$stubs\\rules.exe" /silent /offline '/check-temp:common\x64.txt'
  run rules_x86 "$stubs\\rules.exe" /silent /offline '/check-temp:common\x86.txt'

  # A log one kilobyte short of its 4 MiB limit rotates during the run.
  lg=$(log_file)
  printf '\357\273\277' >"$lg"
  line="[2026-01-01 00:00:00.000] [info   ] [filler     ] [    1:    1] [000000:   0] old line of the log that fills it up to the limit"
  busybox awk -v l="$line" 'BEGIN { for (i = 0; i < 32000; ++i) print l }' >>"$lg"
  truncate -s $((4 * 1024 * 1024 - 1024)) "$lg"
  printf '\r\n' >>"$lg"
  run rotation "$stubs\\install.exe" /silent /offline
  echo "@@OUT rotation sizes: log=$(stat -c %s "$lg") old=$(stat -c %s "$lg.old" 2>/dev/null || echo none)"
  head -c 3 "$lg.old" | od -An -tx1 | sed 's/^ */@@OUT rotation old starts: /'
  head -c 3 "$lg" | od -An -tx1 | sed 's/^ */@@OUT rotation new starts: /'
  tr -d '\r' <"$lg.old" | grep -c 'old line of the log' | sed 's/^/@@OUT rotation filler lines in old: /'
  tr -d '\r' <"$lg.old" | grep -aE 'Starting SFX' | cat -v | cut -c 1-200 | sed 's/^/@@OUT rotation old: /'
  tr -d '\r' <"$lg" | grep -aE 'Ending SFX' | cat -v | cut -c 1-120 | sed 's/^/@@OUT rotation new: /'
  tail -c +4 "$lg" | head -n 1 | cat -v | cut -c 1-40 | sed 's/^/@@OUT rotation new first line: /'

  # A stored payload past the 31-bit offsets.
  if [ -f /mnt/t/large.exe ]; then
    fresh_log
    run large "$disk\\large.exe" /silent /offline '/check-temp:common\large.bin' /exit:77
    log_lines large "File 'large.bin'|is not DSA|Ending SFX"
  fi
fi

timeout 60 wineserver -k
timeout 60 wineserver -w
echo "@@T runs done $S0 -> $(up)"
