#!/usr/bin/env bash
# Quick start: prepares the machine (Debian 12, as root), builds the plugin and the
# player stand-in for Windows, and shows the plugin publishing what a player plays.
set -euo pipefail
cd "$(dirname "$0")/.."
export PYTHONPATH="$PWD/tools${PYTHONPATH:+:$PYTHONPATH}"  # the harness package
bash tools/bootstrap.sh
# An absolute toolchain path: the bundled libjpeg build is configured from its own
# folder, where a relative one would not be found.
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw32.cmake"
cmake --build build/win32 --target gen_nimbo nimbo_player
python3 tools/demo.py
