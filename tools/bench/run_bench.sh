#!/usr/bin/env bash
# run_bench.sh [--quick]
# Every performance figure in one run, each measured side by side with its baseline:
#   1. tags: reading artist and title of the shared sample files as the composer does,
#      natively against Debian's libtag and the floor (open, read the first 4 KiB and
#      the last 128 bytes, close), and under Wine against the same floor under Wine;
#   2. exchange: the plugin's HTTP client against a minimal Winsock GET, over TLS
#      against a minimal SChannel GET, and a ListenBrainz playing-now against a minimal
#      SChannel POST of the same bytes, under Wine;
#   3. size: gen_nimbo.dll and its sections;
#   4. idle tick: CPU of the player stand-in plus wineserver per idle tick, against
#      the plugin off and the plugin disabled, and with ListenBrainz on against without;
#   5. catch-up: how long a full queue of listens (10,000) takes to reach the service
#      stand-in after a start, for ListenBrainz and for Last.fm.
# Ends with one summary line per figure. --quick makes every part short (a smoke run).
# Needs both builds (build/host with tag_bench, build/win32; or NIMBO_HOST_BUILD_DIR
# and NIMBO_BUILD_DIR). Uses the Wine session named by NIMBO_WINE_SESSION_FILE, else
# starts its own. Run it under flock /tmp/nimbo-wine.lock like the Wine tests.
# Exits non-zero when a part fails to run or prints no figures; never on a figure.
set -euo pipefail

quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  '') ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/../.." && pwd)
export PYTHONPATH="$root/tools${PYTHONPATH:+:$PYTHONPATH}"  # the harness package
host=${NIMBO_HOST_BUILD_DIR:-$root/build/host}
win=${NIMBO_BUILD_DIR:-$root/build/win32}
samples=${NIMBO_TESTDATA_DIR:-$root/../shared/testdata}/id3
[ -d "$samples" ] || { echo "no sample files in $samples (NIMBO_TESTDATA_DIR)" >&2; exit 1; }
samples=$(cd "$samples" && pwd)
if [ "$quick" = 1 ]; then
  tag_rounds=2 http_count=20 idle_seconds=3 idle_rounds=1 listens=150
else
  tag_rounds=21 http_count=300 idle_seconds=10 idle_rounds=3 listens=10000
