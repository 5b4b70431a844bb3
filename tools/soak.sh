#!/usr/bin/env bash
# A long soak run of the plugin in the stand-ins (see tools/soak.py):
#     bash tools/soak.sh --minutes N [--seed S]
# Builds what it needs, runs in a Wine session of its own, prints the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
export PYTHONPATH="$PWD/tools${PYTHONPATH:+:$PYTHONPATH}"  # the harness package
minutes=10
rest=()
while [ $# -gt 0 ]; do
  case "$1" in
    --minutes) minutes=$2; shift 2 ;;
    *) rest+=("$1"); shift ;;
  esac
done
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw32.cmake" >/dev/null
cmake --build build/win32 --target gen_nimbo nimbo_player
session=$(mktemp -u /tmp/nimbo-soak-session.XXXXXX)
trap 'tests/win32/wine-session.sh stop "$session"' EXIT
tests/win32/wine-session.sh start "$session" >/dev/null
NIMBO_WINE_SESSION_FILE=$session LC_ALL=en_US.UTF-8 \
NIMBO_PLAYER_EXE=$PWD/build/win32/tools/player/nimbo_player.exe \
NIMBO_PLUGIN_DLL=$PWD/build/win32/gen_nimbo.dll \
  python3 tools/soak.py --seconds "$(python3 -c "print(float($minutes) * 60)")" ${rest[@]+"${rest[@]}"}
