#!/usr/bin/env bash
# run_http_bench.sh [COUNT=300]
# Times COUNT profile-page requests made by the plugin's HTTP client (http_bench.exe
# under Wine) and the same requests made by curl, both against the service stand-in
# on loopback behind a relay that keeps each connection open after the reply (so
# only a reply ended by its Content-Length ends quickly), and prints both medians
# and their ratio. Needs the Windows build
# (build/win32, or NIMBO_BUILD_DIR) with the http_bench target built.
# Exits non-zero when an exchange fails or the client's median reaches a second,
# which would mean replies are ended by a wait running out instead of by their length.
set -euo pipefail

count=${1:-300}
case "$count" in '' | *[!0-9]* | 0) echo "usage: $0 [COUNT]" >&2; exit 2 ;; esac

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${NIMBO_BUILD_DIR:-$root/build/win32}
bench=$build/tools/bench/http_bench.exe
if [ ! -f "$bench" ]; then
  echo "no $bench: build it first (cmake --build $build --target http_bench)" >&2
  exit 1
fi

cookie=bench$$c0ffee
user_agent='Opera/9.20 (Windows NT 5.1; U; ru)'
work=$(mktemp -d /tmp/nimbo-bench.XXXXXX)
session=$work/wine-session.path

cleanup() {
  local pid
  for name in relay service; do
    [ -f "$work/$name.pid" ] || continue
    pid=$(cat "$work/$name.pid")
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  "$root/tests/win32/wine-session.sh" stop "$session" || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "starting a Wine session..."
"$root/tests/win32/wine-session.sh" start "$session" >/dev/null

# start_listener NAME PATTERN COMMAND...: runs COMMAND in the background and prints the
# port from its first line (sed PATTERN); the pid goes to $work/NAME.pid.
start_listener() {
  local name=$1 pattern=$2 port=
  shift 2
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  echo $! >"$work/$name.pid"
  for _ in $(seq 100); do
    port=$(sed -n "$pattern" "$work/$name.out")
    [ -n "$port" ] && break
    kill -0 "$(cat "$work/$name.pid")" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$port" ]; then
    echo "$name did not start:" >&2
    cat "$work/$name.err" >&2
    return 1
  fi
  echo "$port"
}

service_port=$(start_listener service 's/^listening 127\.0\.0\.1:\([0-9]*\)$/\1/p' \
  python3 "$root/tools/service/service_standin.py" --port 0 --cookie "$cookie")
# The stand-in closes each connection after its reply, which would end any reply
# quickly; the relay keeps the client's side open, so only a reply ended by its
# Content-Length ends quickly.
port=$(start_listener relay 's/^listening \([0-9]*\)$/\1/p' \
  python3 "$root/tools/bench/hold_open_relay.py" "$service_port" --hold 8)
url=127.0.0.1:$port/profile.php
echo "service stand-in on port $service_port behind a hold-open relay on port $port"
echo "$count requests of http://$url each way"

# The plugin's client, timed inside the Windows process.
bench_status=0
NIMBO_WINE_SESSION_FILE=$session "$root/tests/win32/wine-run.sh" "$bench" "$url" "$count" \
  --cookie "remixsid=$cookie" --each >"$work/bench.out" 2>"$work/bench.err" || bench_status=$?
tr -d '\r' <"$work/bench.out" | grep -v '^time_ms ' || true
if [ "$bench_status" != 0 ]; then
  echo "http_bench failed (exit $bench_status):" >&2
  cat "$work/bench.err" >&2
  exit 1
fi

# curl: one process, one HTTP/1.0 connection per URL, the plugin's headers
# (Accept left out, as the plugin sends none).
{
  for _ in $(seq "$count"); do
    printf 'url = "http://%s"\noutput = "/dev/null"\n' "$url"
  done
} >"$work/curl.conf"
curl --http1.0 -s --noproxy '*' -A "$user_agent" \
  -H "Cookie: remixsid=$cookie; remixlang=0" -H 'Accept:' \
  -w '%{http_code} %{size_download} %{time_total}\n' -K "$work/curl.conf" >"$work/curl.out"

tr -d '\r' <"$work/bench.out" | sed -n 's/^time_ms //p' >"$work/plugin.times"
plugin_body=$(tr -d '\r' <"$work/bench.out" |
  sed -n 's/^first-reply status 200 body \([0-9]*\) bytes$/\1/p')
python3 - "$work/plugin.times" "$work/curl.out" "$count" "${plugin_body:-none}" <<'PY'
import statistics, sys

plugin = [float(l) for l in open(sys.argv[1]) if l.strip()]
curl_replies, curl = set(), []
for line in open(sys.argv[2]):
    code, size, seconds = line.split()
    curl_replies.add((code, size))
    curl.append(float(seconds) * 1000.0)
count = int(sys.argv[3])

def summary(name, times):
    print("%-7s n=%d median %.3f ms  min %.3f  max %.3f" % (
        name, len(times), statistics.median(times), min(times), max(times)))

summary("plugin", plugin)
summary("curl", curl)
# Both sides must have fetched the same page: status 200 and the same body size.
if len(plugin) != count or len(curl) != count or curl_replies != {("200", sys.argv[4])}:
    sys.exit("expected %d timings each and the same 200 page (plugin %d timings, %s bytes;"
             " curl %d timings, status and size %s)"
             % (count, len(plugin), sys.argv[4], len(curl), sorted(curl_replies)))
ratio = statistics.median(plugin) / statistics.median(curl)
print("ratio plugin/curl (medians) %.2f" % ratio)
if statistics.median(plugin) >= 1000.0:
    sys.exit("the plugin's median is a second or more: replies wait for a time-out")
PY