fi
for f in "$host/tools/bench/tag_bench" "$win/tools/bench/tag_bench.exe" \
  "$win/tools/bench/http_bench.exe" "$win/gen_nimbo.dll" "$win/tools/player/nimbo_player.exe"; do
  [ -f "$f" ] || { echo "no $f: build both trees first (see README.md)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/nimbo-benchall.XXXXXX)
. "$root/tools/bench/bench_session.sh"
cleanup() {
  bench_session_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
bench_session_start

# part NAME COMMAND...: runs one part, shows its output indented and keeps it in
# $work/NAME.out.
part() {
  local name=$1
  shift
  if ! "$@" >"$work/$name.out" 2>"$work/$name.err"; then
    sed 's/^/  /' "$work/$name.out"
    echo "$name failed:" >&2
    cat "$work/$name.err" >&2
    exit 1
  fi
  tr -d '\r' <"$work/$name.out" | sed 's/^/  /'
  tr -d '\r' <"$work/$name.out" >"$work/$name.txt"
}
figure() { sed -n "s/^ *$2 //p" "$work/$1.txt" | head -1; }

echo "== 1. tags, native ($tag_rounds rounds, medians)"
part tags_native "$host/tools/bench/tag_bench" "$samples" "$tag_rounds"
echo "== 1. tags, under Wine ($tag_rounds rounds, medians)"
part tags_wine "$root/tests/win32/wine-run.sh" "$win/tools/bench/tag_bench.exe" "Z:$samples" \
  "$tag_rounds"

echo "== 2. exchange, under Wine"
part http bash "$root/tools/bench/run_http_bench.sh" "$http_count"

echo "== 3. size of gen_nimbo.dll"
{
  i686-w64-mingw32-objdump -h "$win/gen_nimbo.dll" |
    while read -r index name size _; do
      case "$index" in *[!0-9]* | '') continue ;; esac
      printf 'section %-8s %7d\n' "$name" "$((16#$size))"
    done
  echo "file_bytes $(stat -c %s "$win/gen_nimbo.dll")"
} >"$work/size.list"
part size cat "$work/size.list"

echo "== 4. idle tick, under Wine ($idle_rounds rounds of $idle_seconds s per set-up)"
part idle python3 "$root/tools/bench/idle_tick.py" "$win/tools/player/nimbo_player.exe" \
  "$win/gen_nimbo.dll" --seconds "$idle_seconds" --rounds "$idle_rounds"

echo "== 5. catch-up of $listens listens, under Wine"
part catchup python3 "$root/tools/bench/listen_catchup.py" "$win/tools/player/nimbo_player.exe" \
  "$win/gen_nimbo.dll" --listens "$listens"

bytes=$(figure size file_bytes)
for value in "$(figure tags_native tags_nimbo_over_floor)" "$(figure tags_wine tags_nimbo_over_floor)" \
  "$(figure http ratio_plugin_over_baseline)" "$bytes" "$(figure idle idle_tick_us_over_off)" \
  "$(figure idle idle_tick_lb_us_over_idle)" "$(figure catchup catchup_seconds)" \
  "$(figure catchup catchup_lastfm_seconds)"; do
  [ -n "$value" ] || { echo "a part printed no figure (see its output above)" >&2; exit 1; }
done
echo "== summary (targets in brackets)"
echo "1. tags native: nimbo $(figure tags_native tags_nimbo_us_per_file) µs/file," \
  "TagLib $(figure tags_native tags_taglib_us_per_file), floor" \
  "$(figure tags_native tags_floor_us_per_file); TagLib/nimbo" \
  "$(figure tags_native tags_taglib_over_nimbo) [>= 10]," \
  "nimbo/floor $(figure tags_native tags_nimbo_over_floor) [<= 3]"
echo "1. tags for a listening service (album, year, IDs): TagLib/nimbo" \
  "$(figure tags_native tags_taglib_over_nimbo_listen), nimbo/floor" \
  "$(figure tags_native tags_nimbo_listen_over_floor) native," \
  "$(figure tags_wine tags_nimbo_listen_over_floor) under Wine"
echo "1. tags Wine:   nimbo $(figure tags_wine tags_nimbo_us_per_file) µs/file," \
  "floor $(figure tags_wine tags_floor_us_per_file); nimbo/floor" \
  "$(figure tags_wine tags_nimbo_over_floor) [<= 3]"
echo "2. exchange:    plugin $(figure http plugin_median_ms) ms, minimal GET" \
  "$(figure http baseline_median_ms) ms; plugin/minimal" \
  "$(figure http ratio_plugin_over_baseline) [<= 1.2]"
echo "2. secure:      plugin $(figure http secure_plugin_median_ms) ms, minimal SChannel GET" \
  "$(figure http secure_baseline_median_ms) ms; plugin/minimal" \
  "$(figure http secure_ratio_plugin_over_baseline) [<= 1.3]"
echo "2. playing-now: plugin $(figure http playing_now_plugin_median_ms) ms, minimal SChannel" \
  "POST $(figure http playing_now_baseline_median_ms) ms; plugin/minimal" \
  "$(figure http playing_now_ratio_plugin_over_baseline) [<= 1.3]"
echo "3. size:        $bytes bytes [<= 350000]"
echo "4. idle tick:   $(figure idle idle_tick_us_over_off) µs CPU per tick over the plugin" \
  "off, $(figure idle idle_tick_us_over_disabled) over the plugin disabled" \
  "(player + wineserver) [a few window queries and two comparisons]"
echo "4. idle, LB on: $(figure idle idle_tick_lb_us_over_idle) µs CPU per tick over ListenBrainz" \
  "off [nothing more]"
echo "4. idle, all on: $(figure idle idle_tick_all_us_over_lb) µs CPU per tick over ListenBrainz" \
  "alone, $(sed -n 's/^idle_idle_all_us_per_second .*queries \([0-9.]*\)$/\1/p' "$work/idle.txt")" \
  "queries a tick [as many as with one target counting listens]"
echo "2. scrobble:    plugin $(figure http scrobble_plugin_median_ms) ms, minimal SChannel" \
  "POST $(figure http scrobble_baseline_median_ms) ms; plugin/minimal" \
  "$(figure http scrobble_ratio_plugin_over_baseline) [<= 1.3]"
echo "5. catch-up:    $(figure catchup catchup_listens) listens in $(figure catchup catchup_seconds) s," \
  "$(figure catchup catchup_requests) requests, $(figure catchup catchup_listens_per_second)" \
  "a second [10,000 under 20 s: up to 1,000 a request, one request a second]"
echo "5. Last.fm:     $(figure catchup catchup_lastfm_listens) scrobbles in" \
  "$(figure catchup catchup_lastfm_seconds) s, $(figure catchup catchup_lastfm_requests) requests," \
  "$(figure catchup catchup_lastfm_listens_per_second) a second [up to 50 a request, one a second]"
