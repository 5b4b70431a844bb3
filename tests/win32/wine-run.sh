#!/usr/bin/env bash
# Runs a Win32 program under Wine inside the session that wine-session.sh started.
# With no session file it makes a private session for this one run.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
file=${NIMBO_WINE_SESSION_FILE:-}
own=0
if [ -z "$file" ] || [ ! -f "$file" ]; then
  file=$(mktemp -u /tmp/nimbo-wine-run.XXXXXX)
  "$here/wine-session.sh" start "$file" >/dev/null || exit 1
  own=1
fi
dir=$(cat "$file")
export WINEPREFIX="$dir/prefix" WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=$(cat "$dir/display")
wine "$@"
rc=$?
[ "$own" = 1 ] && "$here/wine-session.sh" stop "$file"
exit $rc
