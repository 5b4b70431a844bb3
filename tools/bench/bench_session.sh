# Sourced by the benchmark scripts (needs $root and $work): the Wine session of a run.
# bench_session_start uses the session NIMBO_WINE_SESSION_FILE names when it exists,
# else starts one whose path file lies in $work, and exports its path file;
# bench_session_stop ends only a session that bench_session_start started.
bench_session_start() {
  session=${NIMBO_WINE_SESSION_FILE:-}
  own_session=0
  if [ -z "$session" ] || [ ! -f "$session" ]; then
    session=$work/wine-session.path
    own_session=1
    echo "starting a Wine session..."
    "$root/tests/win32/wine-session.sh" start "$session" >/dev/null
  fi
  export NIMBO_WINE_SESSION_FILE=$session
}

bench_session_stop() {
  if [ "${own_session:-0}" = 1 ]; then
    "$root/tests/win32/wine-session.sh" stop "$session" || true
  fi
}
