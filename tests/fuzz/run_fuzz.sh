#!/usr/bin/env bash
# One fuzz run: TARGET over the seeds in SEEDS (read only) and what earlier
# runs found in FOUND (where new inputs and any crash land), for SECONDS.
#   run_fuzz.sh TARGET SEEDS FOUND SECONDS MAX_LEN
set -euo pipefail
target="$1" seeds="$2" found="$3" seconds="$4" max_len="$5"
mkdir -p "$found/corpus" "$found/artifacts"
log="$found/last-run.log"
# A per-input limit of 10 s and 2 GiB: a slow or greedy input is a fault
# like a crash.
status=0
"$target" "$found/corpus" "$seeds" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$found/artifacts/" >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  cat "$log"
  echo "fuzz run failed ($status); the input is in $found/artifacts" >&2
  exit "$status"
fi
# The summary: executions, executions per second, corpus size.
grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)|DONE' "$log" || true
