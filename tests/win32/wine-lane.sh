#!/usr/bin/env bash
# wine-lane.sh COMMAND...: runs a test in the Wine session ctest handed it. With the
# sessions' resource file (which the build names), ctest gives each test one whole session, so
# the tests in other sessions cannot see its "Winamp v1.x" window, its screen or its
# prefix's folders; session 0's file is NIMBO_WINE_SESSION_FILE, session N's has "-N"
# before ".path". Without the file every test runs in session 0, one at a time.
set -euo pipefail
group=${CTEST_RESOURCE_GROUP_0_WINE:-}
if [ -n "$group" ]; then
  id=${group#id:}
  id=${id%%,*}
  [ "$id" = 0 ] || export NIMBO_WINE_SESSION_FILE=${NIMBO_WINE_SESSION_FILE%.path}-$id.path
fi
exec "$@"
