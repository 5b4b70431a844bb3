#!/usr/bin/env bash
# run_http_bench.sh [COUNT=300]
# Times COUNT profile-page requests made by the plugin's HTTP client and the same
# requests made by a minimal Winsock GET (connect, send, read until the server
# closes), taking turns in one Windows process under Wine against the service
# stand-in on loopback, and prints both medians and their ratio, and what each socket
# step the client takes on top of the minimal GET costs. Then a short pass of
# the plugin's client alone through a relay that keeps each connection open after the
# reply (so only a reply ended by its Content-Length ends quickly). Then, when openssl
# is there, the same over TLS: the plugin's secure exchange against a minimal SChannel
# GET, taking turns, to a second stand-in on the build's TLS port with a certificate
# made here (its CA trusted in the Wine session's prefix only); and a ListenBrainz
# playing-now through the plugin's API exchange against a minimal SChannel POST of the
# same request bytes, taking turns, to the same TLS stand-in.
# Needs the Windows build (build/win32, or NIMBO_BUILD_DIR) with http_bench built.
# Uses the Wine session named by NIMBO_WINE_SESSION_FILE when there is one, else its own.
# Exits non-zero when an exchange fails or the client's median through the relay
# reaches a second, which would mean replies are ended by a wait running out instead
# of by their length.
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
work=$(mktemp -d /tmp/nimbo-bench.XXXXXX)
. "$root/tools/bench/bench_session.sh"

cleanup() {
  local pid
  for name in relay service secure; do
    [ -f "$work/$name.pid" ] || continue
    pid=$(cat "$work/$name.pid")
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  bench_session_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bench_session_start

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
echo "service stand-in on port $service_port, a hold-open relay in front of it on port $port"

# run_client NAME ARGS...: http_bench.exe under Wine; its output (CR removed) goes to
# $work/NAME.out and is shown; a failed run ends the script.
run_client() {
  local name=$1 status=0
  shift
  NIMBO_WINE_SESSION_FILE=$session "$root/tests/win32/wine-run.sh" "$bench" "$@" \
    --cookie "remixsid=$cookie" 2>"$work/$name.err" | tr -d '\r' >"$work/$name.out" ||
    status=$?
  sed 's/^/  /' "$work/$name.out"
  if [ "$status" != 0 ] || ! grep -q '^plugin_median_ms ' "$work/$name.out"; then
    echo "http_bench ($name) failed:" >&2
    cat "$work/$name.err" >&2
    exit 1
  fi
}

echo "$count requests of http://127.0.0.1:$service_port/profile.php each way, taking turns:" \
  "the plugin, a minimal GET, and the minimal GET with each of the plugin's extra steps"
run_client side-by-side "127.0.0.1:$service_port/profile.php" "$count" --breakdown

relay_count=$((count < 20 ? count : 20))
echo "$relay_count requests of the plugin's client through the hold-open relay"
run_client relay "127.0.0.1:$port/profile.php" "$relay_count"

figure() { sed -n "s/^$2 //p" "$work/$1.out"; }
# tls_figures NAME PREFIX METHOD: the medians and ratio of the TLS run NAME against
# the minimal SChannel METHOD, as a sentence and as PREFIX_... figures.
tls_figures() {
  echo "$1 exchange: plugin median $(figure "$1" plugin_median_ms) ms, minimal SChannel" \
    "$3 median $(figure "$1" baseline_median_ms) ms, ratio" \
    "$(figure "$1" ratio_plugin_over_baseline) (target at most 1.3)"
  for key in plugin_median_ms baseline_median_ms ratio_plugin_over_baseline; do
    echo "${2}_$key $(figure "$1" $key)"
  done
}
plugin=$(figure side-by-side plugin_median_ms)
baseline=$(figure side-by-side baseline_median_ms)
ratio=$(figure side-by-side ratio_plugin_over_baseline)
relayed=$(figure relay plugin_median_ms)
echo "exchange: plugin median $plugin ms, minimal GET median $baseline ms," \
  "ratio $ratio (target at most 1.2); through the hold-open relay $relayed ms"
echo "exchange: what each extra step of the plugin's client adds to a minimal GET (median, µs):" \
  $(sed -n 's/^cost_us \([a-z_]*\) \(-*[0-9]*\)$/\1 \2;/p' "$work/side-by-side.out")

secure_port=$(sed -n 's/^NIMBO_LOOPBACK_SECURE_PORT:[A-Z]*=//p' "$build/CMakeCache.txt")
if command -v openssl >/dev/null && [ -n "$secure_port" ]; then
  (
    cd "$work"
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -keyout ca.key -out ca.pem -days 2 \
      -subj "/CN=Nimbo bench CA" -addext basicConstraints=critical,CA:TRUE \
      -addext keyUsage=critical,keyCertSign
    openssl req -newkey rsa:2048 -nodes -sha256 -keyout site.key -out site.csr -subj /CN=127.0.0.1
    printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=DNS:127.0.0.1,IP:127.0.0.1\n' >site.ext
    openssl x509 -req -in site.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -sha256 \
      -extfile site.ext -out site.pem
  ) >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log" >&2; exit 1; }
  secure_service=$(start_listener secure 's/^listening 127\.0\.0\.1:\([0-9]*\)$/\1/p' \
    python3 "$root/tools/service/service_standin.py" --port 0 --cookie "$cookie" \
    --tls-cert "$work/site.pem" --tls-key "$work/site.key" --tls-port "$secure_port")
  secure_count=$((count < 100 ? count : 100))
  # A dotted address, as for the plain exchange: the name look-up is the same cost
  # with or without TLS and is not what is measured here.
  echo "$secure_count requests of https://127.0.0.1:$secure_port/profile.php each way, taking" \
    "turns: the plugin (Secure=1; the certificate checked, then its verdict remembered as in" \
    "use) and a minimal SChannel GET"
  ca="Z:$(echo "$work/ca.pem" | tr / '\\')"
  run_client secure "127.0.0.1:$secure_service/profile.php" "$secure_count" --secure \
    --trust-ca "$ca"
  tls_figures secure secure GET
  echo "$secure_count ListenBrainz playing-now requests to" \
    "https://127.0.0.1:$secure_port/1/submit-listens each way, taking turns: the plugin" \
    "(apiExchange) and a minimal SChannel POST of the same bytes"
  # The stand-in accepts its default token.
  run_client playing-now "https://127.0.0.1:$secure_port" "$secure_count" --playing-now \
    --token lb-test-token --trust-ca "$ca"
  tls_figures playing-now playing_now POST
  echo "$secure_count Last.fm scrobbles to https://127.0.0.1:$secure_port/2.0/ each way," \
    "taking turns: the plugin (lastFmRequest, signed each time, and apiExchange) and a" \
    "minimal SChannel POST of the same bytes"
  run_client scrobble "https://127.0.0.1:$secure_port" "$secure_count" --scrobble --trust-ca "$ca"
  tls_figures scrobble scrobble POST
fi

if awk -v m="$relayed" 'BEGIN { exit !(m >= 1000) }'; then
  echo "the plugin's median through the relay is a second or more: replies wait for a time-out" >&2
  exit 1
fi
