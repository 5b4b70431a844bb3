#!/usr/bin/env bash
# wine-session.sh start|stop FILE...
# start: a fresh WINEPREFIX in a temp folder and an Xvfb display; FILE records the
# folder so wine-run.sh finds them. stop: ends both and removes the folder.
# Several files: one session each, started or stopped side by side.
set -euo pipefail
cmd=$1
if [ $# -gt 2 ]; then
  pids=()
  for f in "${@:2}"; do "$0" "$cmd" "$f" & pids+=($!); done
  status=0
  for p in "${pids[@]}"; do wait "$p" || status=1; done
  exit $status
fi
file=$2

case "$cmd" in
start)
  [ -f "$file" ] && "$0" stop "$file" || true
  dir=$(mktemp -d /tmp/nimbo-wine.XXXXXX)
  for n in $(seq 90 140); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
    pid=$!
    echo $pid >"$dir/xvfb.pid"
    # The display is ours once its lock names our server: a session starting beside
    # this one may have taken the same number first, and then ours has ended.
    for _ in $(seq 50); do
      lock=$(tr -d ' \n' 2>/dev/null </tmp/.X$n-lock || true)
      [ -e /tmp/.X11-unix/X$n ] && [ "$lock" = "$pid" ] && break
      kill -0 $pid 2>/dev/null || break
      sleep 0.1
    done
    if [ -e /tmp/.X11-unix/X$n ] && [ "$lock" = "$pid" ]; then echo ":$n" >"$dir/display"; break; fi
    kill $pid 2>/dev/null || true
  done
  [ -f "$dir/display" ] || { echo "no free X display" >&2; exit 1; }
  echo "$dir" >"$file"
  export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=$(cat "$dir/display")
  export WINEARCH=win32
  wineboot -i >"$dir/wineboot.log" 2>&1
  wineserver -w
  echo "wine session in $dir on display $DISPLAY"
  ;;
stop)
  [ -f "$file" ] || exit 0
  dir=$(cat "$file")
  if [ -d "$dir" ]; then
    WINEPREFIX="$dir/prefix" wineserver -k 2>/dev/null || true
    [ -f "$dir/xvfb.pid" ] && kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -rf "$dir"
  fi
  rm -f "$file"
  ;;
*) echo "usage: $0 start|stop FILE" >&2; exit 2 ;;
esac
