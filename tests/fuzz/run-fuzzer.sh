#!/usr/bin/env bash
# run-fuzzer.sh FUZZER SECONDS WORKDIR SEEDDIR [EXTRA_SEED_DIR]
# Replays the checked-in seeds, then fuzzes for a bounded time in a scratch corpus.
set -euo pipefail
fuzzer=$1 seconds=$2 work=$3 seeds=$4 extra=${5:-}
rm -rf "$work" && mkdir -p "$work"
dirs=("$work")
[ -d "$seeds" ] && dirs+=("$seeds")
if [ -n "$extra" ] && [ -d "$extra" ]; then
  find "$extra" -type f ! -name '*.md' -size -600k -exec cp {} "$work"/ \;
fi
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "${dirs[@]}"
