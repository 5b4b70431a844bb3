#!/usr/bin/env bash
# Pictures of the settings window (both sign-in modes), the security-code window, the
# options window, the main menu and the setup's folder page, saved as PNGs in
# docs/images/ (or the folder given with --out).
set -euo pipefail
cd "$(dirname "$0")/.."
export PYTHONPATH="$PWD/tools${PYTHONPATH:+:$PYTHONPATH}"  # the harness package
bash tools/bootstrap.sh
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw32.cmake"
cmake --build build/win32 --target gen_nimbo nimbo_player nimbo_setup
python3 tools/screenshots.py "$@"
